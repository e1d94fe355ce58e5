#pragma once
// Hive bins left past the hive bins data. Windows does not shrink a hive file
// when it truncates the hive, so the bytes after the recorded hive bins data
// often hold the bins of a time when the hive was larger, or bins carried
// into the file from another hive image, with their cells as they were.
//
// Each such bin keeps the offset field it had in its hive. Where that field
// equals the bin's position in this file, the offsets its records hold mean
// what they mean everywhere else. Where it does not, the bin came from a hive
// laid out differently: its records' offsets are resolved through the offset
// fields of the remnant bins alone, and an offset no remnant bin covers leads
// nowhere (it never names a cell of the live hive, which would be someone
// else's bytes).

#include <cstdint>
#include <optional>
#include <vector>

#include "hive/hive.hpp"
#include "utils/byte_view.hpp"

namespace orvane::recovery {

struct RemnantBin {
    std::uint64_t position = 0;  // where it lies, as a cell offset in this file
    std::uint32_t offset_field = 0;  // where it lay in its hive
    std::uint32_t size = 0;
};

class RemnantBins {
public:
    // The bin headers still readable in `area` (the hive bins area) from
    // `bins_end` on, at 4096-byte steps: "hbin", an offset field that is a
    // multiple of 4096 and a size that is one too and fits the area. Where no
    // header is readable the search goes on at the next 4096-byte boundary.
    static RemnantBins find(utils::ByteView area, std::uint64_t bins_end);
    // Those of `hive`, after its recorded hive bins data (or, when that size is
    // 0 or runs past the image, none).
    static RemnantBins of(const hive::Hive& hive);

    const std::vector<RemnantBin>& bins() const noexcept { return bins_; }
    std::uint64_t total_size() const noexcept;

    // The cell offset, in this file, of `reference` as held by a record whose
    // cell is at `holder`. Unchanged unless the holder lies in a remnant bin
    // whose offset field differs from its position; then the remnant bin that
    // covered the offset in its hive gives it, and none gives 0, which no
    // cell has. "No cell" (0xFFFFFFFF) stays as it is.
    std::uint32_t resolve(std::uint32_t holder, std::uint32_t reference) const noexcept;

    // How far the offsets held by a record at `holder` may reach: the area's
    // size, or for a record of a bin from another hive layout, as far as any
    // cell offset can (that hive's size is not known).
    std::uint64_t reach(std::uint32_t holder, std::uint64_t area_size) const noexcept;

private:
    // The remnant bin at `position` whose offset field differs from its position.
    const RemnantBin* moved_bin_at(std::uint64_t position) const noexcept;

    std::vector<RemnantBin> bins_;          // by position
    std::vector<RemnantBin> by_field_;  // the moved ones, by offset field
};

}  // namespace orvane::recovery
