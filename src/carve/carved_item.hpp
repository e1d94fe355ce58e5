#pragma once
// What carving finds in a raw image: whole or truncated hives, fragments of
// hives (runs of bins without their base block) and pages of loose records.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hive/hive.hpp"
#include "hive/hive_data.hpp"
#include "utils/byte_view.hpp"

namespace orvane::carve {

enum class Kind : std::uint8_t { Hive, Fragment, Record };

// A range of the item's source bytes; an item's bytes are its parts in order.
struct Part {
    std::uint64_t at = 0;
    std::uint64_t length = 0;
    std::uint64_t image_offset = 0;  // where the part was found in the image
};

struct CarvedItem {
    Kind kind = Kind::Hive;
    std::uint64_t image_offset = 0;  // of the base block, first bin, or first record's cell
    std::uint64_t size = 0;          // bytes carved: the sum of the parts
    bool truncated = false;          // a hive whose bins stop short of its hive bins data size
    bool compressed = false;         // decoded from LZNT1 compression units found at image_offset
    std::uint32_t hive_offset = 0;   // a fragment's: the offset field of its first bin
    std::uint32_t hive_bins_data_size = 0;  // a hive's, from its base block
    std::uint32_t root_cell_offset = 0;
    std::uint64_t last_written = 0;  // a hive's base block timestamp (FILETIME)
    std::string file_name;           // a hive's, from its base block
    bool checksum_matches = true;
    // Where the bytes lie: the image mapping, or decoded compression units.
    std::shared_ptr<const hive::HiveData> source;
    std::vector<Part> parts;

    // The image offsets of the parts, when there are several.
    std::vector<std::uint64_t> reconstructed_from() const;
};

// The item's bytes, its parts copied out one after another.
utils::ImageBytes item_bytes(const CarvedItem& item);

// A Hive over the item's bytes, opened the tolerant way: a hive as it is (a
// truncated one notes the missing bins); a fragment behind a made-up base
// block and one empty bin standing for the bins before it (as long as the
// fragment's offset claims, so no cell is read from it), its root the first
// key node flagged as a root or else the first key node of the fragment; a
// page of records as free space in one bin, where the deleted-record scan
// finds them. Problems note what was made up.
Result<std::shared_ptr<const hive::Hive>> open_item(const CarvedItem& item);

}  // namespace orvane::carve
