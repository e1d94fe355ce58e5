#include "search/text_context.hpp"

#include <algorithm>

#include "base/unicode.hpp"

namespace orvane::search {

namespace {

bool is_surrogate(std::uint16_t unit) noexcept { return unit >= 0xD800 && unit <= 0xDFFF; }

// The UTF-8 byte position of character `index` of `text` (its end when it
// has fewer).
std::size_t position_of(std::string_view text, std::size_t index) noexcept {
    const base::Bytes all = utf8_bytes(text);
    std::size_t at = 0;
    for (std::size_t i = 0; i < index && at < all.size(); ++i) at += base::decode_utf8_step(all.subspan(at)).length;
    return at;
}

}  // namespace

bool printable_unit(std::uint16_t unit) noexcept {
    if (unit < 0x80) return unit >= 0x20 && unit < 0x7F;
    if (unit < 0x100) return unit >= 0xA0;
    return (unit & 0xFF) != 0 && !is_surrogate(unit) && base::is_printable(unit);
}

bool printable_latin1(std::uint8_t byte) noexcept { return (byte >= 0x20 && byte < 0x7F) || byte >= 0xA0; }

void append_units(std::string& out, std::u16string_view units) {
    for (std::size_t i = 0; i < units.size(); ++i) {
        const std::uint16_t unit = units[i];
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            base::append_utf8(out, 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else {
            base::append_utf8(out, is_surrogate(unit) ? base::replacement_character : char32_t{unit});
        }
    }
}

void set_data_context(utils::ByteView data, const DataHit& hit, Match& match) {
    const utils::Bytes bytes = data.bytes();
    match.before.clear();
    match.text.clear();
    match.after.clear();
    if (!data.has(hit.offset, hit.length)) return;
    const std::uint64_t end = hit.offset + hit.length;
    if (hit.encoding == Encoding::Latin1) {
        std::uint64_t from = hit.offset;
        while (from > 0 && hit.offset - from < context_characters && printable_latin1(bytes[from - 1])) --from;
        std::uint64_t to = end;
        while (to < bytes.size() && to - end < context_characters && printable_latin1(bytes[to])) ++to;
        const auto latin1 = [&](std::string& out, std::uint64_t a, std::uint64_t b) {
            for (std::uint64_t i = a; i < b; ++i) base::append_utf8(out, bytes[i]);
        };
        latin1(match.before, from, hit.offset);
        latin1(match.text, hit.offset, end);
        latin1(match.after, end, to);
        return;
    }
    std::u16string units;
    const auto take = [&](std::uint64_t a, std::uint64_t b) {
        units.clear();
        for (std::uint64_t i = a; i + 2 <= b; i += 2) units.push_back(static_cast<char16_t>(unit_at(bytes, i)));
        return std::u16string_view(units);
    };
    // Around a match of Latin-1 characters the context keeps to them too:
    // in binary data the bytes before a string (its length, flags) often
    // read as printable units of other scripts.
    bool narrow = true;
    for (std::uint64_t i = hit.offset; i + 2 <= end; i += 2) narrow = narrow && unit_at(bytes, i) < 0x100;
    const auto context_unit = [&](std::uint64_t at) {
        const std::uint16_t unit = unit_at(bytes, at);
        return printable_unit(unit) && (!narrow || unit < 0x100);
    };
    std::uint64_t from = hit.offset;
    while (from >= 2 && (hit.offset - from) / 2 < context_characters && context_unit(from - 2)) from -= 2;
    std::uint64_t to = end;
    while (data.has(to, 2) && (to - end) / 2 < context_characters && context_unit(to)) to += 2;
    append_units(match.before, take(from, hit.offset));
    append_units(match.text, take(hit.offset, end));
    append_units(match.after, take(end, to));
}

void set_text_context(std::string_view text, std::size_t start, std::size_t length, Match& match) {
    const std::size_t from = position_of(text, start > context_characters ? start - context_characters : 0);
    const std::size_t begin = position_of(text, start);
    const std::size_t end = begin + position_of(text.substr(begin), length);
    const std::size_t to = end + position_of(text.substr(end), context_characters);
    match.before.assign(text.substr(from, begin - from));
    match.text.assign(text.substr(begin, end - begin));
    match.after.assign(text.substr(end, to - end));
}

}  // namespace orvane::search
