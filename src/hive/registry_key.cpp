#include "hive/registry_key.hpp"

#include "hive/hive.hpp"
#include "utils/strings.hpp"

namespace orvane::hive {

namespace {

constexpr std::uint32_t no_list = 0xFFFFFFFF;
constexpr const char* default_value_name = "(default)";

Result<RegistryValue> read_value(const Hive& hive, std::uint32_t vk_offset) {
    namespace vk = vk_layout;
    ORVANE_ASSIGN_OR_RETURN(const utils::Bytes payload, hive.get_cell(vk_offset));
    if (payload.size() < vk::minimum_size) {
        return error::unexpected(RegistryError(error::TruncatedData{vk_offset, vk::minimum_size, payload.size()}));
    }
    if (payload[0] != 'v' || payload[1] != 'k') {
        return error::unexpected(error::invalid_format("Expected 'vk' signature at offset " + error::hex(vk_offset)));
    }
    const std::uint8_t* p = payload.data();
    RegistryValue value;
    value.name_length = utils::load_u16(p + vk::name_length);
    value.data_size = utils::load_u32(p + vk::data_size) & vk::data_size_mask;
    value.data_offset = utils::load_u32(p + vk::data_offset);
    value.value_type = cell::ValueType::from_code(utils::load_u32(p + vk::data_type));
    value.flags = utils::load_u16(p + vk::flags);
    value.hive = &hive;

    const std::size_t length = value.name_length;
    if (length == 0) {
        value.name = default_value_name;
    } else if (!utils::fits(payload.size(), vk::name, length)) {
        return error::unexpected(RegistryError(error::TruncatedData{vk_offset, vk::name + length, payload.size()}));
    } else if (value.flags & vk::ascii_name_flag) {
        value.name = utils::read_ascii_string(payload.subspan(vk::name, length));
    } else {
        ORVANE_ASSIGN_OR_RETURN(value.name, utils::read_utf16_string(payload.subspan(vk::name, length), vk_offset));
    }
    return value;
}

}  // namespace

Result<std::vector<RegistryValue>> RegistryKey::values() const {
    const std::uint32_t count = node_.value_count;
    const std::uint32_t list_offset = node_.value_list_offset;
    if (count == 0 || list_offset == 0 || list_offset == no_list) return std::vector<RegistryValue>();

    ORVANE_ASSIGN_OR_RETURN(const utils::Bytes list, hive_->get_cell(list_offset));
    const std::uint64_t needed = std::uint64_t{count} * 4;
    if (list.size() < needed) {
        return error::unexpected(RegistryError(error::TruncatedData{list_offset, needed, list.size()}));
    }
    // The names of distinct records fit in the image, even grown by decoding
    // (UTF-16 to UTF-8 at most 1.5 times, a replaced byte 3 times). Only a
    // list naming the same long-named records over and over goes past that,
    // and it would otherwise cost memory in the square of the file's size.
    const std::uint64_t name_budget = std::uint64_t{3} * hive_->data().size();
    std::uint64_t name_bytes = 0;
    std::vector<RegistryValue> values;
    values.reserve(count);  // the list cell holds all `count` entries
    for (std::size_t i = 0; i < count; ++i) {
        // No entry is special: 0 and 0xFFFFFFFF go to get_cell like any other.
        const std::uint32_t vk_offset = utils::load_u32(list.data() + 4 * i);
        ORVANE_ASSIGN_OR_RETURN(RegistryValue value, read_value(*hive_, vk_offset));
        name_bytes += value.name.size();
        if (name_bytes > name_budget) {
            return error::unexpected(error::invalid_format("Value list at offset " + error::hex(list_offset) +
                                                           " names more than the hive holds"));
        }
        values.push_back(std::move(value));
    }
    return values;
}

}  // namespace orvane::hive
