#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "error/problem_log.hpp"
#include "error/registry_error.hpp"
#include "utils/byte_view.hpp"

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

// A range of the hive bins data [begin, end) that a tolerant walk skipped:
// a missing or invalid bin up to the next sound header on a 4 KiB boundary.
struct SkippedRange {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    bool operator==(const SkippedRange&) const = default;
};

struct HbinWalk {
    std::vector<HbinHeader> headers;     // in file order
    std::optional<RegistryError> fault;  // why a strict walk failed
    std::uint64_t good_end = 0;          // where the readable bins end, from the start of the hive bins data
    std::vector<SkippedRange> skipped;   // tolerant walk only; in order, all before good_end
};

// Bins begin on 4 KiB boundaries of the hive bins data.
inline constexpr std::uint64_t hbin_alignment = 4096;

// Walks the bin headers of a whole hive `image` (base block included), in the
// strict way or, given a log to note problems in, the tolerant way; hive.cpp
// states both sets of rules.
HbinWalk walk_hbins(utils::Bytes image, std::uint32_t recorded_size, error::ProblemLog* problems);

}  // namespace orvane::hive
