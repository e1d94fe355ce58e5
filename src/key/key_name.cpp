#include "key/key_name.hpp"

#include <cstring>

#include "base/unicode.hpp"

namespace orvane::key {

namespace {

// Steps through a UTF-8 text one code point at a time (U+FFFD for an
// ill-formed byte, which decoded names never hold).
class CodePoints {
public:
    explicit CodePoints(std::string_view text) noexcept
        : bytes_(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()) {}
    bool done() const noexcept { return bytes_.empty(); }
    char32_t next() noexcept {
        const base::Utf8Step step = base::decode_utf8_step(bytes_);
        bytes_ = bytes_.subspan(step.length);
        return step.code_point;
    }

private:
    base::Bytes bytes_;
};

}  // namespace

bool key_names_equal(std::string_view a, std::string_view b) noexcept {
    if (a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size()) == 0) return true;
    CodePoints left(a), right(b);
    while (!left.done() && !right.done()) {
        if (base::simple_uppercase(left.next()) != base::simple_uppercase(right.next())) return false;
    }
    return left.done() && right.done();
}

std::uint32_t key_name_hash(std::string_view name) noexcept {
    std::uint32_t hash = 0;
    CodePoints points(name);
    while (!points.done()) {
        const char32_t upper = base::simple_uppercase(points.next());
        if (upper < 0x10000) {
            hash = hash * 37 + static_cast<std::uint32_t>(upper);
        } else {  // a surrogate pair: two units, neither of which has a case
            const std::uint32_t v = static_cast<std::uint32_t>(upper) - 0x10000;
            hash = hash * 37 + (0xD800 + (v >> 10));
            hash = hash * 37 + (0xDC00 + (v & 0x3FF));
        }
    }
    return hash;
}

bool key_name_hint_may_match(std::uint32_t hint, std::string_view name) noexcept {
    const auto ascii_upper = [](std::uint32_t c) { return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c; };
    CodePoints points(name);
    for (unsigned i = 0; i < 4; ++i) {
        const std::uint32_t stored = (hint >> (8 * i)) & 0xFF;
        if (stored >= 0x80) return true;  // how a non-ASCII character is hinted is not relied on
        if (points.done()) return stored == 0;  // a longer stored name fills this byte
        const std::uint32_t wanted = points.next();
        if (wanted >= 0x80) return true;
        if (ascii_upper(stored) != ascii_upper(wanted)) return false;
    }
    return true;
}

}  // namespace orvane::key
