#pragma once
// The signatures both kinds of transaction log use: "HvLE" starts an
// incremental log and each entry of a Windows log, "DIRT" a dirty block of an
// incremental log and the bitmap of an old-format Windows log.

#include <string_view>

namespace orvane::transaction_log {

inline constexpr std::string_view hvle_signature = "HvLE";
inline constexpr std::string_view dirt_signature = "DIRT";

}  // namespace orvane::transaction_log
