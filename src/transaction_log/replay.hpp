#pragma once
// Copying the dirty pages of transaction logs into an in-memory hive image.

#include <cstdint>
#include <span>
#include <vector>

#include "error/registry_error.hpp"
#include "transaction_log/image_limit.hpp"
#include "transaction_log/transaction_log.hpp"
#include "utils/image_bytes.hpp"

namespace orvane::transaction_log {

// Largest end position (offset + size) a dirty page may have, and the most one
// page may lengthen the image by. Together they bound what a damaged log can
// make replay allocate.
inline constexpr std::uint64_t max_replayed_end = largest_image;
inline constexpr std::uint64_t max_growth_per_page = 16777216;

// Applies the pages of `logs` (given in the order log1, log2) to `image`: the
// logs by increasing sequence (equal sequences keep their given order), the
// pages of each in stored order, so later pages win where they overlap. The
// image grows with zero bytes where a page ends beyond it (which costs no
// memory until written); it never shrinks.
// When at least one page was applied the base block checksum is recomputed
// (HiveTooSmall if the image is then under 4096 bytes); otherwise the image is
// left exactly as it was.
//
// Returns the logs (indices into `logs`) that had pages, in the order they
// were applied.
//
// InvalidFormat for a page ending beyond 0x20000000, lengthening the image by
// more than 16777216 bytes, or whose data length differs from its size; the
// text names the page by its index in its own log. On any error the image is
// in an unspecified state and is meant to be discarded.
[[nodiscard]] Result<std::vector<std::size_t>> apply_logs(utils::ImageBytes& image,
                                                          std::span<const TransactionLog> logs);

}  // namespace orvane::transaction_log
