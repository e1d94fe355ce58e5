#pragma once
// What the fuzz targets do with one input, shared with the C++ test that
// replays the inputs once found to crash (tests/cpp/fuzz_regression_test.cpp).
//
// Every function here drives the core over hostile bytes and swallows every
// error: the only failures that count are crashes, sanitizer reports, hangs
// and runaway memory. Each returns a few counts so tests can check that a walk
// really went through a hive and that its output stayed bounded. Inputs are
// independent: the one thing kept from one to the next is the buffer
// replay_log() replays and recovers into, zeroed again before each use.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_set>
#include <utility>
#include <vector>

#include <sys/mman.h>

#include "carve/carve.hpp"
#include "carve/lznt1.hpp"
#include "value/value_data.hpp"
#include "value/value_type.hpp"
#include "error/registry_error.hpp"
#include "hive/base_block.hpp"
#include "hive/hive.hpp"
#include "key/key_metadata.hpp"
#include "key/key_path.hpp"
#include "key/key_reads.hpp"
#include "key/key_walk.hpp"
#include "recovery/orphan_walk.hpp"
#include "hive/layout.hpp"
#include "key/registry_key.hpp"
#include "value/registry_value.hpp"
#include "recovery/plausible_records.hpp"
#include "recovery/recovery.hpp"
#include "search/find_literal.hpp"
#include "search/text_candidates.hpp"
#include "table/hive_tables.hpp"
#include "transaction_log/marvin32.hpp"
#include "transaction_log/replay.hpp"
#include "transaction_log/transaction_log.hpp"
#include "transaction_log/windows_log_layout.hpp"
#include "transaction_log/windows_recovery.hpp"
#include "utils/byte_view.hpp"
#include "utils/strings.hpp"

namespace orvane::fuzz {

using utils::Bytes;
using ByteVector = std::vector<std::uint8_t>;

struct WalkCounts {
    bool loaded = false;
    std::size_t hbins = 0;
    std::size_t keys = 0;                 // key nodes decoded
    std::size_t values = 0;               // value records read
    std::size_t largest_raw_data = 0;     // the most bytes one raw_data() call returned
    std::size_t largest_value_names = 0;  // the most name bytes one values() call returned
    std::size_t errors = 0;               // errors met and swallowed
    std::size_t problems = 0;             // lines a tolerant hive noted
};

// Bits that pick which part of its work an input gets: from its length and
// last byte, which mutations keep changing.
inline std::size_t pick_bits(Bytes input) noexcept {
    return input.size() + (input.empty() ? 0 : input.back());
}

// Bits that change with any byte of the input, for a choice that must not be
// handed down from an input to the mutations of it: a seed that picked a
// costly part of the work for one in 256 inputs by pick_bits() had every
// mutation that kept its length and last byte pick it too.
inline std::size_t mixed_bits(Bytes input) noexcept {
    return std::hash<std::string_view>{}(
        std::string_view(reinterpret_cast<const char*>(input.data()), input.size()));
}

namespace detail {

inline void count_error(WalkCounts& counts, bool failed) {
    if (failed) ++counts.errors;
}

inline constexpr std::size_t display_bytes = 4096;

inline void walk_values(const key::RegistryKey& key, WalkCounts& counts) {
    auto values = key.values();
    if (!values) return count_error(counts, true);
    // Many records may name the same data; reading it once is enough to cover
    // the decoders and keeps one input from copying the same bytes forever.
    std::set<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>> seen;
    std::size_t name_bytes = 0;
    for (const value::RegistryValue& value : *values) name_bytes += value.name.size();
    counts.largest_value_names = std::max(counts.largest_value_names, name_bytes);
    for (const value::RegistryValue& value : *values) {
        ++counts.values;
        (void)value.value_type.name();
        if (!seen.emplace(value.data_offset, value.data_size, value.value_type.code()).second) continue;
        auto raw = value.raw_data();
        if (!raw) {
            count_error(counts, true);
            continue;
        }
        counts.largest_raw_data = std::max(counts.largest_raw_data, raw->size());
        auto data = value::ValueData::decode(value.value_type, *raw);
        if (!data) {
            count_error(counts, true);
            continue;
        }
        // Display text is built a byte at a time whatever the data say; short
        // data cover all of it, long data would only repeat it.
        if (raw->size() <= display_bytes) (void)data->to_display_string();
    }
}

}  // namespace detail

// Every hbin header, then every key the core's walk reaches from the root
// and (with `orphans`) every orphan key below it
// (each key node once, whatever the subkey lists say, so cycles end) with its
// values, raw data, decoded data and display text, its class name and
// security descriptor; and for the first keys, their path and parent, and the
// lookup of that path from the root (which reads the lists' hints and hashes).
inline WalkCounts walk_hive(const hive::Hive& hive, bool orphans = true) {
    WalkCounts counts;
    counts.loaded = true;
    if (auto hbins = hive.hbins()) {
        counts.hbins = hbins->size();
    } else {
        detail::count_error(counts, true);
    }

    auto root = hive.get_key(hive.base_block().root_cell_offset);
    if (!root) return detail::count_error(counts, true), counts;
    // A lookup reads a whole list per component, so only the first keys with
    // short paths are looked up again (lists shared by a deep chain would make
    // each lookup cost depth times list length).
    constexpr std::size_t looked_up_keys = 16;
    constexpr std::size_t looked_up_path_bytes = 256;
    std::unordered_set<std::uint32_t> seen_value_lists;
    std::vector<std::uint32_t> subkeys;
    // After the tree, the orphan keys the allocated-cell scan finds.
    recovery::OrphanWalk walk(*root, orphans);
    for (;;) {
        auto step = walk.next();
        (void)walk.take_notices();
        if (!step) {
            detail::count_error(counts, true);
            continue;
        }
        if (!*step) break;
        const key::RegistryKey& key = walk.key();
        ++counts.keys;
        const key::KeyNode& node = key.node();
        // The walk reads no list of a key whose count is 0; a hostile hive controls both.
        if (node.subkey_count == 0) {
            subkeys.clear();
            detail::count_error(counts, !key.collect_subkey_offsets(node.subkey_list_offset, subkeys));
        }
        if (seen_value_lists.insert(node.value_list_offset).second) detail::walk_values(key, counts);
        detail::count_error(counts, !key::read_class_name(key));
        detail::count_error(counts, !key::read_security_descriptor(key));
        if (counts.keys > looked_up_keys) continue;
        // The whole-key reads the binding makes, with their budgets; each may
        // copy up to the image, so only the first keys are read so again.
        if (auto values = key::values_with_data(key)) {
            if (!values->empty()) detail::count_error(counts, !key::find_value(key, values->back().value.name));
        } else {
            detail::count_error(counts, true);
        }
        detail::count_error(counts, !key::subkey_nodes(key));
        detail::count_error(counts, !key::parent_key(key));
        (void)key::key_path(key);  // built hives may leave parent fields unset
        if (walk.path().size() <= looked_up_path_bytes) {
            detail::count_error(counts, !key::open_key_path(*root, walk.path()));
        }
    }
    return counts;
}

// Whether `input` is loaded with the base block checksum it carries: one
// input in eight, picked by bytes mutations keep changing (its length and the
// checksum's last byte), so the checks of a wrong checksum stay covered.
inline bool keeps_stored_checksum(Bytes input) {
    if (input.size() < hive::layout::checksum + 4) return true;
    return ((input.size() ^ input[hive::layout::checksum + 3]) & 7) == 0;
}

// `input` as a hive image, its checksum put right first (a mutated byte in
// the base block would otherwise stop nearly every input at the checksum)
// unless keeps_stored_checksum(). One buffer serves every load of an input.
inline hive::HiveData::Buffer image_of(Bytes input) {
    auto image = std::make_shared<utils::ImageBytes>(utils::copy_image(input));
    if (image->size() >= 512 && !keeps_stored_checksum(input)) hive::store_base_block_checksum(*image);
    return image;
}

inline Result<std::shared_ptr<const hive::Hive>> load_image(Bytes input) {
    return hive::Hive::from_data(hive::HiveData(image_of(input)));
}

// Loads `input` with load_image() and walks it.
inline WalkCounts walk_hive_image(Bytes input) {
    auto loaded = load_image(input);
    if (!loaded) return WalkCounts{};
    return walk_hive(**loaded);
}

struct RecoveryCounts {
    bool loaded = false;
    std::size_t keys = 0;              // deleted keys found
    std::size_t values = 0;            // deleted values found
    std::size_t values_of_keys = 0;    // values read through the deleted keys
    std::size_t subkeys_of_keys = 0;   // subkeys read through the deleted keys
    std::size_t largest_data = 0;      // the most bytes one recovered value's data held
    std::size_t largest_path = 0;      // the longest partial path
    std::size_t parents = 0;           // deleted keys whose parent could be read
    std::size_t full_paths = 0;        // deleted keys whose parents lead to the root
    std::size_t walked_keys = 0;       // keys met by the walks from each deleted key
};

// The scan for deleted records, then every accessor of what it found: each
// key read again, its partial path, path, parent, class name, security
// descriptor, values (with data, and the first by name), subkeys (and the
// first by path) and the walk of its subtree; each value's data.
inline RecoveryCounts scan_deleted(const hive::Hive& hive) {
    RecoveryCounts counts;
    counts.loaded = true;
    const recovery::Recovery found = recovery::Recovery::scan(hive);
    // Many records may name the same data; reading it once covers the reader.
    std::set<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>> seen;
    const auto read_data = [&](const recovery::DeletedValue& deleted) {
        const value::RegistryValue& value = deleted.value;
        if (!seen.emplace(value.data_offset, value.data_size, value.value_type.code()).second) return;
        if (auto data = found.data_of(deleted)) {
            counts.largest_data = std::max(counts.largest_data, data->size());
            if (auto decoded = value::ValueData::decode(value.value_type, *data)) (void)decoded->to_display_string();
        }
    };
    for (const recovery::DeletedKey& key : found.keys()) {
        ++counts.keys;
        (void)found.key_at(key.offset);
        counts.largest_path = std::max(counts.largest_path, found.partial_path_of(key).size());
        if (auto parent = found.parent_of(key); parent && *parent) ++counts.parents;
        if (found.path_of(key)) ++counts.full_paths;
        (void)found.class_name_of(key);
        (void)found.security_descriptor_of(key);
        const std::vector<recovery::DeletedValue> values = found.values_of(key);
        for (const recovery::DeletedValue& value : values) {
            ++counts.values_of_keys;
            read_data(value);
        }
        if (!values.empty()) (void)found.value_named(key, values.front().value.name);
        const std::vector<recovery::DeletedKey> subkeys = found.subkeys_of(key.offset, key.node);
        counts.subkeys_of_keys += subkeys.size();
        if (!subkeys.empty()) (void)found.open_path(key, subkeys.front().node.name);
        if (auto walked = found.walk(key)) counts.walked_keys += walked->size();
    }
    for (const recovery::DeletedValue& value : found.values()) {
        ++counts.values;
        read_data(value);
    }
    return counts;
}

// Loads `input` as walk_hive_image() does and scans it.
inline RecoveryCounts scan_deleted_image(Bytes input) {
    auto loaded = load_image(input);
    if (!loaded) return RecoveryCounts{};
    return scan_deleted(**loaded);
}

// Rows of the keys and values tables (deleted ones included, in batches of 7)
// drained through the stream a consumer reads; how many rows came out. The
// two tables of one reading share the hive's caches as a Hive object's do,
// so the second replays the first one's walk when it finished.
inline std::uint64_t drain_table(std::shared_ptr<const hive::Hive> hive, table::TableKind kind,
                                 const std::shared_ptr<recovery::ScanCache>& scans,
                                 const std::shared_ptr<table::WalkPlans>& plans) {
    table::TableOptions options;
    options.deleted = true;
    options.batch_rows = 7;
    auto source = table::open_table(std::move(hive), kind, options, scans, plans);
    if (!source) return 0;
    ArrowArrayStream stream{};
    table::export_stream(std::move(*source), &stream);
    ArrowSchema schema{};
    if (stream.get_schema(&stream, &schema) == 0 && schema.release) schema.release(&schema);
    std::uint64_t rows = 0;
    for (;;) {
        ArrowArray array{};
        if (stream.get_next(&stream, &array) != 0) {
            (void)stream.get_last_error(&stream);
            break;
        }
        if (!array.release) break;  // the end of the stream
        rows += static_cast<std::uint64_t>(array.length);
        array.release(&array);
    }
    stream.release(&stream);
    return rows;
}

// Both tables of one reading, `keys_first` or values first, so that each is
// built from a walk and from a replay of the other's.
inline std::uint64_t read_tables(const Result<std::shared_ptr<const hive::Hive>>& loaded, bool keys_first) {
    if (!loaded) return 0;
    const auto scans = std::make_shared<recovery::ScanCache>();
    const auto plans = std::make_shared<table::WalkPlans>();
    const auto first = keys_first ? table::TableKind::Keys : table::TableKind::Values;
    const auto second = keys_first ? table::TableKind::Values : table::TableKind::Keys;
    return drain_table(*loaded, first, scans, plans) + drain_table(*loaded, second, scans, plans);
}

// Both tables of the strict and of the tolerant reading of `input` (one copy
// of it serves both): keys first for the strict one, values first for the
// tolerant one. The replay of a kept input runs this.
inline std::uint64_t read_tables_image(Bytes input) {
    const auto image = std::make_shared<const utils::ImageBytes>(utils::copy_image(input));
    return read_tables(hive::Hive::from_data(hive::HiveData(image)), true) +
           read_tables(hive::Hive::from_data_tolerant(hive::HiveData(image)), false);
}

// What fuzz_tables does with one input: both tables of one reading, the
// strict or the tolerant one, in either order, picked by bits of its length
// and last byte (the tolerant one when the strict one does not load). Every
// table costs a walk of the whole hive and its deleted records; a run reaches
// every reading and order for every kind of input at half the work of
// reading each input both ways.
inline std::uint64_t read_tables_one_way(Bytes input) {
    const std::size_t pick = pick_bits(input);
    const auto image = std::make_shared<const utils::ImageBytes>(utils::copy_image(input));
    const bool keys_first = ((pick >> 2) & 1) == 1;
    if (((pick >> 1) & 1) == 0) {
        if (auto strict = hive::Hive::from_data(hive::HiveData(image))) return read_tables(strict, keys_first);
    }
    return read_tables(hive::Hive::from_data_tolerant(hive::HiveData(image)), keys_first);
}

struct SearchCounts {
    std::size_t matches = 0;     // of the pattern searched, or spans of the texts gathered
    std::size_t texts = 0;       // texts a regular expression would be tested on
    std::size_t largest_context = 0;  // the most bytes one match's texts held
};

// The whole-hive search, deleted records included, on the strict or the
// tolerant reading of `input`: a literal pattern, or every text gathered for
// a regular expression, with spans of the first ones turned into matches.
//
// The patterns: one made of the input's last bytes, so mutations steer it;
// short ones that match often; one with Latin-1 letters beyond ASCII; one
// with no Latin-1 form. The input's own is made for each input, folded and
// not, the fixed ones once. Each walk costs the whole hive and the matchers
// differ only in their tables and in which of a few branches their patterns
// take, so two of them search: the input's pattern and one fixed pattern,
// picked (with the folding of each) by the input's length and last byte.
// Each reading costs a deleted-record scan and each job a walk of the whole
// hive, so an input gets one job on one reading, picked the same way: a
// search with one of the two matchers, or the gathering of the texts, on the
// reading that loads (one of the two when both do). Mutations change the
// picks all the time, so every pattern and every gathering still runs
// against every kind of hive and reading.
inline SearchCounts search_image(Bytes input) {
    SearchCounts counts;
    const std::string input_pattern = utils::read_ascii_string(input.last(std::min<std::size_t>(input.size(), 4)));
    std::array<std::optional<search::LiteralMatcher>, 2> own;
    for (const bool case_sensitive : {false, true}) {
        if (auto made = search::LiteralMatcher::create(input_pattern, case_sensitive)) own[case_sensitive] = *made;
    }
    // Pattern by pattern, folded then not; the same for every input, so made once.
    static const std::vector<search::LiteralMatcher> fixed = [] {
        std::vector<search::LiteralMatcher> made;
        for (const char* pattern : {"a", "nk", "\xc3\xa9t\xc3\xa9", "\xe6\x97\xa5"}) {
            for (const bool case_sensitive : {false, true}) {
                if (auto matcher = search::LiteralMatcher::create(pattern, case_sensitive)) made.push_back(*matcher);
            }
        }
        return made;
    }();
    const std::size_t pick = pick_bits(input);
    const auto note = [&](const search::Match& match) {
        ++counts.matches;
        counts.largest_context = std::max(counts.largest_context,
                                          match.before.size() + match.text.size() + match.after.size());
    };
    const std::optional<search::LiteralMatcher>& mine = own[(pick >> 3) & 1];
    const search::LiteralMatcher* matchers[] = {mine ? &*mine : nullptr,
                                                fixed.empty() ? nullptr : &fixed[pick % fixed.size()]};
    const auto image = std::make_shared<const utils::ImageBytes>(utils::copy_image(input));
    const auto load = [&](bool tolerant) {
        return tolerant ? hive::Hive::from_data_tolerant(hive::HiveData(image)) : hive::Hive::from_data(hive::HiveData(image));
    };
    // The other reading is loaded only when the picked one does not load.
    bool tolerant = ((pick >> 6) & 1) == 1;
    Result<std::shared_ptr<const hive::Hive>> reading = load(tolerant);
    if (!reading) reading = load(tolerant = !tolerant);
    if (!reading) return counts;
    const hive::Hive& hive = **reading;
    const recovery::Recovery found = recovery::Recovery::scan(hive);
    search::SearchOptions options;
    options.deleted = true;
    options.orphans = tolerant;
    // The input's own pattern may make no matcher; then the texts are gathered.
    const search::LiteralMatcher* matcher = ((pick >> 4) & 1) == 1 ? matchers[(pick >> 5) & 1] : nullptr;
    if (matcher) {
        if (auto matches = search::find_literal(hive, *matcher, options, &found)) {
            for (const search::Match& match : matches->matches) note(match);
        }
        return counts;
    }
    auto texts = search::collect_texts(hive, options, &found);
    if (!texts) return counts;
    counts.texts = texts->texts.size();
    for (std::size_t i = 0; i < std::min<std::size_t>(texts->texts.size(), 64); ++i) {
        const std::size_t length = texts->texts[i].run.text.size();
        note(search::match_in(*texts, i, length / 3, length + 5));
    }
    return counts;
}

// Loads `image` the tolerant way (a wrong checksum is only noted), walks it,
// and reads what it noted.
inline WalkCounts walk_tolerant(hive::HiveData::Buffer image) {
    auto loaded = hive::Hive::from_data_tolerant(hive::HiveData(std::move(image)));
    if (!loaded) return WalkCounts{};
    WalkCounts counts = walk_hive(**loaded);
    counts.problems = (*loaded)->problems().size();
    return counts;
}

// Loads `input` as it is the tolerant way and walks it.
inline WalkCounts walk_tolerant_hive_image(Bytes input) {
    return walk_tolerant(std::make_shared<const utils::ImageBytes>(utils::copy_image(input)));
}

// The strict walk and the tolerant one over the same image, so it is copied
// once. The replay of a kept input runs this.
inline std::pair<WalkCounts, WalkCounts> walk_both_ways(Bytes input) {
    hive::HiveData::Buffer image = image_of(input);
    std::pair<WalkCounts, WalkCounts> counts;
    if (auto loaded = hive::Hive::from_data(hive::HiveData(image))) counts.first = walk_hive(**loaded);
    counts.second = walk_tolerant(std::move(image));
    return counts;
}

// What fuzz_hive does with one input: the strict walk or the tolerant one,
// picked by a bit of its length and last byte (the tolerant one when the
// strict reading does not load). Nearly every input whose checksum the
// harness puts right loads both ways, and each walk reads the whole hive, so
// walking both did the work twice for what mutations reach anyway by
// changing the pick.
inline WalkCounts walk_one_way(Bytes input) {
    hive::HiveData::Buffer image = image_of(input);
    if (((pick_bits(input) >> 1) & 1) == 0) {
        if (auto loaded = hive::Hive::from_data(hive::HiveData(image))) return walk_hive(**loaded);
    }
    return walk_tolerant(std::move(image));
}

// A small, sound hive for the logs to be replayed into: a root key with one
// subkey and one value, in one 4096-byte bin.
inline ByteVector small_hive(std::uint32_t primary_sequence = 1, std::uint32_t secondary_sequence = 1) {
    ByteVector image(8192, 0);
    const auto put16 = [&](std::size_t at, std::uint16_t v) {
        image[at] = static_cast<std::uint8_t>(v);
        image[at + 1] = static_cast<std::uint8_t>(v >> 8);
    };
    const auto put32 = [&](std::size_t at, std::uint32_t v) { utils::store_u32(image.data() + at, v); };
    const auto put_text = [&](std::size_t at, std::string_view text) {
        std::copy(text.begin(), text.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
    };
    put_text(0, "regf");
    put32(4, primary_sequence);
    put32(8, secondary_sequence);
    put32(20, 1);
    put32(24, 5);
    put32(32, 1);
    put32(36, 0x20);      // root key
    put32(40, 0x1000);    // hive bins data size
    put32(44, 1);
    put_text(4096, "hbin");
    put32(4096 + 8, 0x1000);

    // Cells at hive bins offsets 0x20 (root), 0x80 (subkey), 0xE0 ("lf" list),
    // 0x100 (value list), 0x110 ("vk").
    const auto nk = [&](std::size_t cell, std::string_view name, std::uint32_t subkeys, std::uint32_t list,
                        std::uint32_t values, std::uint32_t value_list) {
        const std::size_t at = 4096 + cell;
        put32(at, static_cast<std::uint32_t>(-96));
        put_text(at + 4, "nk");
        put16(at + 6, 0x0020);
        put32(at + 4 + 20, subkeys);
        put32(at + 4 + 28, list);
        put32(at + 4 + 32, 0xFFFFFFFF);
        put32(at + 4 + 36, values);
        put32(at + 4 + 40, value_list);
        put16(at + 4 + 72, static_cast<std::uint16_t>(name.size()));
        put_text(at + 4 + 76, name);
    };
    nk(0x20, "ROOT", 1, 0xE0, 1, 0x100);
    nk(0x80, "Software", 0, 0xFFFFFFFF, 0, 0xFFFFFFFF);
    put32(4096 + 0xE0, static_cast<std::uint32_t>(-16));
    put_text(4096 + 0xE4, "lf");
    put16(4096 + 0xE6, 1);
    put32(4096 + 0xE8, 0x80);
    put32(4096 + 0x100, static_cast<std::uint32_t>(-16));
    put32(4096 + 0x104, 0x110);
    put32(4096 + 0x110, static_cast<std::uint32_t>(-32));
    put_text(4096 + 0x114, "vk");
    put16(4096 + 0x116, 4);             // name length
    put32(4096 + 0x118, 0x80000004);    // 4 bytes, inline
    put32(4096 + 0x11C, 0x00000001);
    put32(4096 + 0x120, 4);             // REG_DWORD
    put16(4096 + 0x124, 0x0001);        // ASCII name
    put_text(4096 + 0x128, "Mode");
    put32(4096 + 0x130, 0x1000 - 0x130);  // the rest of the bin is one free cell
    hive::store_base_block_checksum(image);
    return image;
}

// Puts right what a fuzzer cannot guess in a Windows log: the checksum of its
// base block copy and the two Marvin32 hashes of every entry whose header
// reads as one, so mutations reach the recovery behind those checks.
inline ByteVector with_windows_hashes(Bytes input) {
    namespace wl = transaction_log::windows_layout;
    ByteVector log(input.begin(), input.end());
    if (log.size() < wl::base_block_copy_size) return log;
    hive::store_base_block_checksum(log);
    std::uint64_t at = wl::first_entry;
    while (utils::fits(log.size(), at, wl::entry_header_size)) {
        const utils::ByteView view(log);
        if (!view.has_signature(at, wl::entry_signature)) break;
        const std::uint32_t size = *view.u32(at + wl::entry_size);
        std::uint8_t* entry = log.data() + at;
        if (size < wl::entry_header_size || !utils::fits(log.size(), at, size)) break;
        const std::uint64_t data_hash =
            transaction_log::marvin32(Bytes(entry + wl::entry_header_size, size - wl::entry_header_size));
        std::memcpy(entry + wl::entry_data_hash, &data_hash, sizeof data_hash);
        const std::uint64_t header_hash = transaction_log::marvin32(Bytes(entry, wl::entry_data_hash + 8));
        std::memcpy(entry + wl::entry_header_hash, &header_hash, sizeof header_hash);
        at += size;
    }
    return log;
}

namespace detail {

// The buffer a log replays or Windows recovery writes into, set to `hive`,
// and kept from one replay or recovery to the next. What a log makes is as
// long as the hive it was written for (2.8 MiB for most seeds); a fresh
// buffer of that size each time cost a page fault for every 4 KiB of it the
// walk read (the orphan scan reads them all) and an unmapping after, several
// times what zeroing the bytes the last replay or recovery wrote costs.
// Those are found by comparing with zeros: the pages no one wrote are all
// the kernel's one zero page, read from cache and left unwritten, so they
// cost neither memory nor faults. The buffer is made with room for
// `compared_bytes`, so growing to the length of most logs' hives moves
// nothing. Past that, a hostile log may ask for hundreds of MiB, and
// comparing those would cost more than the faults: the pages there are
// handed back to the system instead (they read as zeros again), and the
// first `compared_bytes`, where the next logs' pages land, stay mapped.
// (Such a buffer used to be let go, and the fresh one after it faulted page
// by page again: on the inputs a run kept, 450,000 faults against 283,000.)
// Nothing may hold the buffer when this is called.
inline std::shared_ptr<utils::ImageBytes>& kept_image_slot() {
    static std::shared_ptr<utils::ImageBytes> kept;
    return kept;
}

inline std::shared_ptr<utils::ImageBytes> kept_image(Bytes hive) {
    constexpr std::size_t compared_bytes = std::size_t{16} << 20;  // a whole number of pages
    std::shared_ptr<utils::ImageBytes>& kept = kept_image_slot();
    if (!kept || kept.use_count() != 1) {
        kept = std::make_shared<utils::ImageBytes>();
        kept->reserve(compared_bytes);  // address space: untouched pages cost no memory
    }
    // Recovery writes only below the size and never shortens the buffer, so
    // once that much is zero again the whole capacity is, as growing expects.
    constexpr std::size_t chunk = 65536;
    static const std::vector<std::uint8_t> zeros(chunk);
    utils::ImageBytes& image = *kept;
    const std::size_t compared = std::min(image.size(), compared_bytes);
    for (std::size_t at = 0; at < compared; at += chunk) {
        const std::size_t length = std::min(chunk, compared - at);
        if (std::memcmp(image.data() + at, zeros.data(), length) != 0) std::memset(image.data() + at, 0, length);
    }
    if (image.size() > compared_bytes) {
        // Capacity past 1 MiB is an anonymous mapping of its own, starting on
        // a page: after MADV_DONTNEED its pages read as zeros again.
        constexpr std::size_t page = 4096;
        const std::size_t rest = (image.size() - compared_bytes + page - 1) / page * page;
        if (::madvise(image.data() + compared_bytes, rest, MADV_DONTNEED) != 0) {
            std::memset(image.data() + compared_bytes, 0, image.size() - compared_bytes);
        }
    }
    image.resize(hive.size());
    std::copy(hive.begin(), hive.end(), image.begin());
    return kept;
}

}  // namespace detail

struct LogCounts {
    bool parsed = false;
    std::size_t pages = 0;
    bool replayed = false;  // apply_logs succeeded
    WalkCounts replayed_walk;
    std::size_t recovered = 0;  // entries or sectors Windows recovery applied
    WalkCounts recovered_walk;  // after Windows recovery
};

// The input as an "HvLE"/"DIRT" log: parsed, replayed into a small hive,
// loaded and walked. Then as a Windows log: checked hashes are put right and
// it recovers a dirty small hive, which is loaded and walked. Each input does
// both alone or both as a pair of logs (the log with itself), picked by its
// length and last byte: mutations keep changing those, so a run reaches both
// ways for every kind of input at half the work of doing both each time.
//
// The image two copies of a log make holds the same pages as the one copy's
// (byte for byte, for every seed and every input two short runs kept), and
// the orphan scan reads a bin header on every 4 KiB of an image as long as
// the hive the log was written for: only the one copy's image is scanned for
// orphans, the tree of both is walked. Even so the scans were three fifths
// of the target's time on the inputs a run kept (most seeds recover a 2.8 MiB
// hive full of cells), while fuzz_hive and fuzz_recovery run that scan on
// every input of theirs: here it runs for one input in four (half of the
// one-copy ones), enough to show what replayed and recovered images do to
// it. An image past 16 MiB is scanned for one input in 256: a log may claim
// a hive of hundreds of MiB that its pages fill only the start of, and the
// scan of the zeros after them (a page fault every 4 KiB) took a few seeds
// 30 to 40 ms each, where most take one. Both choices are made by
// mixed_bits(): picked by length and last byte, the seeds cut at 16 KiB
// whose last byte is zero made every such choice at once, and so did each
// mutation of them that kept both.
inline LogCounts replay_log(Bytes input) {
    LogCounts counts;
    constexpr std::size_t orphan_scan_bytes = std::size_t{16} << 20;
    const std::size_t bits = pick_bits(input);
    const std::size_t copies = 1 + (bits & 1);
    const std::size_t mixed = mixed_bits(input);
    const bool scans = copies == 1 && (mixed & 1) == 0;
    const bool scans_large = (mixed & 127) == 0;  // so one input in 256, among those that scan
    const auto scans_orphans = [&](const utils::ImageBytes& image) {
        return scans && (image.size() <= orphan_scan_bytes || scans_large);
    };
    if (auto log = transaction_log::TransactionLog::parse(input)) {
        counts.parsed = true;
        counts.pages = log->dirty_pages.size();
        static const ByteVector hive = small_hive();
        const std::shared_ptr<utils::ImageBytes> image = detail::kept_image(hive);
        const std::vector<transaction_log::TransactionLog> logs(copies, *log);
        if (transaction_log::apply_logs(*image, logs)) {
            counts.replayed = true;
            auto loaded = hive::Hive::from_data(hive::HiveData(hive::HiveData::Buffer(image)));
            if (loaded) counts.replayed_walk = walk_hive(**loaded, scans_orphans(*image));
        }
    }  // the hive lets go of the image before the recovery takes it

    const ByteVector windows_log = with_windows_hashes(input);
    // A hive interrupted mid-write (primary = secondary + 1), at the sequence
    // number the log starts from, so its entries are not older than the hive.
    const std::uint32_t sequence = windows_log.size() >= 8 ? *utils::ByteView(windows_log).u32(4) : 1;
    ByteVector hive = small_hive(sequence + 1, sequence);
    // The hive carries the log's file name, so the log counts as its own.
    if (windows_log.size() >= hive::layout::file_name + hive::layout::file_name_size) {
        std::copy_n(windows_log.begin() + hive::layout::file_name, hive::layout::file_name_size,
                    hive.begin() + hive::layout::file_name);
        hive::store_base_block_checksum(hive);
    }
    const std::shared_ptr<utils::ImageBytes> image = detail::kept_image(hive);
    const std::vector<Bytes> logs(copies, Bytes(windows_log));
    const auto report = transaction_log::recover_from_windows_logs(*image, logs);
    counts.recovered = report.entries_applied + report.sectors_applied;
    auto loaded = hive::Hive::from_data(hive::HiveData(hive::HiveData::Buffer(image)));
    if (loaded) counts.recovered_walk = walk_hive(**loaded, scans_orphans(*image));
    return counts;
}

// The string readers, the checked view, value decoding and the rendering of every
// error message, over the input and slices of it.
inline std::size_t read_strings(Bytes input) {
    std::size_t produced = 0;
    std::array<std::uint8_t, 64> fixed{};
    std::copy_n(input.begin(), std::min<std::size_t>(input.size(), fixed.size()), fixed.begin());
    produced += utils::read_fixed_utf16(fixed).size();
    produced += utils::read_ascii_string(input).size();
    if (auto text = utils::read_utf16_string(input, 0)) produced += text->size();
    const std::size_t half = input.size() / 2;
    if (auto text = utils::read_utf16_string(input.subspan(half), static_cast<std::uint32_t>(half))) {
        produced += text->size();
    }
    // The tolerant reader must agree with the strict one wherever that one succeeds.
    for (const Bytes part : {input, input.subspan(half)}) {
        const utils::LossyText lossy = utils::read_utf16_string_lossy(part);
        auto strict = utils::read_utf16_string(part, 0);
        if (strict.has_value() != lossy.clean || (strict && *strict != lossy.text)) __builtin_trap();
        produced += lossy.text.size();
    }
    for (const std::size_t position : {std::size_t{0}, half, input.size(), input.size() + 1, ~std::size_t{0}}) {
        if (auto word = utils::ByteView(input).u32(position)) produced += *word & 1;
    }

    // Numbers for the messages come from the input's first bytes.
    std::array<std::uint8_t, 8> head{};
    std::copy_n(input.begin(), std::min<std::size_t>(input.size(), head.size()), head.begin());
    const std::uint32_t a = *utils::ByteView(head).u32(0);
    const std::uint64_t b = *utils::ByteView(head).u64(0);
    const std::string_view raw(reinterpret_cast<const char*>(input.data()), input.size());
    const std::string_view first4 = raw.substr(0, std::min<std::size_t>(raw.size(), 4));
    const RegistryError errors[] = {
        error::io_error_from_errno(static_cast<int>(a)),
        error::io_error_text(std::string(raw)),
        error::invalid_signature("regf", first4),
        error::invalid_signature(raw, raw),
        error::invalid_format(std::string(raw)),
        error::InvalidOffset{a, b},
        error::InvalidCellSize{static_cast<std::int32_t>(a), a},
        error::NotFound{std::string(raw)},
        error::InvalidUtf16{a},
        error::HiveTooSmall{b, a},
        error::ChecksumMismatch{a, static_cast<std::uint32_t>(b >> 32)},
        error::UnsupportedVersion{a, static_cast<std::uint32_t>(b >> 32)},
        error::TruncatedData{a, b, ~b},
        error::InvalidSubkeyListType{{head[0], head[1]}},
    };
    for (const RegistryError& e : errors) produced += e.message().size();
    produced += error::hex(b).size();

    // Value data under the type named by the first four bytes, and under each known type.
    const Bytes rest = input.subspan(std::min<std::size_t>(input.size(), 4));
    for (std::uint32_t code = 0; code <= 12; ++code) {
        const value::ValueType type = value::ValueType::from_code(code == 12 ? a : code);
        produced += type.name().size();
        if (auto data = value::ValueData::decode(type, rest)) produced += data->to_display_string().size();
    }
    return produced;
}

struct CarveCounts {
    std::size_t items = 0;
    std::size_t opened = 0;   // items that opened as a hive
    std::size_t walked_keys = 0;
};

// The input carved with loose records, the sector way or the memory way as
// a bit of its length and last byte picks (the memory way finds again most
// of what the sector way finds, so carving both ways mostly opened the same
// items twice); the first two items of each kind opened and walked, and the
// first record's pages scanned. Items of one kind go through the same code,
// and an input holds mostly records (nearly nine in ten of the seeds'
// items), so a few of each kind cover what more of them would; the scan of a
// record's pages reads every key it finds there as the scan of a hive does,
// and one is enough to drive it on what the carver made.
inline CarveCounts carve_image(Bytes input) {
    CarveCounts counts;
    auto image = std::make_shared<const hive::HiveData>(hive::HiveData::copy_of(input));
    carve::CarveOptions options;
    options.memory = ((pick_bits(input) >> 2) & 1) == 1;
    options.records = true;
    const carve::CarveResult found = carve::carve(image, options);
    counts.items = found.items.size();
    constexpr std::size_t opened_per_kind = 2;
    std::array<std::size_t, 3> opened_of_kind{};  // by carve::Kind
    bool scanned = false;
    for (const carve::CarvedItem& item : found.items) {
        std::size_t& opened_before = opened_of_kind[static_cast<std::size_t>(item.kind)];
        if (opened_before >= opened_per_kind) continue;
        ++opened_before;
        auto opened = carve::open_item(item);
        if (!opened) continue;
        ++counts.opened;
        counts.walked_keys += walk_hive(**opened).keys;
        if (item.kind == carve::Kind::Record && !scanned) {
            scanned = true;
            (void)scan_deleted(**opened);
        }
    }
    return counts;
}

// The input decoded as an LZNT1 stream, whole and with a small limit.
inline std::size_t decode_lznt1(Bytes input) {
    utils::ImageBytes out;
    const auto whole = carve::lznt1::decode(utils::ByteView(input), out, std::uint64_t{1} << 24);
    utils::ImageBytes limited;
    (void)carve::lznt1::decode(utils::ByteView(input), limited, 4096);
    if (limited.size() > 4096 || out.size() != whole.produced) __builtin_trap();
    return out.size();
}

}  // namespace orvane::fuzz
