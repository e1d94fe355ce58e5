#include "search/find_literal.hpp"

#include "search/text_context.hpp"

namespace orvane::search {

namespace {

Match match_at(const Origin& origin, Place place, Encoding encoding) {
    Match match;
    match.place = place;
    match.encoding = encoding;
    match.deleted = origin.deleted;
    if (origin.path) match.path.emplace(*origin.path);
    match.key_offset = origin.key_offset;
    if (place != Place::KeyName) {
        match.value_name.assign(origin.value_name);
        match.value_offset = origin.value_offset;
    }
    return match;
}

class LiteralVisitor final : public RecordVisitor {
public:
    explicit LiteralVisitor(const LiteralMatcher& matcher) noexcept : matcher_(matcher) {}

    void key_name(const Origin& origin, std::string_view name) override { name_hit(origin, Place::KeyName, name); }
    void value_name(const Origin& origin, std::string_view name) override {
        name_hit(origin, Place::ValueName, name);
    }

    void value_data(const Origin& origin, value::ValueType, utils::ByteView data) override {
        hits_.clear();
        matcher_.find_in_data(data, hits_);
        for (const DataHit& hit : hits_) {
            Match match = match_at(origin, Place::Data, hit.encoding);
            match.offset = hit.offset;
            set_data_context(data, hit, match);
            matches_.push_back(std::move(match));
        }
    }

    std::vector<Match> take() { return std::move(matches_); }

private:
    void name_hit(const Origin& origin, Place place, std::string_view name) {
        const auto hit = matcher_.find_in_name(name);
        if (!hit) return;
        Match match = match_at(origin, place, Encoding::Name);
        match.offset = hit->start;
        set_text_context(name, hit->start, hit->length, match);
        matches_.push_back(std::move(match));
    }

    const LiteralMatcher& matcher_;
    std::vector<DataHit> hits_;  // scratch, one value's
    std::vector<Match> matches_;
};

}  // namespace

Checked<Found> find_literal(const hive::Hive& hive, const LiteralMatcher& matcher, const SearchOptions& options,
                            const recovery::Recovery* deleted) {
    LiteralVisitor visitor(matcher);
    Found found;
    ORVANE_TRY(visit_records(hive, options, deleted, visitor, found.problems));
    found.matches = visitor.take();
    return found;
}

}  // namespace orvane::search
