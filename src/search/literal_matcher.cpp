#include "search/literal_matcher.hpp"

#include "base/unicode.hpp"
#include "search/text_context.hpp"

namespace orvane::search {

Result<LiteralMatcher> LiteralMatcher::create(std::string_view pattern, bool case_sensitive) {
    if (pattern.empty()) return error::fail(error::invalid_format("The search pattern is empty"));
    LiteralMatcher matcher(case_sensitive ? no_folding() : case_folding());
    bool latin1 = true;
    base::Bytes rest = utf8_bytes(pattern);
    while (!rest.empty()) {
        const base::Utf8Step step = base::decode_utf8_step(rest);
        if (!step.valid) return error::fail(error::invalid_format("The search pattern is not valid UTF-8"));
        rest = rest.subspan(step.length);
        const char32_t cp = step.code_point;
        matcher.code_points_.push_back(matcher.fold_->code_point(cp));
        if (cp < 0x10000) {
            matcher.units_.push_back(matcher.fold_->units[cp]);
        } else {
            const char32_t v = cp - 0x10000;
            matcher.units_.push_back(static_cast<std::uint16_t>(0xD800 + (v >> 10)));
            matcher.units_.push_back(static_cast<std::uint16_t>(0xDC00 + (v & 0x3FF)));
        }
        if (cp < 0x100) {
            matcher.latin1_.push_back(matcher.fold_->latin1[cp]);
        } else {
            latin1 = false;
        }
    }
    if (!latin1) matcher.latin1_.clear();
    return matcher;
}

std::optional<NameHit> LiteralMatcher::find_in_name(std::string_view name) const noexcept {
    // Names are short: each start is tried in turn, decoding as it compares.
    base::Bytes start = utf8_bytes(name);
    for (std::size_t index = 0; !start.empty(); ++index) {
        base::Bytes at = start;
        std::size_t matched = 0;
        while (matched < code_points_.size() && !at.empty()) {
            const base::Utf8Step step = base::decode_utf8_step(at);
            if (fold_->code_point(step.code_point) != code_points_[matched]) break;
            at = at.subspan(step.length);
            ++matched;
        }
        if (matched == code_points_.size()) return NameHit{index, matched};
        if (at.empty() && matched > 0) return std::nullopt;  // too few characters left for any later start
        start = start.subspan(base::decode_utf8_step(start).length);
    }
    return std::nullopt;
}

bool LiteralMatcher::utf16_at(utils::Bytes bytes, std::size_t at) const noexcept {
    // The caller has checked that 2 * units_.size() bytes lie at `at`.
    for (std::size_t i = 0; i < units_.size(); ++i) {
        if (fold_->units[unit_at(bytes, at + 2 * i)] != units_[i]) return false;
    }
    return true;
}

bool LiteralMatcher::latin1_at(utils::Bytes bytes, std::size_t at) const noexcept {
    for (std::size_t i = 0; i < latin1_.size(); ++i) {
        if (fold_->latin1[bytes[at + i]] != latin1_[i]) return false;
    }
    return true;
}

void LiteralMatcher::find_in_data(utils::ByteView data, std::vector<DataHit>& hits) const {
    const utils::Bytes bytes = data.bytes();
    const std::size_t utf16_length = 2 * units_.size();
    const std::size_t latin1_length = latin1_.size();
    std::uint64_t next_utf16 = 0;
    std::uint64_t next_latin1 = 0;
    std::uint64_t utf16_end = 0;  // where the last UTF-16LE hit ends
    const std::size_t shortest = latin1_length ? latin1_length : utf16_length;
    for (std::size_t at = 0; data.has(at, shortest); ++at) {
        if (at >= next_utf16 && data.has(at, utf16_length) && utf16_at(bytes, at)) {
            hits.push_back({at, utf16_length, Encoding::Utf16Le});
            next_utf16 = utf16_end = at + utf16_length;
        }
        if (latin1_length && at >= next_latin1 && at >= utf16_end && latin1_at(bytes, at)) {
            hits.push_back({at, latin1_length, Encoding::Latin1});
            next_latin1 = at + latin1_length;
        }
    }
}

}  // namespace orvane::search
