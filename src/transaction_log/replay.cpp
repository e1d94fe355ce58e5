#include "transaction_log/replay.hpp"

#include <algorithm>
#include <numeric>
#include <string>

#include "hive/base_block.hpp"
#include "hive/layout.hpp"

namespace orvane::transaction_log {

namespace {

std::string page_error(std::size_t index, const std::string& what) {
    return "Dirty page " + std::to_string(index) + what;
}

Result<void> apply_page(utils::ImageBytes& image, const DirtyPage& page, std::size_t index) {
    const std::uint64_t end = std::uint64_t{page.offset} + page.size;
    if (end > max_replayed_end) {
        return error::unexpected(error::invalid_format(page_error(
            index, " would extend hive beyond maximum size: " + error::hex(end) + " > " + error::hex(max_replayed_end))));
    }
    if (end > image.size()) {
        const std::uint64_t growth = end - image.size();
        if (growth > max_growth_per_page) {
            return error::unexpected(error::invalid_format(
                page_error(index, " would extend hive by too much: " + std::to_string(growth) +
                                      " bytes (max: " + std::to_string(max_growth_per_page) + ")")));
        }
        utils::grow_image(image, end, max_replayed_end);
    }
    if (page.data.size() != page.size) {
        return error::unexpected(error::invalid_format(page_error(
            index, " data size mismatch: " + std::to_string(page.data.size()) + " != " + std::to_string(page.size))));
    }
    std::copy(page.data.begin(), page.data.end(), image.begin() + static_cast<std::ptrdiff_t>(page.offset));
    return {};
}

}  // namespace

Result<std::vector<std::size_t>> apply_logs(utils::ImageBytes& image, std::span<const TransactionLog> logs) {
    // The log with the larger sequence is applied last, so it has the last word.
    std::vector<std::size_t> order(logs.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return logs[a].sequence < logs[b].sequence; });

    std::vector<std::size_t> applied;
    for (const std::size_t which : order) {
        const std::vector<DirtyPage>& pages = logs[which].dirty_pages;
        for (std::size_t i = 0; i < pages.size(); ++i) ORVANE_TRY(apply_page(image, pages[i], i));
        if (!pages.empty()) applied.push_back(which);
    }
    if (applied.empty()) return applied;

    if (image.size() < hive::layout::base_block_size) {
        return error::unexpected(RegistryError(error::HiveTooSmall{image.size(), hive::layout::base_block_size}));
    }
    hive::store_base_block_checksum(image);
    return applied;
}

}  // namespace orvane::transaction_log
