#include "key/key_node.hpp"

#include "utils/strings.hpp"

namespace orvane::key {

Result<KeyNode> decode_key_node(utils::Bytes payload, std::uint32_t offset, error::ProblemLog* problems) {
    namespace nk = nk_layout;
    const utils::ByteView view(payload, offset);
    // The length is tested before the signature, so a short cell is reported as
    // truncated whatever its first bytes say.
    ORVANE_ASSIGN_OR_RETURN(const auto record, view.fixed<nk::fixed_size>());
    if (!view.has_signature(0, nk::signature)) return error::fail(error::record_signature_expected(nk::signature, offset));

    KeyNode node;
    node.flags = record.u16<nk::flags>();
    node.last_written = record.u64<nk::last_written>();
    node.access_bits = record.u32<nk::access_bits>();
    node.parent_offset = record.u32<nk::parent_offset>();
    node.subkey_count = record.u32<nk::subkey_count>();
    node.volatile_subkey_count = record.u32<nk::volatile_subkey_count>();
    node.subkey_list_offset = record.u32<nk::subkey_list_offset>();
    node.volatile_subkey_list_offset = record.u32<nk::volatile_subkey_list_offset>();
    node.value_count = record.u32<nk::value_count>();
    node.value_list_offset = record.u32<nk::value_list_offset>();
    node.security_offset = record.u32<nk::security_offset>();
    node.class_name_offset = record.u32<nk::class_name_offset>();
    node.largest_subkey_name_length = record.u32<nk::largest_subkey_name_length>();
    node.largest_subkey_class_length = record.u32<nk::largest_subkey_class_length>();
    node.largest_value_name_length = record.u32<nk::largest_value_name_length>();
    node.largest_value_data_size = record.u32<nk::largest_value_data_size>();
    node.work_var = record.u32<nk::work_var>();
    node.name_length = record.u16<nk::name_length>();
    node.class_name_length = record.u16<nk::class_name_length>();

    if (node.name_length == 0) return node;  // nothing more is read, whatever the flags say
    ORVANE_ASSIGN_OR_RETURN(const utils::ByteView name, view.slice(nk::name, node.name_length));
    if (node.flags & nk::ascii_name_flag) {
        node.name = utils::read_ascii_string(name.bytes());
    } else {
        ORVANE_ASSIGN_OR_RETURN(node.name, utils::read_utf16_name(name.bytes(), offset, problems));
    }
    return node;
}

}  // namespace orvane::key
