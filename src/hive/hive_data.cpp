#include "hive/hive_data.hpp"

#include <cerrno>
#include <cstdint>
#include <sys/mman.h>
#include <utility>

namespace orvane::hive {

Result<FileMapping> FileMapping::map(const utils::FileDescriptor& fd, std::uint64_t length) {
    if (length > static_cast<std::uint64_t>(PTRDIFF_MAX)) {
        return error::unexpected(error::io_error_text("memory map length overflows isize"));
    }
    void* address = ::mmap(nullptr, static_cast<std::size_t>(length), PROT_READ, MAP_SHARED, fd.get(), 0);
    if (address == MAP_FAILED) return error::unexpected(error::io_error_from_errno(errno));
    return FileMapping(address, static_cast<std::size_t>(length));
}

FileMapping::FileMapping(FileMapping&& other) noexcept
    : address_(std::exchange(other.address_, nullptr)), length_(std::exchange(other.length_, 0)) {}

FileMapping& FileMapping::operator=(FileMapping&& other) noexcept {
    if (this != &other) {
        release();
        address_ = std::exchange(other.address_, nullptr);
        length_ = std::exchange(other.length_, 0);
    }
    return *this;
}

FileMapping::~FileMapping() { release(); }

void FileMapping::release() noexcept {
    if (address_ != nullptr) {
        ::munmap(address_, length_);
        address_ = nullptr;
        length_ = 0;
    }
}

}  // namespace orvane::hive
