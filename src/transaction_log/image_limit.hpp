#pragma once
// The one limit on the length of an in-memory hive image that every kind of
// log obeys while it is replayed.

#include <cstdint>

namespace orvane::transaction_log {

// No log, of either kind, may make an image longer than this.
inline constexpr std::uint64_t largest_image = 0x20000000;

}  // namespace orvane::transaction_log
