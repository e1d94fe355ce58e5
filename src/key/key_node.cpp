#include "key/key_node.hpp"

#include "utils/strings.hpp"

namespace orvane::key {

Result<KeyNode> decode_key_node(utils::Bytes payload, std::uint32_t offset) {
    namespace nk = nk_layout;
    // The length is tested before the signature, so a short cell is reported as
    // truncated whatever its first bytes say.
    if (payload.size() < nk::fixed_size) {
        return error::unexpected(RegistryError(error::TruncatedData{offset, nk::fixed_size, payload.size()}));
    }
    if (payload[0] != 'n' || payload[1] != 'k') {
        return error::unexpected(error::invalid_format("Expected 'nk' signature at offset " + error::hex(offset)));
    }

    const std::uint8_t* p = payload.data();
    KeyNode node;
    node.flags = utils::load_u16(p + nk::flags);
    node.last_written = utils::load_u64(p + nk::last_written);
    node.access_bits = utils::load_u32(p + nk::access_bits);
    node.parent_offset = utils::load_u32(p + nk::parent_offset);
    node.subkey_count = utils::load_u32(p + nk::subkey_count);
    node.volatile_subkey_count = utils::load_u32(p + nk::volatile_subkey_count);
    node.subkey_list_offset = utils::load_u32(p + nk::subkey_list_offset);
    node.volatile_subkey_list_offset = utils::load_u32(p + nk::volatile_subkey_list_offset);
    node.value_count = utils::load_u32(p + nk::value_count);
    node.value_list_offset = utils::load_u32(p + nk::value_list_offset);
    node.security_offset = utils::load_u32(p + nk::security_offset);
    node.class_name_offset = utils::load_u32(p + nk::class_name_offset);
    node.largest_subkey_name_length = utils::load_u32(p + nk::largest_subkey_name_length);
    node.largest_subkey_class_length = utils::load_u32(p + nk::largest_subkey_class_length);
    node.largest_value_name_length = utils::load_u32(p + nk::largest_value_name_length);
    node.largest_value_data_size = utils::load_u32(p + nk::largest_value_data_size);
    node.work_var = utils::load_u32(p + nk::work_var);
    node.name_length = utils::load_u16(p + nk::name_length);
    node.class_name_length = utils::load_u16(p + nk::class_name_length);

    const std::size_t length = node.name_length;
    if (length == 0) return node;  // nothing more is read, whatever the flags say
    if (!utils::fits(payload.size(), nk::name, length)) {
        return error::unexpected(
            RegistryError(error::TruncatedData{offset, nk::name + length, payload.size()}));
    }
    const utils::Bytes name = payload.subspan(nk::name, length);
    if (node.flags & nk::ascii_name_flag) {
        node.name = utils::read_ascii_string(name);
    } else {
        ORVANE_ASSIGN_OR_RETURN(node.name, utils::read_utf16_string(name, offset));
    }
    return node;
}

}  // namespace orvane::key
