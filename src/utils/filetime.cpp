#include "utils/filetime.hpp"

namespace orvane::utils {

CivilTime civil_time_from_filetime(std::uint64_t filetime) noexcept {
    constexpr std::uint64_t micros_per_day = 86'400'000'000;
    const std::uint64_t micros = filetime / 10;
    const std::uint64_t time_of_day = micros % micros_per_day;
    CivilTime t;
    t.microsecond = static_cast<unsigned>(time_of_day % 1'000'000);
    t.second = static_cast<unsigned>(time_of_day / 1'000'000 % 60);
    t.minute = static_cast<unsigned>(time_of_day / 60'000'000 % 60);
    t.hour = static_cast<unsigned>(time_of_day / 3'600'000'000);

    // Days from 1601-01-01 to a date, by eras of 400 years (146097 days) that
    // start on March 1st, so the leap day ends each era's year. 1601-01-01 is
    // day 306 of the era that began on 1600-03-01.
    const std::uint64_t days = micros / micros_per_day + 306;
    const std::uint64_t era = days / 146'097;
    const std::uint64_t day_of_era = days % 146'097;
    const std::uint64_t year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36'524 - day_of_era / 146'096) / 365;
    const std::uint64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const std::uint64_t month_from_march = (5 * day_of_year + 2) / 153;
    t.day = static_cast<unsigned>(day_of_year - (153 * month_from_march + 2) / 5 + 1);
    t.month = static_cast<unsigned>(month_from_march < 10 ? month_from_march + 3 : month_from_march - 9);
    t.year = static_cast<std::int64_t>(1600 + era * 400 + year_of_era + (t.month <= 2 ? 1 : 0));
    return t;
}

}  // namespace orvane::utils
