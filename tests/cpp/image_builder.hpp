#pragma once
// Test-side writer of hive images, byte by byte.
//
// A default ImageBuilder is a valid, empty hive: a base block ("regf", version
// 1.5, sequence 1/1, root cell offset 0x20) and no bins. Tests add bins and
// cells, then break exactly one thing (a field, a size word, the checksum) to
// get each damaged case. Values written here do not have to be valid.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "hive/base_block.hpp"
#include "hive/hive.hpp"

namespace orvane::testing {

using ByteVector = std::vector<std::uint8_t>;

inline void put_u16(ByteVector& b, std::size_t at, std::uint16_t v) {
    if (b.size() < at + 2) b.resize(at + 2);
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put_u32(ByteVector& b, std::size_t at, std::uint32_t v) {
    if (b.size() < at + 4) b.resize(at + 4);
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void put_u64(ByteVector& b, std::size_t at, std::uint64_t v) {
    if (b.size() < at + 8) b.resize(at + 8);
    for (int i = 0; i < 8; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void put_bytes(ByteVector& b, std::size_t at, const ByteVector& bytes) {
    if (b.size() < at + bytes.size()) b.resize(at + bytes.size());
    std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
}
inline ByteVector ascii(std::string_view text) { return ByteVector(text.begin(), text.end()); }
inline ByteVector utf16le(std::u16string_view text) {
    ByteVector out;
    for (char16_t c : text) {
        out.push_back(static_cast<std::uint8_t>(c));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return out;
}

class ImageBuilder {
public:
    static constexpr std::size_t base = 4096;

    ImageBuilder() : image_(base, 0) {
        put_bytes(image_, 0, ascii("regf"));
        put_u32(image_, 4, 1);
        put_u32(image_, 8, 1);
        put_u32(image_, 20, 1);
        put_u32(image_, 24, 5);
        put_u32(image_, 32, 1);
        put_u32(image_, 36, 0x20);
        put_u32(image_, 44, 1);
        put_bytes(image_, 48, utf16le(u"SYSTEM"));
    }

    // Base block fields (absolute offsets).
    ImageBuilder& u32_at(std::size_t at, std::uint32_t v) { return put_u32(image_, at, v), *this; }
    ImageBuilder& u64_at(std::size_t at, std::uint64_t v) { return put_u64(image_, at, v), *this; }
    ImageBuilder& bytes_at(std::size_t at, const ByteVector& v) { return put_bytes(image_, at, v), *this; }
    ImageBuilder& version(std::uint32_t major, std::uint32_t minor) { return u32_at(20, major).u32_at(24, minor); }
    ImageBuilder& root(std::uint32_t offset) { return u32_at(36, offset); }

    // Appends a bin of `size` bytes (header included) at the end of the image
    // and returns its offset in the hive bins data. The data size field follows.
    std::uint32_t add_hbin(std::uint32_t size = 4096) {
        const auto offset = static_cast<std::uint32_t>(image_.size() - base);
        image_.resize(image_.size() + size, 0);
        put_bytes(image_, base + offset, ascii("hbin"));
        put_u32(image_, base + offset + 4, offset);
        put_u32(image_, base + offset + 8, size);
        put_u32(image_, 40, static_cast<std::uint32_t>(image_.size() - base));
        next_cell_ = offset + 32;
        bin_end_ = offset + size;
        return offset;
    }

    // Places a cell holding `payload` in the last bin (a new 4096-byte-multiple
    // bin when it does not fit), with an allocated size word rounded up to 8
    // unless `size_word` is given. Returns the cell offset.
    std::uint32_t add_cell(const ByteVector& payload, std::optional<std::int32_t> size_word = std::nullopt) {
        const std::uint32_t total = static_cast<std::uint32_t>((payload.size() + 4 + 7) & ~std::size_t{7});
        if (bin_end_ == 0 || next_cell_ + total > bin_end_) {
            add_hbin(static_cast<std::uint32_t>(((total + 32 + 4095) / 4096) * 4096));
        }
        const std::uint32_t offset = next_cell_;
        put_u32(image_, base + offset, static_cast<std::uint32_t>(size_word.value_or(-static_cast<std::int32_t>(total))));
        put_bytes(image_, base + offset + 4, payload);
        next_cell_ += total;
        return offset;
    }

    // The image with its checksum fixed (unless `fix_checksum` is false).
    ByteVector build(bool fix_checksum = true) const {
        ByteVector out = image_;
        if (fix_checksum) hive::store_base_block_checksum(out);
        return out;
    }

    ByteVector& raw() { return image_; }

private:
    ByteVector image_;
    std::uint32_t next_cell_ = 0;
    std::uint32_t bin_end_ = 0;
};

inline Result<std::shared_ptr<const hive::Hive>> load(const ByteVector& image) {
    return hive::Hive::from_data(hive::HiveData::copy_of(image));
}

// Runs `work` on an owned image made from `image` (as recovery and replay
// take them) and copies the outcome back, so tests keep plain vectors.
template <class Work>
auto on_owned_image(ByteVector& image, Work&& work) {
    utils::ImageBytes owned(image.begin(), image.end());
    auto result = work(owned);
    image.assign(owned.begin(), owned.end());
    return result;
}

}  // namespace orvane::testing
