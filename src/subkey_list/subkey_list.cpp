#include "subkey_list/subkey_list.hpp"

namespace orvane::subkey_list {

namespace {

constexpr std::size_t header_size = 4;  // signature, then the u16 element count
constexpr std::size_t count_position = 2;

enum class Kind { IndexLeaf, HashLeaf, RootIndex };

// Reads `count` u32 offsets spaced `stride` bytes apart from position 4 on.
Result<std::vector<std::uint32_t>> read_offsets(utils::Bytes payload, std::size_t count, std::size_t stride) {
    std::vector<std::uint32_t> offsets;
    offsets.reserve(count);  // the caller has checked the elements are all there
    for (std::size_t i = 0; i < count; ++i) {
        ORVANE_ASSIGN_OR_RETURN(const std::uint32_t offset, utils::read_u32(payload, header_size + i * stride));
        offsets.push_back(offset);
    }
    return offsets;
}

}  // namespace

Result<SubkeyList> decode_subkey_list(utils::Bytes payload, std::uint32_t offset) {
    if (payload.size() < header_size) {
        return error::unexpected(RegistryError(error::TruncatedData{offset, header_size, payload.size()}));
    }
    const std::uint8_t a = payload[0], b = payload[1];
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
        return error::unexpected(RegistryError(error::InvalidSubkeyListType{{a, b}}));
    }

    const std::size_t count = utils::load_u16(payload.data() + count_position);
    const std::uint64_t needed = header_size + std::uint64_t{count} * element_size;  // at most 524284
    if (payload.size() < needed) {
        return error::unexpected(RegistryError(error::TruncatedData{offset, needed, payload.size()}));
    }

    switch (kind) {
        case Kind::IndexLeaf: {
            ORVANE_ASSIGN_OR_RETURN(auto key_offsets, read_offsets(payload, count, 4));
            return SubkeyList(IndexLeaf{std::move(key_offsets)});
        }
        case Kind::RootIndex: {
            ORVANE_ASSIGN_OR_RETURN(auto list_offsets, read_offsets(payload, count, 4));
            return SubkeyList(RootIndex{std::move(list_offsets)});
        }
        case Kind::HashLeaf: {
            HashLeaf leaf;
            leaf.entries.reserve(count);
            for (std::size_t i = 0; i < count; ++i) {
                const std::size_t at = header_size + 8 * i;
                ORVANE_ASSIGN_OR_RETURN(const std::uint32_t key_offset, utils::read_u32(payload, at));
                ORVANE_ASSIGN_OR_RETURN(const std::uint32_t hash, utils::read_u32(payload, at + 4));
                leaf.entries.emplace_back(key_offset, hash);
            }
            return SubkeyList(std::move(leaf));
        }
    }
    return error::unexpected(RegistryError(error::InvalidSubkeyListType{{a, b}}));  // not reached
}

}  // namespace orvane::subkey_list
