#pragma once
// The tests a candidate base block, hive bin or compression unit must pass,
// and the walk of a run of bins.

#include <cstdint>
#include <optional>
#include <string>

#include "utils/byte_view.hpp"

namespace orvane::carve {

inline constexpr std::uint64_t sector_size = 512;
inline constexpr std::uint64_t page_size = 4096;
// Bins hold cells of at most a few MiB; a larger size field is noise.
inline constexpr std::uint32_t largest_bin = 0x10000000;

struct BaseBlockFields {
    std::uint32_t root_cell_offset = 0;
    std::uint32_t hive_bins_data_size = 0;
    std::uint64_t timestamp = 0;
    std::string file_name;
    bool checksum_matches = true;
};

// The fields of a base block at `at` when they are plausible: "regf", major
// version 1 with minor version 3 to 6, a hive bins data size that is a
// non-zero multiple of 4096 and a root cell inside it. A checksum mismatch is
// only noted.
std::optional<BaseBlockFields> plausible_base_block(utils::ByteView image, std::uint64_t at);

struct BinFields {
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
};

// The header of a bin at `at` when it is plausible and the whole bin lies in
// the image: "hbin", an offset field that is a multiple of 4096, a size that
// is a non-zero multiple of 4096 of at most largest_bin, and an end that cell
// offsets can still address.
std::optional<BinFields> plausible_bin(utils::ByteView image, std::uint64_t at);

// Where a run of bins starting at `at` ends: each bin must be plausible, lie
// right behind the one before it and carry the offset field that continues
// it, counting from `first_offset`; the run stops before a bin that would end
// past `end_offset`. Returns the bytes the run covers (0 when the first bin
// does not qualify).
std::uint64_t bin_run_length(utils::ByteView image, std::uint64_t at, std::uint32_t first_offset,
                             std::uint64_t end_offset);

// Whether the cells of the bin at `at` (its size words, from behind the
// header) end exactly at the end of the bin.
bool cells_fill_bin(utils::ByteView image, std::uint64_t at);

}  // namespace orvane::carve
