#pragma once
// Marvin32, the keyed hash that protects the entries of Windows transaction logs.

#include <cstdint>

#include "utils/byte_view.hpp"

namespace orvane::transaction_log {

// The seed Windows uses for log entries, as a 64-bit integer: the initial state
// is s0 = its low half (0x7A4E55C5), s1 = its high half (0x82EF4D88).
inline constexpr std::uint64_t registry_marvin32_seed = 0x82EF4D887A4E55C5;

// The 64-bit Marvin32 value of `data`: (s1 << 32) | s0 of the final state.
// Stored little-endian, so a log holds s0 in its first four bytes.
std::uint64_t marvin32(utils::Bytes data, std::uint64_t seed = registry_marvin32_seed) noexcept;

}  // namespace orvane::transaction_log
