#pragma once
// The one gate through which the core reads the bytes of a hive or a log.
//
// A ByteView reads little-endian numbers, sub-ranges and signatures, each
// bounds-checked and failing with the exact TruncatedData error. A
// FixedView<N>, obtained from ByteView::fixed<N>(), is a prefix proven to hold
// N bytes: it reads fields at compile-time offsets, and a static_assert refuses
// a field that would end past N, so a record decoder checks its length once and
// cannot read past it by construction. The raw loads in `detail` are used only
// here (and by the few layout-level helpers that document why they are safe).

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "error/registry_error.hpp"

namespace orvane::utils {

using Bytes = std::span<const std::uint8_t>;

// True when [offset, offset + length) lies inside a range of `size` bytes,
// without overflowing.
constexpr bool fits(std::uint64_t size, std::uint64_t offset, std::uint64_t length) noexcept {
    return length <= size && offset <= size - length;
}

namespace detail {

// Unchecked little-endian loads through memcpy (never by casting a pointer into
// the image). Only the views below call them, after testing the length.
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

}  // namespace detail

// Writes `v` little-endian into the four bytes at `p`.
inline void store_u32(std::uint8_t* p, std::uint32_t v) noexcept {
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    std::memcpy(p, &v, sizeof v);
}

template <std::size_t N>
class FixedView;

class ByteView {
public:
    constexpr ByteView() noexcept = default;
    // `origin` is the offset errors name: the cell offset of a record, or the
    // position of the view in the range it came from.
    constexpr explicit ByteView(Bytes bytes, std::uint32_t origin = 0) noexcept : bytes_(bytes), origin_(origin) {}

    constexpr Bytes bytes() const noexcept { return bytes_; }
    constexpr std::size_t size() const noexcept { return bytes_.size(); }
    constexpr bool empty() const noexcept { return bytes_.empty(); }
    constexpr std::uint32_t origin() const noexcept { return origin_; }

    // Whether `length` bytes lie at `at`.
    constexpr bool has(std::uint64_t at, std::uint64_t length) const noexcept { return fits(size(), at, length); }

    // The number at `at`, or TruncatedData(origin + at, width, bytes left there).
    [[nodiscard]] Result<std::uint16_t> u16(std::uint64_t at) const noexcept {
        if (!has(at, 2)) return truncated_at(at, 2);
        return detail::load_u16(bytes_.data() + at);
    }
    [[nodiscard]] Result<std::uint32_t> u32(std::uint64_t at) const noexcept {
        if (!has(at, 4)) return truncated_at(at, 4);
        return detail::load_u32(bytes_.data() + at);
    }
    [[nodiscard]] Result<std::uint64_t> u64(std::uint64_t at) const noexcept {
        if (!has(at, 8)) return truncated_at(at, 8);
        return detail::load_u64(bytes_.data() + at);
    }

    // Nothing, or TruncatedData(origin, length, size) when the view holds fewer
    // than `length` bytes.
    [[nodiscard]] Result<void> require(std::uint64_t length) const noexcept {
        if (size() < length) return error::fail(error::TruncatedData{origin_, length, size()});
        return {};
    }

    // The `length` bytes at `at` (errors still name this view's origin), or
    // TruncatedData(origin, at + length, size).
    [[nodiscard]] Result<ByteView> slice(std::uint64_t at, std::uint64_t length) const noexcept {
        if (!has(at, length)) return error::fail(error::TruncatedData{origin_, at + length, size()});
        return ByteView(bytes_.subspan(static_cast<std::size_t>(at), static_cast<std::size_t>(length)), origin_);
    }

    // The bytes from `at` to the end; empty when `at` is at or past the end.
    ByteView rest(std::uint64_t at) const noexcept {
        return ByteView(bytes_.subspan(static_cast<std::size_t>(std::min<std::uint64_t>(at, size()))), origin_);
    }

    // At most the first `length` bytes.
    ByteView first(std::uint64_t length) const noexcept {
        return length >= size() ? *this : ByteView(bytes_.first(static_cast<std::size_t>(length)), origin_);
    }

    // The first N bytes, proven present, or TruncatedData(origin, N, size).
    template <std::size_t N>
    [[nodiscard]] Result<FixedView<N>> fixed() const noexcept;

    // The N bytes at `at`, proven present, or TruncatedData(origin, at + N, size).
    template <std::size_t N>
    [[nodiscard]] Result<FixedView<N>> fixed_at(std::uint64_t at) const noexcept;

    // Whether the bytes at `at` spell `signature` (false when they do not fit).
    bool has_signature(std::uint64_t at, std::string_view signature) const noexcept {
        if (!has(at, signature.size())) return false;
        const std::uint8_t* found = bytes_.data() + at;
        const auto* wanted = reinterpret_cast<const std::uint8_t*>(signature.data());
        // The format's signatures are two or four letters: one word compared
        // is a load and a compare, where memcmp may stay a call (fuzzing
        // builds keep every memcmp a call, to record it).
        switch (signature.size()) {
            case 2: return detail::load_u16(found) == detail::load_u16(wanted);
            case 4: return detail::load_u32(found) == detail::load_u32(wanted);
            default: return std::memcmp(found, wanted, signature.size()) == 0;
        }
    }

    // Nothing, or InvalidSignature(signature, the bytes found there).
    [[nodiscard]] Result<void> expect_signature(std::uint64_t at, std::string_view signature) const {
        if (has_signature(at, signature)) return {};
        const ByteView found = rest(at).first(signature.size());
        return error::fail(error::invalid_signature(
            signature, std::string_view(reinterpret_cast<const char*>(found.bytes_.data()), found.size())));
    }

private:
    error::Unexpected<RegistryError> truncated_at(std::uint64_t at, std::uint64_t width) const noexcept {
        const std::uint64_t left = at < size() ? size() - at : 0;
        return error::fail(error::TruncatedData{static_cast<std::uint32_t>(origin_ + at), width, left});
    }

    Bytes bytes_;
    std::uint32_t origin_ = 0;
};

// A view known to hold at least N bytes. Fields are read at compile-time
// offsets; one that would end past N does not compile.
template <std::size_t N>
class FixedView {
public:
    template <std::size_t At>
    std::uint16_t u16() const noexcept {
        static_assert(At + 2 <= N, "field ends past the fixed part of the record");
        return detail::load_u16(view_.bytes().data() + At);
    }
    template <std::size_t At>
    std::uint32_t u32() const noexcept {
        static_assert(At + 4 <= N, "field ends past the fixed part of the record");
        return detail::load_u32(view_.bytes().data() + At);
    }
    template <std::size_t At>
    std::uint64_t u64() const noexcept {
        static_assert(At + 8 <= N, "field ends past the fixed part of the record");
        return detail::load_u64(view_.bytes().data() + At);
    }
    template <std::size_t At, std::size_t Length>
    std::span<const std::uint8_t, Length> field() const noexcept {
        static_assert(At + Length <= N, "field ends past the fixed part of the record");
        return view_.bytes().subspan(At).template first<Length>();
    }
    template <std::size_t At, std::size_t Length>
    std::array<std::uint8_t, Length> copy() const noexcept {
        std::array<std::uint8_t, Length> out;
        const auto bytes = field<At, Length>();
        std::memcpy(out.data(), bytes.data(), Length);
        return out;
    }

    // The whole view, which may run on past N.
    const ByteView& view() const noexcept { return view_; }

private:
    friend class ByteView;
    explicit FixedView(ByteView view) noexcept : view_(view) {}

    ByteView view_;
};

template <std::size_t N>
Result<FixedView<N>> ByteView::fixed() const noexcept {
    if (size() < N) return error::fail(error::TruncatedData{origin_, N, size()});
    return FixedView<N>(*this);
}

template <std::size_t N>
Result<FixedView<N>> ByteView::fixed_at(std::uint64_t at) const noexcept {
    if (!has(at, N)) return error::fail(error::TruncatedData{origin_, at + N, size()});
    return FixedView<N>(rest(at));
}

}  // namespace orvane::utils
