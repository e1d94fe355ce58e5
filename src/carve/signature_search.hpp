#pragma once
// Finding one byte value in an image far faster than testing byte by byte.
//
// The search runs memchr over the part of the span from `from` on, both ends
// taken from the span itself, so it never looks outside the bytes it is given.

#include <cstdint>
#include <cstring>

#include "utils/byte_view.hpp"

namespace orvane::carve {

// The first position at or after `from` holding `value`, or bytes.size().
inline std::uint64_t find_byte(utils::Bytes bytes, std::uint64_t from, std::uint8_t value) noexcept {
    if (from >= bytes.size()) return bytes.size();
    const utils::Bytes rest = bytes.subspan(static_cast<std::size_t>(from));
    const void* found = std::memchr(rest.data(), value, rest.size());
    if (found == nullptr) return bytes.size();
    return from + static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(found) - rest.data());
}

// The next position at or after `from` where `bytes` hold the four-letter
// `signature`, or bytes.size().
inline std::uint64_t find_signature(utils::Bytes bytes, std::uint64_t from, std::string_view signature) noexcept {
    const utils::ByteView view(bytes);
    const auto first = static_cast<std::uint8_t>(signature[0]);
    for (std::uint64_t at = find_byte(bytes, from, first); at < bytes.size(); at = find_byte(bytes, at + 1, first)) {
        if (view.has_signature(at, signature)) return at;
    }
    return bytes.size();
}

}  // namespace orvane::carve
