#pragma once

#include <array>
#include <cstdint>

namespace orvane::hive {

// One hive bin header, as listed by Hive::hbins().
struct HbinHeader {
    std::array<std::uint8_t, 4> signature{};  // always "hbin" for a listed bin
    std::uint32_t offset = 0;                 // from the start of the hive bins data
    std::uint32_t size = 0;
    std::uint64_t reserved = 0;
    std::uint64_t timestamp = 0;
    std::uint32_t spare = 0;

    bool operator==(const HbinHeader&) const = default;
};

}  // namespace orvane::hive
