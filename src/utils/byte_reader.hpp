#pragma once
// Little-endian loads and the one overflow-safe bounds test every parser uses.
//
// The load_* helpers read through memcpy (never by casting a pointer into the
// image) and do not check bounds: callers test the length first, with
// fits() or read_u32().

#include <bit>
#include <cstdint>
#include <cstring>
#include <span>

#include "error/registry_error.hpp"

namespace orvane::utils {

using Bytes = std::span<const std::uint8_t>;

// True when [offset, offset + length) lies inside a range of `size` bytes,
// without overflowing.
constexpr bool fits(std::uint64_t size, std::uint64_t offset, std::uint64_t length) noexcept {
    return length <= size && offset <= size - length;
}

inline std::uint16_t load_u16(const std::uint8_t* p) noexcept {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t load_u32(const std::uint8_t* p) noexcept {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    return v;
}
inline std::uint64_t load_u64(const std::uint8_t* p) noexcept {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}
inline std::int32_t load_i32(const std::uint8_t* p) noexcept {
    return static_cast<std::int32_t>(load_u32(p));
}
inline void store_u32(std::uint8_t* p, std::uint32_t v) noexcept {
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    std::memcpy(p, &v, sizeof v);
}

// The u32 at `position`, or TruncatedData(position, 4, bytes left) when fewer
// than four bytes remain there.
[[nodiscard]] Result<std::uint32_t> read_u32(Bytes bytes, std::size_t position);

}  // namespace orvane::utils
