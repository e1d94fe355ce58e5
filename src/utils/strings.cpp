#include "utils/strings.hpp"

#include <algorithm>
#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/unicode.hpp"

namespace orvane::utils {

namespace {

using base::append_utf8;
using base::decode_utf8_step;
using base::replacement_character;
using base::Utf8Step;

void strip_trailing_nuls(std::string& text) {
    const auto end = text.find_last_not_of('\0');
    text.erase(end == std::string::npos ? 0 : end + 1);
}

RegistryError invalid_utf16(std::uint32_t offset) {
    return RegistryError(error::InvalidUtf16{offset});
}

// Both decoders append to `out` and return the byte offset of the first
// malformed sequence or unit (`clean` when there is none). Strict decoding
// stops at the first fault (the caller discards `out`); lossy decoding puts
// U+FFFD in place of each bad sequence or unit and goes on.
enum class Faults { Stop, Replace };
constexpr std::size_t clean = static_cast<std::size_t>(-1);

std::size_t decode_utf8(Bytes bytes, Faults faults, std::string& out) {
    std::size_t first_fault = clean;
    out.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        const Utf8Step step = decode_utf8_step(bytes.subspan(at));
        if (!step.valid) {
            if (first_fault == clean) first_fault = at;
            if (faults == Faults::Stop) return first_fault;
            append_utf8(out, replacement_character);
        } else {
            out.append(reinterpret_cast<const char*>(bytes.data() + at), step.length);
        }
        at += step.length;
    }
    return first_fault;
}

std::uint32_t utf16_unit(Bytes bytes, std::size_t i, bool big_endian) {
    const std::uint8_t a = bytes[i], b = bytes[i + 1];
    return big_endian ? (std::uint32_t{a} << 8) | b : (std::uint32_t{b} << 8) | a;
}

#if defined(__SSE2__)
// Eight units at once: bytes [at, at + 16) of `bytes`, which must hold them.
__m128i eight_units(Bytes bytes, std::size_t at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.subspan(at, 16).data()));
}
#endif

// How many units from byte `i` on, before `whole`, are ASCII (below 0x80).
// Most registry text is, so eight units are looked at a time.
std::size_t ascii_units(Bytes bytes, std::size_t i, std::size_t whole, bool big_endian) {
    std::size_t run = 0;
#if defined(__SSE2__)
    // The bits a unit below 0x80 leaves clear, in a 16-bit lane loaded little-endian.
    const __m128i high_bits = _mm_set1_epi16(static_cast<short>(big_endian ? 0x80FF : 0xFF80));
    for (; i + 2 * run + 16 <= whole; run += 8) {
        const __m128i units = eight_units(bytes, i + 2 * run);
        const int ascii = _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(units, high_bits), _mm_setzero_si128()));
        // Each lane gives two mask bits: the first lane that is not ASCII ends the run.
        if (ascii != 0xFFFF) return run + static_cast<std::size_t>(std::countr_one(static_cast<unsigned>(ascii))) / 2;
    }
#endif
    while (i + 2 * run < whole && utf16_unit(bytes, i + 2 * run, big_endian) < 0x80) ++run;
    return run;
}

// Writes the `run` ASCII units from byte `i` on as their bytes, to `out`.
void copy_ascii_units(Bytes bytes, std::size_t i, std::size_t run, bool big_endian, char* out) {
    std::size_t k = 0;
#if defined(__SSE2__)
    for (; k + 8 <= run; k += 8) {
        __m128i units = eight_units(bytes, i + 2 * k);
        if (big_endian) units = _mm_srli_epi16(units, 8);
        // Each lane holds a value below 0x80, which the saturating pack keeps as it is.
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k), _mm_packus_epi16(units, units));
    }
#endif
    const std::size_t low = big_endian ? 1 : 0;
    for (; k < run; ++k) out[k] = static_cast<char>(bytes[i + 2 * k + low]);
}

std::size_t decode_utf16(Bytes bytes, bool big_endian, Faults faults, std::string& out) {
    std::size_t first_fault = clean;
    // A trailing odd byte is a unit cut in half.
    const std::size_t whole = bytes.size() & ~std::size_t{1};
    out.reserve(bytes.size());
    auto unit = [&](std::size_t i) { return utf16_unit(bytes, i, big_endian); };
    auto bad = [&](std::size_t at) {
        if (first_fault == clean) first_fault = at;
        append_utf8(out, replacement_character);
        return faults == Faults::Replace;
    };
    for (std::size_t i = 0; i < whole; i += 2) {
        // Most registry text is ASCII: a run of such units is written at once,
        // each its own UTF-8 byte, without a capacity check per byte.
        const std::size_t run = ascii_units(bytes, i, whole, big_endian);
        if (run > 0) {
            const std::size_t at = out.size();
            out.resize(at + run);
            copy_ascii_units(bytes, i, run, big_endian, out.data() + at);
            i += 2 * run;
            if (i >= whole) break;
        }
        const std::uint32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF) {
            const std::uint32_t low = i + 4 <= whole ? unit(i + 2) : 0;
            if (low < 0xDC00 || low > 0xDFFF) {
                if (!bad(i)) return first_fault;
                continue;  // the next unit is read on its own
            }
            append_utf8(out, static_cast<char32_t>(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00)));
            i += 2;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            if (!bad(i)) return first_fault;
        } else {
            append_utf8(out, static_cast<char32_t>(u));
        }
    }
    if (whole != bytes.size()) bad(whole);
    return first_fault;
}

// The byte-order mark decides the decoder; without one the text is UTF-16LE.
// The fault offset counts from the start of `bytes`, mark included.
std::size_t decode_marked_utf16(Bytes bytes, Faults faults, std::string& out) {
    const auto after_mark = [](std::size_t fault, std::size_t mark) { return fault == clean ? clean : fault + mark; };
    if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        return after_mark(decode_utf8(bytes.subspan(3), faults, out), 3);
    }
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        return after_mark(decode_utf16(bytes.subspan(2), false, faults, out), 2);
    }
    if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        return after_mark(decode_utf16(bytes.subspan(2), true, faults, out), 2);
    }
    return decode_utf16(bytes, false, faults, out);
}

std::uint32_t narrow_offset(std::size_t at) {
    return static_cast<std::uint32_t>(std::min<std::size_t>(at, UINT32_MAX));
}

}  // namespace

std::string read_fixed_utf16(std::span<const std::uint8_t, 64> bytes) {
    std::string out;
    const auto unit = [&](std::size_t i) -> char32_t { return char32_t{bytes[i]} | char32_t{bytes[i + 1]} << 8; };
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        const char32_t u = unit(i);
        if (u == 0) break;
        const bool high = u >= 0xD800 && u <= 0xDBFF;
        if (high && i + 4 <= bytes.size() && unit(i + 2) >= 0xDC00 && unit(i + 2) <= 0xDFFF) {
            append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (unit(i + 2) - 0xDC00));
            i += 2;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            append_utf8(out, replacement_character);
        } else {
            append_utf8(out, u);
        }
    }
    return out;
}

std::string read_ascii_string(Bytes bytes) {
    std::string out;
    // Most names are plain ASCII, which is its own UTF-8: copied whole.
    const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b < 0x80; });
    if (ascii) {
        out.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    } else {
        out.reserve(bytes.size() * 2);
        for (const std::uint8_t b : bytes) append_utf8(out, b);
    }
    strip_trailing_nuls(out);
    return out;
}

Result<std::string> read_utf16_string(Bytes bytes, std::uint32_t offset) {
    std::string text;
    if (!read_utf16_string_into(bytes, text)) return error::unexpected(invalid_utf16(offset));
    return text;
}

bool read_utf16_string_into(Bytes bytes, std::string& text) {
    text.clear();
    // An odd length fails before the content is looked at.
    if (bytes.size() % 2 != 0) return false;
    if (decode_marked_utf16(bytes, Faults::Stop, text) != clean) return false;
    strip_trailing_nuls(text);
    return true;
}

LossyText read_utf16_string_lossy(Bytes bytes) {
    LossyText result;
    // Clean exactly when the strict reader succeeds: that one refuses an odd
    // length even where a UTF-8 mark makes the rest readable.
    result.clean = decode_marked_utf16(bytes, Faults::Replace, result.text) == clean && bytes.size() % 2 == 0;
    strip_trailing_nuls(result.text);
    return result;
}

Result<std::string> read_utf16_string_at_fault(Bytes bytes) {
    std::string text;
    const std::size_t fault = decode_marked_utf16(bytes, Faults::Stop, text);
    if (fault != clean) return error::unexpected(invalid_utf16(narrow_offset(fault)));
    // An odd length is a unit cut in half at the last byte.
    if (bytes.size() % 2 != 0) return error::unexpected(invalid_utf16(narrow_offset(bytes.size() - 1)));
    strip_trailing_nuls(text);
    return text;
}

Result<WindowsString> read_windows_string(Bytes bytes) {
    auto whole = read_utf16_string_at_fault(bytes);
    if (whole) return WindowsString{std::move(*whole), {}};
    // The first U+0000 at an even offset ends the string as Windows reads it;
    // what follows is stale and kept apart.
    for (std::size_t i = 0; i + 2 <= bytes.size(); i += 2) {
        if (bytes[i] != 0 || bytes[i + 1] != 0) continue;
        auto prefix = read_utf16_string_at_fault(bytes.first(i));
        if (!prefix) return error::unexpected(std::move(prefix).error());
        return WindowsString{std::move(*prefix), bytes.subspan(i + 2)};
    }
    return error::unexpected(std::move(whole).error());
}

Result<std::string> read_utf16_name(Bytes bytes, std::uint32_t offset, error::ProblemLog* problems) {
    if (!problems) return read_utf16_string(bytes, offset);
    LossyText name = read_utf16_string_lossy(bytes);
    if (!name.clean) {
        problems->note(invalid_utf16(offset).message() + ", read with U+FFFD in place of each bad unit");
    }
    return std::move(name.text);
}

}  // namespace orvane::utils
