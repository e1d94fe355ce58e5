#pragma once
// Writing a hive image to a file, with its base block checksum recomputed.

#include <string>

#include "error/registry_error.hpp"
#include "hive/hive.hpp"
#include "utils/byte_view.hpp"

namespace orvane::transaction_log {

// Writes `image` to `path`, byte for byte except the checksum at offset 508,
// which is recomputed in the written copy; `image` itself is not touched.
//
// The file is replaced, never rewritten in place: the bytes go to a new file
// beside the target, which is then renamed over it. The new file keeps the
// permission bits of the file it replaces, and its owner and group where the
// process may set them; with no file to replace, it gets 0666 less the umask.
// Renaming means a hive still mapped from the old file keeps reading its old
// pages, and a failure leaves the old file as it was and no new file behind.
// Where `path` is a symbolic link, the file it finally points to is replaced
// (or created, for a dangling link). An existing target that is neither a
// regular file nor a directory (a device, a pipe) cannot be replaced and is
// written in place instead.
//
// HiveTooSmall for an image under 4096 bytes, before any file is touched; Io
// for every file failure.
[[nodiscard]] Result<void> save_image(utils::Bytes image, const std::string& path);

// save_image() of the hive's current image.
[[nodiscard]] Result<void> save(const hive::Hive& hive, const std::string& path);

}  // namespace orvane::transaction_log
