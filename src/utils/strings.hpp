#pragma once
// The string readers. Each returns a new, owned UTF-8 string.

#include <cstdint>
#include <span>
#include <string>

#include "error/registry_error.hpp"
#include "utils/byte_view.hpp"

namespace orvane::utils {

// Latin-1 reading of a fixed 64-byte field: NUL becomes a space, and white
// space (0x00, 0x09-0x0D, 0x20, 0x85, 0xA0) is trimmed at both ends only.
std::string read_fixed_ascii(std::span<const std::uint8_t, 64> bytes);

// UTF-8 with each ill-formed subsequence replaced by U+FFFD; trailing NULs removed.
std::string read_ascii_string(Bytes bytes);

// Strict UTF-16 (LE unless a byte-order mark says otherwise; EF BB BF switches
// to strict UTF-8); trailing NULs removed. Any malformed input, or an odd byte
// count, fails with InvalidUtf16(offset); `offset` is used for nothing else.
[[nodiscard]] Result<std::string> read_utf16_string(Bytes bytes, std::uint32_t offset);

}  // namespace orvane::utils
