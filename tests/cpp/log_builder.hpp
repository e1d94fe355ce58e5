#pragma once
// Test-side writer of "HvLE" transaction logs.
//
// A LogBuilder starts as a 4096-byte header ("HvLE" and a sequence number).
// block() starts a "DIRT" block at the next 4096-byte position; page() and
// record() append records to it, packed back to back and free to run past the
// block's 4096 bytes. A block's record count is the number of records added
// unless given. build() pads the file to a whole number of blocks. Nothing
// written here has to be valid.

#include <cstdint>
#include <optional>
#include <vector>

#include "image_builder.hpp"

namespace orvane::testing {

class LogBuilder {
public:
    static constexpr std::size_t block_size = 4096;

    explicit LogBuilder(std::uint32_t sequence = 1) : bytes_(block_size, 0) {
        put_bytes(bytes_, 0, ascii("HvLE"));
        put_u32(bytes_, 4, sequence);
    }

    // Starts a "DIRT" block at the next block position and returns it.
    std::size_t block(std::optional<std::uint32_t> count = std::nullopt) {
        finish_block();
        pad_to_block();
        const std::size_t at = bytes_.size();
        put_bytes(bytes_, at, ascii("DIRT"));
        put_u32(bytes_, at + 8, 0);
        put_u32(bytes_, at + 12, 0);
        block_ = at;
        count_ = count;
        records_ = 0;
        return at;
    }

    // A record whose size field matches its bytes.
    LogBuilder& page(std::uint32_t offset, const ByteVector& data) {
        return record(offset, static_cast<std::uint32_t>(data.size()), data);
    }
    LogBuilder& page(std::uint32_t offset, std::size_t size, std::uint8_t fill) {
        return page(offset, ByteVector(size, fill));
    }
    // A record with any size field, followed by `data` (which need not match).
    LogBuilder& record(std::uint32_t offset, std::uint32_t size, const ByteVector& data = {}) {
        const std::size_t at = bytes_.size();
        put_u32(bytes_, at, offset);
        put_u32(bytes_, at + 4, size);
        put_bytes(bytes_, at + 8, data);
        ++records_;
        return *this;
    }
    // Raw bytes at the end of the file (e.g. a non-"DIRT" block).
    LogBuilder& append(const ByteVector& data) {
        put_bytes(bytes_, bytes_.size(), data);
        return *this;
    }
    LogBuilder& pad_to_block() {
        bytes_.resize((bytes_.size() + block_size - 1) / block_size * block_size, 0);
        return *this;
    }

    // The file, padded to whole blocks unless `pad` is false.
    ByteVector build(bool pad = true) {
        finish_block();
        if (pad) pad_to_block();
        return bytes_;
    }

private:
    void finish_block() {
        if (block_) put_u32(bytes_, *block_ + 8, count_.value_or(records_));
    }

    ByteVector bytes_;
    std::optional<std::size_t> block_;
    std::optional<std::uint32_t> count_;
    std::uint32_t records_ = 0;
};

}  // namespace orvane::testing
