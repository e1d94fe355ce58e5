#include "utils/file.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvane::utils {

RegistryError nul_in_path() { return error::io_error_text("file name contained an unexpected NUL byte"); }

void FileDescriptor::reset() noexcept {
    if (fd_ >= 0) {
        ::close(fd_);  // the descriptor is gone whatever close reports
        fd_ = -1;
    }
}

Result<FileDescriptor> open_read_only(const std::string& path) {
    if (path.find('\0') != std::string::npos) return error::unexpected(nul_in_path());
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return error::unexpected(error::io_error_from_errno(errno));
    return FileDescriptor(fd);
}

Result<std::uint64_t> file_length(const FileDescriptor& fd) {
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return error::unexpected(error::io_error_from_errno(errno));
    // open(2) takes a directory read-only; it would only fail later, as a
    // mapping with "No such device".
    if (S_ISDIR(st.st_mode)) return error::unexpected(error::io_error_from_errno(EISDIR));
    return static_cast<std::uint64_t>(st.st_size);
}

Result<ImageBytes> read_whole_file(const std::string& path, std::uint64_t limit) {
    ORVANE_ASSIGN_OR_RETURN(FileDescriptor fd, open_read_only(path));
    ORVANE_ASSIGN_OR_RETURN(const std::uint64_t expected, file_length(fd));
    if (expected > limit) return error::unexpected(error::io_error_from_errno(EFBIG));

    // The length is a hint only: the file may change while it is read, and
    // devices and pipes report none.
    ImageBytes content;
    content.resize(static_cast<std::size_t>(expected) + 1);
    std::size_t filled = 0;
    for (;;) {
        if (filled == content.size()) {
            if (filled > limit) return error::unexpected(error::io_error_from_errno(EFBIG));
            content.resize(static_cast<std::size_t>(std::min<std::uint64_t>(content.size() * 2 + 4096, limit + 1)));
        }
        const ssize_t n = ::read(fd.get(), content.data() + filled, content.size() - filled);
        if (n < 0) {
            if (errno == EINTR) continue;
            return error::unexpected(error::io_error_from_errno(errno));
        }
        if (n == 0) break;
        filled += static_cast<std::size_t>(n);
    }
    // Only bytes read(2) never wrote are dropped, so those past the end stay
    // zero, as growing the image later relies on.
    content.resize(filled);
    return content;
}

}  // namespace orvane::utils
