#include "transaction_log/transaction_log.hpp"

#include <algorithm>
#include <string_view>

#include "transaction_log/layout.hpp"
#include "utils/file.hpp"

namespace orvane::transaction_log {

namespace {

using utils::load_u32;

bool starts_with(utils::Bytes bytes, std::size_t at, const char (&signature)[4]) {
    return utils::fits(bytes.size(), at, 4) && std::equal(signature, signature + 4, bytes.begin() + at);
}

// Appends the pages of the dirty block at `block` (a view from the block
// position to the end of the file). Records are not confined to the 4096 bytes
// of the block: they run on to the end of the file.
void parse_dirty_block(utils::Bytes block, std::vector<DirtyPage>& pages) {
    const std::uint32_t count = load_u32(block.data() + layout::record_count);
    if (count == 0 || count > layout::max_records_per_block) return;

    const std::uint64_t length = block.size();
    std::uint64_t record = layout::first_record;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!utils::fits(length, record, layout::record_header_size)) return;
        const std::uint8_t* header = block.data() + record;
        const std::uint32_t target = load_u32(header + layout::record_target);
        const std::uint32_t size = load_u32(header + layout::record_size);
        const std::uint64_t bytes_at = record + layout::record_header_size;
        if (size == 0 || size > layout::max_page_size) {
            // An absurd size carries no bytes; the record still counts.
            record = bytes_at;
            continue;
        }
        // A record cut off by the end of the file ends its block; the pages
        // already taken from it stay.
        if (!utils::fits(length, bytes_at, size)) return;
        const auto first = block.begin() + static_cast<std::ptrdiff_t>(bytes_at);
        pages.push_back(DirtyPage{target, size, std::vector<std::uint8_t>(first, first + size)});
        record = bytes_at + size;
    }
}

}  // namespace

Result<TransactionLog> TransactionLog::open(const std::string& path) {
    ORVANE_ASSIGN_OR_RETURN(const std::vector<std::uint8_t> content, utils::read_whole_file(path));
    return parse(content);
}

Result<TransactionLog> TransactionLog::parse(utils::Bytes content) {
    if (content.size() < layout::header_size) {
        return error::unexpected(error::invalid_format("Transaction log too small"));
    }
    if (!starts_with(content, layout::signature, layout::hvle_signature)) {
        const std::string_view found(reinterpret_cast<const char*>(content.data()), 4);
        return error::unexpected(error::invalid_signature(std::string_view(layout::hvle_signature, 4), found));
    }

    TransactionLog log;
    log.sequence = load_u32(content.data() + layout::sequence);
    // Each step moves forward by a whole block and the loop ends before fewer
    // than 512 bytes remain, so it cannot overflow or run forever.
    for (std::size_t position = layout::header_size;
         utils::fits(content.size(), position, layout::min_block_tail); position += layout::block_size) {
        if (starts_with(content, position, layout::dirt_signature)) {
            parse_dirty_block(content.subspan(position), log.dirty_pages);
        }
        if (log.dirty_pages.size() > layout::page_count_stop) break;
    }
    return log;
}

}  // namespace orvane::transaction_log
