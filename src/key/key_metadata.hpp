#pragma once
// What a key node names besides its subkeys and values: its class name and its
// security descriptor.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "error/registry_error.hpp"
#include "key/registry_key.hpp"
#include "utils/byte_view.hpp"

namespace orvane::key {

namespace sk_layout {
inline constexpr std::size_t minimum_size = 20;  // the fixed part; the descriptor follows
inline constexpr std::size_t descriptor_size = 16;
inline constexpr std::size_t descriptor = 20;
inline constexpr std::string_view signature = "sk";
}  // namespace sk_layout

// The class name: UTF-16LE text of the node's class name length in the cell at
// its class name offset; std::nullopt when the length is 0 or the offset is 0
// or 0xFFFFFFFF. TruncatedData when the cell holds fewer bytes than the length.
[[nodiscard]] Result<std::optional<std::string>> read_class_name(const RegistryKey& key);

// The self-relative security descriptor held by the key's "sk" cell, a view
// into the image; std::nullopt when the security offset is 0 or 0xFFFFFFFF.
// The descriptor's own contents are not checked.
[[nodiscard]] Result<std::optional<utils::ByteView>> read_security_descriptor(const RegistryKey& key);

}  // namespace orvane::key
