#include "key/key_metadata.hpp"

#include "hive/hive.hpp"
#include "utils/strings.hpp"

namespace orvane::key {

namespace {

constexpr bool names_no_cell(std::uint32_t offset) noexcept { return offset == 0 || offset == 0xFFFFFFFF; }

}  // namespace

Result<std::optional<std::string>> read_class_name(const RegistryKey& key) {
    const std::uint32_t offset = key.node().class_name_offset;
    const std::size_t length = key.node().class_name_length;
    if (length == 0 || names_no_cell(offset)) return std::optional<std::string>();
    ORVANE_ASSIGN_OR_RETURN(const utils::ByteView cell, key.hive().get_cell(offset));
    ORVANE_ASSIGN_OR_RETURN(const utils::ByteView text, cell.slice(0, length));
    ORVANE_ASSIGN_OR_RETURN(std::string name, utils::read_utf16_string(text.bytes(), offset));
    return std::optional<std::string>(std::move(name));
}

Result<std::optional<utils::ByteView>> read_security_descriptor(const RegistryKey& key) {
    namespace sk = sk_layout;
    const std::uint32_t offset = key.node().security_offset;
    if (names_no_cell(offset)) return std::optional<utils::ByteView>();
    ORVANE_ASSIGN_OR_RETURN(const utils::ByteView cell, key.hive().get_cell(offset));
    ORVANE_ASSIGN_OR_RETURN(const auto record, cell.fixed<sk::minimum_size>());
    if (!cell.has_signature(0, sk::signature)) return error::fail(error::record_signature_expected(sk::signature, offset));
    ORVANE_ASSIGN_OR_RETURN(const utils::ByteView descriptor,
                            cell.slice(sk::descriptor, record.u32<sk::descriptor_size>()));
    return std::optional<utils::ByteView>(descriptor);
}

}  // namespace orvane::key
