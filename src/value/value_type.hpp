#pragma once

#include <cstdint>
#include <string>

namespace orvane::value {

// A value's type: one of the twelve known types (codes 0 to 11) or Unknown,
// which keeps any other code. Converting a code never fails.
class ValueType {
public:
    enum class Kind : std::uint8_t {
        None = 0,
        String = 1,
        ExpandString = 2,
        Binary = 3,
        Dword = 4,
        DwordBigEndian = 5,
        Link = 6,
        MultiString = 7,
        ResourceList = 8,
        FullResourceDescriptor = 9,
        ResourceRequirementsList = 10,
        Qword = 11,
        Unknown = 12,
    };

    constexpr ValueType() = default;
    static constexpr ValueType from_code(std::uint32_t code) noexcept { return ValueType(code); }

    constexpr std::uint32_t code() const noexcept { return code_; }
    constexpr Kind kind() const noexcept { return code_ < 12 ? static_cast<Kind>(code_) : Kind::Unknown; }

    // "REG_SZ", ..., or "REG_UNKNOWN_0x" and the code as eight lowercase hex digits.
    std::string name() const;

    constexpr bool operator==(const ValueType&) const = default;

private:
    explicit constexpr ValueType(std::uint32_t code) noexcept : code_(code) {}
    std::uint32_t code_ = 0;
};

}  // namespace orvane::value
