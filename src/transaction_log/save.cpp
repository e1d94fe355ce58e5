#include "transaction_log/save.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "hive/base_block.hpp"
#include "hive/layout.hpp"
#include "utils/file.hpp"

namespace orvane::transaction_log {

namespace {

using error::io_error_from_errno;
using error::unexpected;

// The kernel gives up on a path walk after as many links.
constexpr int max_link_hops = 40;
// Attempts at a free temporary name before giving up.
constexpr int max_name_attempts = 100;

struct Target {
    std::string path;      // the name to replace or create; not a symbolic link
    bool special = false;  // exists and is neither a regular file nor a directory
    // An existing regular file's permission bits, owner and group, which the
    // file replacing it keeps.
    std::optional<struct stat> existing;
};

// Everything up to and including the last '/', or nothing.
std::string directory_part(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

Result<std::string> read_link(const std::string& path) {
    std::vector<char> buffer(PATH_MAX);
    const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (n < 0) return unexpected(io_error_from_errno(errno));
    if (static_cast<std::size_t>(n) == buffer.size()) return unexpected(io_error_from_errno(ENAMETOOLONG));
    return std::string(buffer.data(), static_cast<std::size_t>(n));
}

// Follows the symbolic links at the end of `path`, so that the rename replaces
// the file they point to rather than the link itself.
Result<Target> resolve_target(std::string path) {
    for (int hop = 0; hop <= max_link_hops; ++hop) {
        struct stat st {};
        // A name that cannot be looked at is taken as the one to create; if
        // something is wrong with it, creating the file beside it says what.
        if (::lstat(path.c_str(), &st) != 0) return Target{std::move(path), false, std::nullopt};
        if (!S_ISLNK(st.st_mode)) {
            const bool special = !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
            return Target{std::move(path), special, S_ISREG(st.st_mode) ? std::optional(st) : std::nullopt};
        }
        ORVANE_ASSIGN_OR_RETURN(std::string link, read_link(path));
        path = (!link.empty() && link.front() == '/' ? std::string() : directory_part(path)) + link;
    }
    return unexpected(io_error_from_errno(ELOOP));
}

Result<void> write_all(int fd, utils::Bytes bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return unexpected(io_error_from_errno(errno));
        }
        if (n == 0) return unexpected(error::io_error_text("failed to write whole buffer"));
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return {};
}

// The saved bytes: the recomputed base block, then the rest of the image as is.
struct Contents {
    std::array<std::uint8_t, hive::layout::base_block_size> base_block;
    utils::Bytes rest;
};

// A descriptor open for writing, closed on every path. close() reports what
// close(2) reports: on some file systems a failed write shows up only there.
class OutputFile {
public:
    // Opens `path` for writing with `flags` (O_WRONLY and O_CLOEXEC added).
    [[nodiscard]] static Result<OutputFile> open(const std::string& path, int flags, mode_t mode = 0) {
        int fd;
        do {
            fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | flags, mode);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) return unexpected(io_error_from_errno(errno));
        return OutputFile(fd);
    }

    OutputFile(OutputFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    OutputFile& operator=(OutputFile&&) = delete;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile() {
        if (fd_ >= 0) ::close(fd_);
    }

    // Gives the file the owner, group and permission bits of `existing`. The
    // owner and group are set where the process may (an ordinary user can
    // seldom give a file away); the permission bits always, after the owner,
    // since a change of owner clears the set-user-ID bit.
    [[nodiscard]] Result<void> take_attributes_of(const struct stat& existing) const {
        if (::fchown(fd_, existing.st_uid, existing.st_gid) != 0 && errno != EPERM) {
            return unexpected(io_error_from_errno(errno));
        }
        if (::fchmod(fd_, existing.st_mode & 07777) != 0) return unexpected(io_error_from_errno(errno));
        return {};
    }

    [[nodiscard]] Result<void> write(const Contents& contents) const {
        ORVANE_TRY(write_all(fd_, contents.base_block));
        return write_all(fd_, contents.rest);
    }

    // EINTR is not a failure: Linux has released the descriptor by then and the
    // data are in the page cache.
    [[nodiscard]] Result<void> close() {
        if (::close(std::exchange(fd_, -1)) != 0 && errno != EINTR) return unexpected(io_error_from_errno(errno));
        return {};
    }

private:
    explicit OutputFile(int fd) noexcept : fd_(fd) {}

    int fd_;
};

// A new file for the contents beside the target, removed again unless it was
// renamed over the target.
class TemporaryFile {
public:
    // Created with `mode` (filtered by the umask).
    [[nodiscard]] static Result<TemporaryFile> create_beside(const std::string& target, mode_t mode) {
        const std::string directory = directory_part(target);
        for (int attempt = 0; attempt < max_name_attempts; ++attempt) {
            std::string path = directory + unique_name();
            auto file = OutputFile::open(path, O_CREAT | O_EXCL, mode);
            if (file) return TemporaryFile(std::move(*file), std::move(path));
            const auto* io = file.error().get_if<error::Io>();
            if (io == nullptr || io->os_error != EEXIST) return unexpected(std::move(file).error());
        }
        return unexpected(io_error_from_errno(EEXIST));
    }

    TemporaryFile(TemporaryFile&& other) noexcept
        : file_(std::move(other.file_)), path_(std::exchange(other.path_, {})) {}
    TemporaryFile& operator=(TemporaryFile&&) = delete;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }

    OutputFile& file() noexcept { return file_; }

    // Puts the file in place of `target` in one step; it is then no longer
    // this object's to remove.
    [[nodiscard]] Result<void> rename_over(const std::string& target) {
        if (::rename(path_.c_str(), target.c_str()) != 0) return unexpected(io_error_from_errno(errno));
        path_.clear();
        return {};
    }

private:
    TemporaryFile(OutputFile file, std::string path) noexcept : file_(std::move(file)), path_(std::move(path)) {}

    // Hidden, and distinct across processes and calls; O_EXCL catches the rest.
    static std::string unique_name() {
        static std::atomic<std::uint64_t> counter{0};
        std::uint64_t x = counter.fetch_add(1, std::memory_order_relaxed) * 0x9E3779B97F4A7C15ULL;
        x ^= static_cast<std::uint64_t>(::getpid()) << 32;
        x ^= static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        // splitmix64 finaliser, so that names do not look sequential
        x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
        x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
        x ^= x >> 31;
        char name[40];
        std::snprintf(name, sizeof name, ".orvane-save-%016llx.tmp", static_cast<unsigned long long>(x));
        return name;
    }

    OutputFile file_;  // closed before the rename, or by the destructor before the unlink
    std::string path_;
};

}  // namespace

Result<void> save_image(utils::Bytes image, const std::string& path) {
    if (image.size() < hive::layout::base_block_size) {
        return unexpected(RegistryError(error::HiveTooSmall{image.size(), hive::layout::base_block_size}));
    }
    if (path.find('\0') != std::string::npos) return unexpected(utils::nul_in_path());
    if (path.empty()) return unexpected(io_error_from_errno(ENOENT));

    // Only the base block differs from the image, so only it is copied.
    Contents contents{};
    std::copy_n(image.begin(), hive::layout::base_block_size, contents.base_block.begin());
    hive::store_base_block_checksum(contents.base_block);
    contents.rest = image.subspan(hive::layout::base_block_size);

    ORVANE_ASSIGN_OR_RETURN(const Target target, resolve_target(path));
    if (target.special) {
        // A device or pipe is written where it is: replacing it with a regular
        // file would destroy it, and no hive can be mapped from it.
        ORVANE_ASSIGN_OR_RETURN(OutputFile file, OutputFile::open(target.path, O_TRUNC));
        ORVANE_TRY(file.write(contents));
        return file.close();
    }

    // A file that replaces another is created private, so that it is never
    // readable by more people than the old one, then given the old one's
    // attributes; a new file gets 0666 less the umask.
    ORVANE_ASSIGN_OR_RETURN(TemporaryFile temporary,
                            TemporaryFile::create_beside(target.path, target.existing ? 0600 : 0666));
    if (target.existing) ORVANE_TRY(temporary.file().take_attributes_of(*target.existing));
    ORVANE_TRY(temporary.file().write(contents));
    ORVANE_TRY(temporary.file().close());
    return temporary.rename_over(target.path);
}

Result<void> save(const hive::Hive& hive, const std::string& path) { return save_image(hive.data(), path); }

}  // namespace orvane::transaction_log
