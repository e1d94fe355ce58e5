#include "transaction_log/transaction_log.hpp"

#include <algorithm>
#include <string_view>

#include "transaction_log/layout.hpp"
#include "utils/file.hpp"

namespace orvane::transaction_log {

namespace {

// Appends the pages of the dirty block at `block` (a view from the block
// position to the end of the file). Records are not confined to the 4096 bytes
// of the block: they run on to the end of the file.
void parse_dirty_block(utils::ByteView block, std::vector<DirtyPage>& pages) {
    const std::uint32_t count = block.u32(layout::record_count).value_or(0);
    if (count == 0 || count > layout::max_records_per_block) return;

    std::uint64_t record = layout::first_record;
    for (std::uint32_t i = 0; i < count; ++i) {
        const auto header = block.fixed_at<layout::record_header_size>(record);
        if (!header) return;
        const std::uint32_t target = header->u32<layout::record_target>();
        const std::uint32_t size = header->u32<layout::record_size>();
        const std::uint64_t bytes_at = record + layout::record_header_size;
        if (size == 0 || size > layout::max_page_size) {
            // An absurd size carries no bytes; the record still counts.
            record = bytes_at;
            continue;
        }
        // A record cut off by the end of the file ends its block; the pages
        // already taken from it stay.
        const auto data = block.slice(bytes_at, size);
        if (!data) return;
        pages.push_back(DirtyPage{target, size, std::vector<std::uint8_t>(data->bytes().begin(), data->bytes().end())});
        record = bytes_at + size;
    }
}

}  // namespace

Result<TransactionLog> TransactionLog::open(const std::string& path) {
    ORVANE_ASSIGN_OR_RETURN(const utils::ImageBytes content, utils::read_whole_file(path));
    return parse(content);
}

Result<TransactionLog> TransactionLog::parse(utils::Bytes content) {
    const utils::ByteView view(content);
    const auto header = view.fixed<layout::header_size>();
    if (!header) return error::fail(error::invalid_format("Transaction log too small"));
    ORVANE_TRY(view.expect_signature(layout::signature, layout::hvle_signature));

    TransactionLog log;
    log.sequence = header->u32<layout::sequence>();
    // Each step moves forward by a whole block and the loop ends before fewer
    // than 512 bytes remain, so it cannot overflow or run forever.
    for (std::size_t position = layout::header_size;
         view.has(position, layout::min_block_tail); position += layout::block_size) {
        if (view.has_signature(position, layout::dirt_signature)) parse_dirty_block(view.rest(position), log.dirty_pages);
        if (log.dirty_pages.size() > layout::page_count_stop) break;
    }
    return log;
}

}  // namespace orvane::transaction_log
