#pragma once
// Owning POSIX file descriptor and whole-file reading.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "error/registry_error.hpp"
#include "utils/image_bytes.hpp"

namespace orvane::utils {

class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { reset(); }

    int get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }
    void reset() noexcept;

private:
    int fd_ = -1;
};

// The error for a path with an embedded NUL, which no system call can take.
RegistryError nul_in_path();

// Opens `path` read-only (no creation). Io with the OS error on failure.
[[nodiscard]] Result<FileDescriptor> open_read_only(const std::string& path);

// The file's length. Io with the OS error on failure.
[[nodiscard]] Result<std::uint64_t> file_length(const FileDescriptor& fd);

// Larger hive files cannot be addressed by cell offsets, so nothing larger is
// ever read into memory.
inline constexpr std::uint64_t largest_readable_file = 0x100001000;  // 4 GiB + the base block

// Reads the whole file into memory (read retried on EINTR). Io on failure, and
// Io "File too large (os error 27)" past `limit` bytes, so that a device or
// pipe that never ends (/dev/zero) cannot take all memory.
[[nodiscard]] Result<ImageBytes> read_whole_file(const std::string& path,
                                         std::uint64_t limit = largest_readable_file);

}  // namespace orvane::utils
