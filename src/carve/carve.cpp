#include "carve/carve.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <unordered_map>
#include <utility>

#include "carve/compression_units.hpp"
#include "carve/lznt1.hpp"
#include "carve/scan_rules.hpp"
#include "carve/signature_search.hpp"
#include "carve/synthetic_hive.hpp"
#include "hive/hive.hpp"
#include "hive/layout.hpp"
#include "key/key_node.hpp"
#include "recovery/plausible_records.hpp"
#include "utils/file.hpp"
#include "value/registry_value.hpp"

namespace orvane::carve {

namespace {

namespace layout = hive::layout;

constexpr std::uint64_t progress_step = 64u << 20;
// Decoded compression units are held in memory; past this much in one carve the rest are left alone.
constexpr std::uint64_t decoded_budget = std::uint64_t{4} << 30;
// Loose records are grouped into windows of one page, as they lay in memory.
constexpr std::uint64_t record_window = page_size;
constexpr std::uint64_t unknown_area = std::uint64_t{1} << 31;  // the hive size a loose record cannot tell

std::uint64_t round_up(std::uint64_t value, std::uint64_t step) { return (value + step - 1) / step * step; }

// Whether decoded bytes begin as a hive or a bin begins.
bool starts_hive_data(utils::ByteView decoded) {
    if (plausible_base_block(decoded, 0)) return true;
    const auto offset = decoded.u32(layout::hbin_offset);
    return decoded.has_signature(0, layout::hbin_signature_bytes) && offset && *offset % page_size == 0;
}

class Carver {
public:
    Carver(std::shared_ptr<const hive::HiveData> source, const CarveOptions& options, bool nested)
        : source_(std::move(source)), image_(source_->bytes()), options_(options), nested_(nested) {}

    CarveResult run() {
        scan();
        if (!result_.stopped) reconstruct();
        std::erase_if(result_.items, [](const CarvedItem& item) { return item.parts.empty(); });
        if (!result_.stopped && options_.records && !nested_) find_records();
        std::stable_sort(result_.items.begin(), result_.items.end(),
                         [](const CarvedItem& a, const CarvedItem& b) { return a.image_offset < b.image_offset; });
        for (CarvedItem& item : result_.items) {
            item.size = 0;
            for (const Part& part : item.parts) item.size += part.length;
        }
        return std::move(result_);
    }

private:
    // --- the forward pass ---------------------------------------------------

    void scan() {
        const std::uint64_t size = image_.size();
        std::uint64_t next_report = progress_step;
        const auto report = [&](std::uint64_t at) {
            if (nested_ || !options_.progress || at < next_report) return true;
            next_report = at + progress_step;
            if (options_.progress(at, size)) return true;
            result_.stopped = true;
            return false;
        };
        if (!options_.memory) {
            for (std::uint64_t at = 0; at < size;) {
                if (!report(at)) return;
                const std::uint64_t end = carve_at(at);
                at = end > at ? round_up(end, sector_size) : at + sector_size;
            }
        } else {
            // Two cursors, one per signature's first letter, so each byte is searched once.
            std::uint64_t next_r = 0;
            std::uint64_t next_h = 0;
            for (std::uint64_t at = 0;;) {
                if (next_r < at || at == 0) next_r = find_byte(image_.bytes(), std::max(at, next_r), 'r');
                if (next_h < at || at == 0) next_h = find_byte(image_.bytes(), std::max(at, next_h), 'h');
                const std::uint64_t candidate = std::min(next_r, next_h);
                if (candidate >= size) break;
                if (!report(candidate)) return;
                const std::uint64_t end = carve_at(candidate);
                at = end > candidate ? end : candidate + 1;
            }
        }
        if (!nested_ && options_.progress && !options_.progress(size, size)) result_.stopped = true;
    }

    // Carves what starts at `at`; the end of what it took, or 0.
    std::uint64_t carve_at(std::uint64_t at) {
        if (const auto block = plausible_base_block(image_, at); block && image_.has(at, layout::base_block_size)) {
            return carve_hive(at, *block);
        }
        if (const auto bin = plausible_bin(image_, at)) return carve_fragment(at, *bin);
        if (!nested_ && !options_.memory) return carve_compressed(at);
        return 0;
    }

    std::uint64_t carve_hive(std::uint64_t at, const BaseBlockFields& block) {
        const std::uint64_t bins = bin_run_length(image_, at + layout::base_block_size, 0, block.hive_bins_data_size);
        CarvedItem item;
        item.kind = Kind::Hive;
        item.image_offset = at;
        item.truncated = bins < block.hive_bins_data_size;
        item.hive_bins_data_size = block.hive_bins_data_size;
        item.root_cell_offset = block.root_cell_offset;
        item.last_written = block.timestamp;
        item.file_name = block.file_name;
        item.checksum_matches = block.checksum_matches;
        item.source = source_;
        item.parts.push_back(Part{at, layout::base_block_size + bins, at});
        if (item.truncated) truncated_.push_back(result_.items.size());
        result_.items.push_back(std::move(item));
        const std::uint64_t end = at + layout::base_block_size + bins;
        covered_.emplace_back(at, end);
        return end;
    }

    std::uint64_t carve_fragment(std::uint64_t at, const BinFields& bin) {
        const std::uint64_t length = bin_run_length(image_, at, bin.offset, std::uint64_t{layout::largest_cell_offset} + 1);
        if (length == 0) return 0;
        CarvedItem item;
        item.kind = Kind::Fragment;
        item.image_offset = at;
        item.hive_offset = bin.offset;
        item.source = source_;
        item.parts.push_back(Part{at, length, at});
        fragments_.emplace(bin.offset, result_.items.size());
        result_.items.push_back(std::move(item));
        covered_.emplace_back(at, at + length);
        return at + length;
    }

    // --- compression units --------------------------------------------------

    // A compression unit at `at` whose first chunk decodes to the start of a
    // base block or a bin: the run of units from there is decoded (compressed
    // units one after another, each starting on a cluster boundary, with
    // units stored as they are between them when the hive's size says more
    // must follow) and carved.
    std::uint64_t carve_compressed(std::uint64_t at) {
        const auto header = image_.u16(at);
        if (!header || !lznt1::chunk_header(*header)) return 0;
        // The first bytes of a chunk cannot be back-references, so a compressed
        // chunk shows its first four bytes behind the flag byte.
        const std::uint64_t text = (*header & lznt1::compressed_flag) != 0 ? at + 3 : at + 2;
        if (!image_.has_signature(text, layout::regf_signature) && !image_.has_signature(text, layout::hbin_signature_bytes)) {
            return 0;
        }
        if (*budget_ >= decoded_budget) return 0;

        utils::ImageBytes decoded;
        const lznt1::Decoded first = lznt1::decode(image_.rest(at), decoded, largest_unit);
        if (first.consumed == 0 || !starts_hive_data(utils::ByteView(decoded))) return 0;
        std::uint64_t wanted = decoded_budget - *budget_;
        if (const auto block = plausible_base_block(utils::ByteView(decoded), 0)) {
            wanted = std::min<std::uint64_t>(wanted, layout::base_block_size + block->hive_bins_data_size);
        }
        const bool sized = wanted < decoded_budget - *budget_;
        UnitRun run = decode_unit_run(image_, at, std::move(decoded), first.consumed, wanted, sized);
        const std::uint64_t end = run.end;
        decoded = std::move(run.decoded);
        *budget_ += decoded.size();

        auto held = std::make_shared<const hive::HiveData>(hive::HiveData::from_bytes(std::move(decoded)));
        CarveOptions inner;
        Carver nested(std::move(held), inner, true);
        nested.budget_ = budget_;
        CarveResult found = nested.run();
        if (found.items.empty()) return 0;
        for (CarvedItem& item : found.items) {
            item.image_offset = at;
            item.compressed = true;
            for (Part& part : item.parts) part.image_offset = at;
            result_.items.push_back(std::move(item));
        }
        covered_.emplace_back(at, end);
        return end;
    }

    // --- reconstruction -----------------------------------------------------

    // Continues each truncated hive with fragments whose first bin carries
    // the offset where its bins stop, as long as the cells of its last bin
    // end exactly there.
    void reconstruct() {
        for (const std::size_t index : truncated_) {
            for (;;) {
                CarvedItem& hive = result_.items[index];
                const std::uint64_t present = bins_present(hive);
                if (present >= hive.hive_bins_data_size) {
                    hive.truncated = false;
                    break;
                }
                if (present != 0 && !cells_fill_bin(image_, last_bin(hive))) break;
                const auto candidate = fragments_.find(static_cast<std::uint32_t>(present));
                if (candidate == fragments_.end()) break;
                const std::size_t taken = candidate->second;
                fragments_.erase(candidate);
                CarvedItem& fragment = result_.items[taken];
                Part& part = fragment.parts.front();
                const std::uint64_t length =
                    bin_run_length(image_, part.at, fragment.hive_offset, hive.hive_bins_data_size);
                if (length == 0) continue;
                hive.parts.push_back(Part{part.at, length, part.image_offset});
                if (length == part.length) {
                    fragment.parts.clear();
                    continue;
                }
                // The rest of the fragment stays a fragment of its own.
                part.at += length;
                part.image_offset += length;
                part.length -= length;
                fragment.image_offset = part.image_offset;
                fragment.hive_offset += static_cast<std::uint32_t>(length);
                fragments_.emplace(fragment.hive_offset, taken);
            }
        }
    }

    static std::uint64_t bins_present(const CarvedItem& hive) {
        std::uint64_t total = 0;
        for (const Part& part : hive.parts) total += part.length;
        return total - layout::base_block_size;
    }

    // Where the last bin of a hive lies in the source.
    std::uint64_t last_bin(const CarvedItem& hive) const {
        const Part& part = hive.parts.back();
        std::uint64_t at = hive.parts.size() == 1 ? part.at + layout::base_block_size : part.at;
        const std::uint64_t end = part.at + part.length;
        std::uint64_t last = at;
        while (at < end) {
            const auto bin = plausible_bin(image_, at);
            if (!bin) break;
            last = at;
            at += bin->size;
        }
        return last;
    }

    // --- loose records ------------------------------------------------------

    void find_records() {
        // Value records are decoded against a hive; an empty made-up one will do.
        auto empty = hive::Hive::from_data_tolerant(hive::HiveData::from_bytes(record_page_image(utils::ByteView{})));
        if (!empty) return;
        std::sort(covered_.begin(), covered_.end());
        std::uint64_t from = 0;
        for (const auto& [begin, end] : covered_) {
            if (begin > from) find_records_in(from, begin, **empty);
            from = std::max(from, end);
        }
        find_records_in(from, image_.size(), **empty);
    }

    struct Window {
        std::uint64_t begin = 0;
        std::uint64_t end = 0;
    };

    void find_records_in(std::uint64_t begin, std::uint64_t end, const hive::Hive& empty) {
        const utils::ByteView gap = image_.rest(0).first(end);
        std::optional<Window> window;
        for (std::uint64_t k = find_byte(gap.bytes(), begin + 1, 'k'); k < end; k = find_byte(gap.bytes(), k + 1, 'k')) {
            const std::uint64_t record = k - 1;
            if (record < begin + layout::cell_size_word) continue;
            const bool key = gap.has_signature(record, key::nk_layout::signature);
            if (!key && !gap.has_signature(record, value::vk_layout::signature)) continue;
            const std::int64_t word = static_cast<std::int32_t>(*gap.u32(record - layout::cell_size_word));
            const auto cell_size = static_cast<std::uint64_t>(word < 0 ? -word : word);
            if (cell_size < 8 || cell_size % 8 != 0 || cell_size > largest_bin) continue;
            const utils::ByteView bytes = gap.rest(record).first(record_window);
            std::uint64_t used = 0;
            if (key) {
                const auto node = recovery::plausible_key_node(bytes, unknown_area);
                if (!node) continue;
                used = recovery::used_length(*node);
            } else {
                const auto found = recovery::plausible_value(bytes, unknown_area, empty);
                if (!found) continue;
                used = recovery::used_length(*found);
            }
            const std::uint64_t cell = record - layout::cell_size_word;
            const std::uint64_t record_end = std::min(end, round_up(record + used, 8));
            if (window && (cell - window->begin) % 8 == 0 && record_end - window->begin <= record_window) {
                window->end = std::max(window->end, record_end);
                continue;
            }
            if (window) add_record_window(*window);
            window = Window{cell, record_end};
        }
        if (window) add_record_window(*window);
    }

    void add_record_window(const Window& window) {
        CarvedItem item;
        item.kind = Kind::Record;
        item.image_offset = window.begin;
        item.source = source_;
        item.parts.push_back(Part{window.begin, window.end - window.begin, window.begin});
        result_.items.push_back(std::move(item));
    }

    std::shared_ptr<const hive::HiveData> source_;
    utils::ByteView image_;
    const CarveOptions& options_;
    bool nested_;
    CarveResult result_;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> covered_;  // what was carved, in scan order
    std::vector<std::size_t> truncated_;                            // indexes of truncated hives
    std::unordered_multimap<std::uint32_t, std::size_t> fragments_;  // first offset field -> item index
    std::shared_ptr<std::uint64_t> budget_ = std::make_shared<std::uint64_t>(0);  // decoded bytes so far
};

}  // namespace

std::vector<std::uint64_t> CarvedItem::reconstructed_from() const {
    std::vector<std::uint64_t> offsets;
    if (parts.size() < 2) return offsets;
    for (const Part& part : parts) offsets.push_back(part.image_offset);
    return offsets;
}

CarveResult carve(std::shared_ptr<const hive::HiveData> image, const CarveOptions& options) {
    return Carver(std::move(image), options, false).run();
}

Result<CarveResult> carve_file(const std::string& path, const CarveOptions& options) {
    ORVANE_ASSIGN_OR_RETURN(utils::FileDescriptor fd, utils::open_read_only(path));
    ORVANE_ASSIGN_OR_RETURN(std::uint64_t length, utils::file_length(fd));
    if (length == 0) {
        // A block device reports no length of its own; its end tells it.
        const off_t end = ::lseek(fd.get(), 0, SEEK_END);
        if (end > 0) length = static_cast<std::uint64_t>(end);
    }
    if (length == 0) return CarveResult{};
    (void)::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    ORVANE_ASSIGN_OR_RETURN(hive::FileMapping mapping, hive::FileMapping::map(fd, length));
    return carve(std::make_shared<const hive::HiveData>(std::move(mapping)), options);
}

}  // namespace orvane::carve
