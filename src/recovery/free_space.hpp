#pragma once
// The parts of the hive bins area that no live cell uses: free cells, the
// slack behind the record of an allocated cell, and bytes that lie in no
// readable bin (past the recorded hive bins data, or behind a damaged bin
// header). Deleted records are looked for there, and a deleted record's
// lists and data are trusted only while they still lie there: once a cell is
// allocated again, its bytes belong to someone else.

#include <cstdint>
#include <span>
#include <vector>

#include "recovery/live_set.hpp"
#include "utils/byte_view.hpp"

namespace orvane::recovery {

enum class Place : std::uint8_t {
    FreeCell,     // a cell whose size word is positive
    Slack,        // behind the bytes an allocated cell's record uses
    Unallocated,  // past the recorded hive bins data, or in no readable bin
};

// A range of cell offsets, [begin, end).
struct Span {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    Place place = Place::FreeCell;
};

class FreeSpace {
public:
    // Walks the bins of `area` (the hive bins area) up to `recorded_size`
    // (the base block's hive bins data size) cell by cell. The used length of
    // an allocated cell comes from its record's own fields, or for value
    // lists and data cells from `used_lengths`; cells of unknown use have no
    // slack. A bin header or size word that cannot be right makes the rest
    // of that bin (or the next 4096 bytes) one unallocated span.
    static FreeSpace map(utils::ByteView area, std::uint64_t recorded_size, const OffsetTable& used_lengths);

    // The span that holds all of [offset, offset + length), or nullptr.
    const Span* holding(std::uint64_t offset, std::uint64_t length) const noexcept;

    std::span<const Span> spans() const noexcept { return spans_; }

private:
    std::vector<Span> spans_;  // in file order, disjoint
};

}  // namespace orvane::recovery
