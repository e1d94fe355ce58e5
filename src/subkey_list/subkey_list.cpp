#include "subkey_list/subkey_list.hpp"

namespace orvane::subkey_list {

namespace {

constexpr std::size_t header_size = 4;  // signature, then the u16 element count
constexpr std::size_t count_position = 2;
static_assert(count_position + 2 == header_size, "the element count ends the header");

enum class Kind { IndexLeaf, HashLeaf, RootIndex };

// Reads `count` u32 offsets spaced `stride` bytes apart from position 4 on.
Result<std::vector<std::uint32_t>> read_offsets(utils::ByteView payload, std::size_t count, std::size_t stride) {
    std::vector<std::uint32_t> offsets;
    offsets.reserve(count);  // the caller has checked the elements are all there
    for (std::size_t i = 0; i < count; ++i) {
        ORVANE_ASSIGN_OR_RETURN(const std::uint32_t offset, payload.u32(header_size + i * stride));
        offsets.push_back(offset);
    }
    return offsets;
}

}  // namespace

Result<SubkeyList> decode_subkey_list(utils::Bytes bytes, std::uint32_t offset, error::ProblemLog* problems) {
    const utils::ByteView view(bytes, offset);
    ORVANE_ASSIGN_OR_RETURN(const auto header, view.fixed<header_size>());
    const auto [a, b] = header.copy<0, 2>();
    Kind kind;
    std::size_t element_size = 4;
    if (a == 'r' && b == 'i') {
        kind = Kind::RootIndex;
    } else if (a == 'l' && b == 'i') {
        kind = Kind::IndexLeaf;
    } else if (a == 'l' && (b == 'f' || b == 'h')) {
        kind = Kind::HashLeaf;
        element_size = 8;
    } else {
        return error::fail(error::InvalidSubkeyListType{{a, b}});
    }

    std::size_t count = header.u16<count_position>();
    auto present = view.require(header_size + std::uint64_t{count} * element_size);  // at most 524284
    if (!present) {
        if (!problems) return error::unexpected(std::move(present).error());
        problems->note("Subkey list at offset " + error::hex(offset) + " cut short", present.error());
        count = (view.size() - header_size) / element_size;
    }

    switch (kind) {
        case Kind::IndexLeaf: {
            ORVANE_ASSIGN_OR_RETURN(auto key_offsets, read_offsets(view, count, 4));
            return SubkeyList(IndexLeaf{std::move(key_offsets)});
        }
        case Kind::RootIndex: {
            ORVANE_ASSIGN_OR_RETURN(auto list_offsets, read_offsets(view, count, 4));
            return SubkeyList(RootIndex{std::move(list_offsets)});
        }
        case Kind::HashLeaf: {
            HashLeaf leaf;
            leaf.entries.reserve(count);
            for (std::size_t i = 0; i < count; ++i) {
                const std::size_t at = header_size + 8 * i;
                ORVANE_ASSIGN_OR_RETURN(const std::uint32_t key_offset, view.u32(at));
                ORVANE_ASSIGN_OR_RETURN(const std::uint32_t hash, view.u32(at + 4));
                leaf.entries.emplace_back(key_offset, hash);
            }
            return SubkeyList(std::move(leaf));
        }
    }
    return error::fail(error::InvalidSubkeyListType{{a, b}});  // not reached
}

}  // namespace orvane::subkey_list
