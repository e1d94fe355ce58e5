#include "value/value_type.hpp"

#include <array>
#include <cstdio>

namespace orvane::value {

namespace {

constexpr std::array<const char*, 12> known_names = {
    "REG_NONE",
    "REG_SZ",
    "REG_EXPAND_SZ",
    "REG_BINARY",
    "REG_DWORD",
    "REG_DWORD_BIG_ENDIAN",
    "REG_LINK",
    "REG_MULTI_SZ",
    "REG_RESOURCE_LIST",
    "REG_FULL_RESOURCE_DESCRIPTOR",
    "REG_RESOURCE_REQUIREMENTS_LIST",
    "REG_QWORD",
};

}  // namespace

std::string ValueType::name() const {
    if (code_ < known_names.size()) return known_names[code_];
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "REG_UNKNOWN_0x%08x", static_cast<unsigned>(code_));
    return buffer;
}

}  // namespace orvane::value
