#pragma once
// The image of a whole hive file: either a read-only shared mapping of the
// file, or an owned buffer (after log replay). Both present one contiguous,
// read-only byte range; no reader depends on which form it is.

#include <cstdint>
#include <memory>
#include <variant>
#include <vector>

#include "error/registry_error.hpp"
#include "utils/byte_view.hpp"
#include "utils/file.hpp"
#include "utils/image_bytes.hpp"

namespace orvane::hive {

// A read-only, shared mapping of a whole file, unmapped exactly once.
class FileMapping {
public:
    // Maps `length` bytes of `fd` from offset 0. `length` must be > 0.
    [[nodiscard]] static Result<FileMapping> map(const utils::FileDescriptor& fd, std::uint64_t length);

    FileMapping(FileMapping&& other) noexcept;
    FileMapping& operator=(FileMapping&& other) noexcept;
    FileMapping(const FileMapping&) = delete;
    FileMapping& operator=(const FileMapping&) = delete;
    ~FileMapping();

    utils::Bytes bytes() const noexcept { return {static_cast<const std::uint8_t*>(address_), length_}; }

private:
    FileMapping(void* address, std::size_t length) noexcept : address_(address), length_(length) {}
    void release() noexcept;

    void* address_ = nullptr;
    std::size_t length_ = 0;
};

class HiveData {
public:
    using Buffer = std::shared_ptr<const utils::ImageBytes>;

    explicit HiveData(FileMapping mapping) noexcept : storage_(std::move(mapping)) {}
    explicit HiveData(Buffer buffer) noexcept : storage_(std::move(buffer)) {}
    static HiveData from_bytes(utils::ImageBytes bytes) {
        return HiveData(std::make_shared<const utils::ImageBytes>(std::move(bytes)));
    }
    // A copy of `bytes`, for images built elsewhere (tests, fuzzers).
    static HiveData copy_of(utils::Bytes bytes) { return from_bytes(utils::copy_image(bytes)); }

    HiveData(HiveData&&) noexcept = default;
    HiveData& operator=(HiveData&&) noexcept = default;

    utils::Bytes bytes() const noexcept {
        if (const auto* mapping = std::get_if<FileMapping>(&storage_)) return mapping->bytes();
        const auto& buffer = *std::get_if<Buffer>(&storage_);
        return {buffer->data(), buffer->size()};
    }

private:
    std::variant<FileMapping, Buffer> storage_;
};

}  // namespace orvane::hive
