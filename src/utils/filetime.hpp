#pragma once
// Key and base block times: counts of 100-nanosecond intervals since
// 1601-01-01 00:00 UTC, as Windows stores them.

#include <cstdint>

namespace orvane::utils {

// A UTC date and time in the proleptic Gregorian calendar.
struct CivilTime {
    std::int64_t year = 0;
    unsigned month = 0;  // 1 to 12
    unsigned day = 0;    // 1 to 31
    unsigned hour = 0;
    unsigned minute = 0;
    unsigned second = 0;
    unsigned microsecond = 0;
    bool operator==(const CivilTime&) const = default;
};

// The time `filetime` names, to the microsecond (the last digit of the count
// is dropped, not rounded). Total: the largest count falls in the year 60056.
CivilTime civil_time_from_filetime(std::uint64_t filetime) noexcept;

}  // namespace orvane::utils
