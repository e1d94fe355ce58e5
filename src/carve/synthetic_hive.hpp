#pragma once
// Hive images made up around carved bytes that have no base block of their
// own, so the readers of whole hives can open them.

#include <cstdint>

#include "utils/byte_view.hpp"
#include "utils/image_bytes.hpp"

namespace orvane::carve {

// A base block, then (for a fragment that did not start the hive) one bin of
// `hive_offset` bytes holding a single allocated cell, standing for the bins
// that are missing, then the fragment's bins. The bytes of the stand-in bin
// are never written past its header, so it costs no memory; the hive is
// opened with the stand-in as missing bins (Hive::from_data_tolerant's
// `missing_bins_end`), so no reference into it reads its zeros as cells.
utils::ImageBytes fragment_image(utils::ByteView bins, std::uint32_t hive_offset);

// A base block and one bin holding a root key named "carved records" and
// then, as one free cell, the bytes of `window` (which starts at a cell, so
// the records in it keep the 8-byte alignment the deleted-record scan looks at).
utils::ImageBytes record_page_image(utils::ByteView window);

// Where the root of a made-up image lies.
inline constexpr std::uint32_t record_page_root = 0x20;
inline constexpr std::uint32_t record_page_window = 0x90;  // cell offset of the window's first cell

// The first cell of the fragment's bins (offsets from the start of `bins`,
// whose first bin has `hive_offset`) holding a key node flagged as a root,
// else its first key node, as a cell offset of the hive; its first cell without any.
std::uint32_t fragment_root(utils::ByteView bins, std::uint32_t hive_offset);

// Writes a base block for a hive of `hive_bins_data_size` bytes of bins with
// its root at `root` into the first 4096 bytes of `image`.
void write_base_block(utils::ImageBytes& image, std::uint32_t root, std::uint32_t hive_bins_data_size);

}  // namespace orvane::carve
