#pragma once
// Carving: a scan of raw bytes (a disk image, unallocated space, a memory dump)
// for base blocks and hive bins, and the hives, fragments and loose records
// they make up.
//
// In the sector-aligned way base blocks and bins are looked for at every
// 512-byte boundary, and a base block followed by bins whose offset fields
// count on from 0 is a hive. In the memory way (memory dumps and page files
// keep no sector alignment) they are looked for at every byte. Either way a bin
// joins the one before it only when it lies right behind it and its offset
// field continues it, so the pages of a memory dump scattered out of order are
// each a fragment of their own. A truncated hive is continued by a fragment
// found elsewhere when the fragment's first bin has the offset the hive stopped
// at and the cells of the hive's last bin end exactly there.
//
// The scan goes forward once and never looks again inside what it carved, so
// an image full of candidates costs time linear in its size.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "carve/carved_item.hpp"
#include "error/registry_error.hpp"
#include "hive/hive_data.hpp"

namespace orvane::carve {

struct CarveOptions {
    bool records = false;  // also loose key nodes and values outside what was carved
    bool memory = false;   // look at every byte, not only at 512-byte boundaries
    // Called now and then with (bytes scanned, image size); false stops the scan.
    std::function<bool(std::uint64_t, std::uint64_t)> progress;
};

struct CarveResult {
    std::vector<CarvedItem> items;  // in image order
    bool stopped = false;           // the progress callback asked to stop
};

// Carves the bytes of `image`.
CarveResult carve(std::shared_ptr<const hive::HiveData> image, const CarveOptions& options);

// Maps the file or block device at `path` read-only and carves it. Io on a
// file that cannot be opened or mapped; an empty file carves to nothing.
Result<CarveResult> carve_file(const std::string& path, const CarveOptions& options);

}  // namespace orvane::carve
