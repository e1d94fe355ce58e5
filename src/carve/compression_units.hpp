#pragma once
// The run of NTFS compression units a compressed hive is stored in.
//
// A unit is 16 clusters of the file (clusters of 512 bytes to 64 KiB); NTFS
// stores it as LZNT1 chunks when that saves at least one cluster, padded with
// zeros to its cluster boundary, else as it is. The next unit starts at the
// next cluster boundary. The image holds no cluster size, so the unit size is
// judged from the data.

#include <cstdint>

#include "utils/byte_view.hpp"
#include "utils/image_bytes.hpp"

namespace orvane::carve {

// The clusters of a compressed file are 512 bytes to 64 KiB; a unit is 16 of them.
inline constexpr std::uint64_t smallest_unit = 16 * 512;
inline constexpr std::uint64_t largest_unit = 16 * 65536;

struct UnitRun {
    utils::ImageBytes decoded;
    std::uint64_t end = 0;        // image offset past the last unit taken
    std::uint64_t raw_units = 0;  // units taken as stored as they are
};

// Decodes the units from `at`, given the first decode of the stream there
// (`first`, from `first_consumed` bytes of the image, decoded with the limit
// of the largest unit), until `wanted` bytes are decoded or the units stop.
// With `sized` (the hive's size is known from its base block) a unit that does
// not decode is taken as stored as it is; otherwise the run ends there.
UnitRun decode_unit_run(utils::ByteView image, std::uint64_t at, utils::ImageBytes first, std::uint64_t first_consumed,
                        std::uint64_t wanted, bool sized);

}  // namespace orvane::carve
