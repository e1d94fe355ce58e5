#include "search/text_runs.hpp"

#include "base/unicode.hpp"
#include "search/text_context.hpp"

namespace orvane::search {

namespace {

bool is_string_type(value::ValueType type) noexcept {
    using Kind = value::ValueType::Kind;
    const Kind kind = type.kind();
    return kind == Kind::String || kind == Kind::ExpandString || kind == Kind::Link || kind == Kind::MultiString;
}

void push_units(std::vector<TextRun>& runs, std::uint64_t offset, const std::u16string& units) {
    TextRun run{offset, Encoding::Utf16Le, {}};
    append_units(run.text, units);
    runs.push_back(std::move(run));
}

// The strings of a string value: units from offset 0, split at U+0000.
void string_pieces(utils::ByteView data, std::vector<TextRun>& runs) {
    const utils::Bytes bytes = data.bytes();
    std::u16string units;
    std::uint64_t start = 0;
    for (std::uint64_t at = 0; data.has(at, 2); at += 2) {
        const std::uint16_t unit = unit_at(bytes, at);
        if (unit == 0) {
            if (!units.empty()) push_units(runs, start, units);
            units.clear();
            start = at + 2;
            continue;
        }
        units.push_back(static_cast<char16_t>(unit));
    }
    if (!units.empty()) push_units(runs, start, units);
}

// Runs of printable UTF-16LE characters starting at offsets of one parity.
void utf16_runs(utils::ByteView data, std::uint64_t parity, std::vector<TextRun>& runs) {
    const utils::Bytes bytes = data.bytes();
    std::u16string units;
    std::uint64_t start = parity;
    const auto flush = [&] {
        if (units.size() >= min_run_characters) push_units(runs, start, units);
        units.clear();
    };
    for (std::uint64_t at = parity; data.has(at, 2); at += 2) {
        const std::uint16_t unit = unit_at(bytes, at);
        if (!printable_unit(unit)) {
            flush();
            start = at + 2;
            continue;
        }
        units.push_back(static_cast<char16_t>(unit));
    }
    flush();
}

void latin1_runs(utils::ByteView data, std::vector<TextRun>& runs) {
    const utils::Bytes bytes = data.bytes();
    std::uint64_t start = 0;
    const auto flush = [&](std::uint64_t end) {
        if (end - start >= min_run_characters) {
            TextRun run{start, Encoding::Latin1, {}};
            for (std::uint64_t i = start; i < end; ++i) base::append_utf8(run.text, bytes[i]);
            runs.push_back(std::move(run));
        }
    };
    for (std::uint64_t at = 0; at < bytes.size(); ++at) {
        if (printable_latin1(bytes[at])) continue;
        flush(at);
        start = at + 1;
    }
    flush(bytes.size());
}

}  // namespace

void text_runs(value::ValueType type, utils::ByteView data, std::vector<TextRun>& runs) {
    if (is_string_type(type)) {
        string_pieces(data, runs);
    } else {
        utf16_runs(data, 0, runs);
        utf16_runs(data, 1, runs);
    }
    latin1_runs(data, runs);
}

std::uint64_t run_byte_offset(const TextRun& run, std::size_t index) noexcept {
    if (run.encoding != Encoding::Utf16Le) return run.offset + index;
    const base::Bytes text = utf8_bytes(run.text);
    std::uint64_t units = 0;
    std::size_t at = 0;
    for (std::size_t i = 0; i < index && at < text.size(); ++i) {
        const base::Utf8Step step = base::decode_utf8_step(text.subspan(at));
        units += step.code_point >= 0x10000 ? 2 : 1;
        at += step.length;
    }
    return run.offset + 2 * units;
}

}  // namespace orvane::search
