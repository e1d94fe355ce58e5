#include "search/text_candidates.hpp"

#include <algorithm>

#include "search/text_context.hpp"

namespace orvane::search {

namespace {

class TextVisitor final : public RecordVisitor {
public:
    void key_name(const Origin& origin, std::string_view name) override {
        TextCandidate& text = add(origin, Place::KeyName);
        text.run = {0, Encoding::Name, std::string(name)};
    }

    void value_name(const Origin& origin, std::string_view name) override {
        TextCandidate& text = add(origin, Place::ValueName);
        text.run = {0, Encoding::Name, std::string(name)};
    }

    void value_data(const Origin& origin, value::ValueType type, utils::ByteView data) override {
        runs_.clear();
        text_runs(type, data, runs_);
        for (TextRun& run : runs_) add(origin, Place::Data).run = std::move(run);
    }

    TextCandidates take() { return std::move(found_); }

private:
    TextCandidate& add(const Origin& origin, Place place) {
        TextCandidate text;
        text.place = place;
        text.deleted = origin.deleted;
        text.key_offset = origin.key_offset;
        text.path = path_index(origin);
        if (place != Place::KeyName) {
            text.value_offset = origin.value_offset;
            text.value_name = name_index(origin);
        }
        return found_.texts.emplace_back(std::move(text));
    }

    // The visitor hands each key's name and values in turn: one entry per
    // key (and per value) is enough, recognised by its offsets.
    std::uint32_t path_index(const Origin& origin) {
        if (!origin.path) return TextCandidates::no_path;
        if (found_.paths.empty() || key_offset_ != origin.key_offset || key_deleted_ != origin.deleted ||
            found_.paths.back() != *origin.path) {
            found_.paths.emplace_back(*origin.path);
            key_offset_ = origin.key_offset;
            key_deleted_ = origin.deleted;
        }
        return static_cast<std::uint32_t>(found_.paths.size() - 1);
    }

    std::uint32_t name_index(const Origin& origin) {
        if (found_.value_names.empty() || value_offset_ != origin.value_offset ||
            found_.value_names.back() != origin.value_name) {
            found_.value_names.emplace_back(origin.value_name);
            value_offset_ = origin.value_offset;
        }
        return static_cast<std::uint32_t>(found_.value_names.size() - 1);
    }

    TextCandidates found_;
    std::vector<TextRun> runs_;
    std::uint32_t key_offset_ = 0;
    bool key_deleted_ = false;
    std::uint32_t value_offset_ = 0;
};

}  // namespace

Checked<TextCandidates> collect_texts(const hive::Hive& hive, const SearchOptions& options,
                                      const recovery::Recovery* deleted) {
    TextVisitor visitor;
    std::vector<SearchProblem> problems;
    ORVANE_TRY(visit_records(hive, options, deleted, visitor, problems));
    TextCandidates found = visitor.take();
    found.problems = std::move(problems);
    return found;
}

Match match_in(const TextCandidates& candidates, std::size_t index, std::size_t start, std::size_t end) {
    const TextCandidate& candidate = candidates.texts[index];
    Match match;
    match.place = candidate.place;
    match.encoding = candidate.run.encoding;
    match.deleted = candidate.deleted;
    if (candidate.path != TextCandidates::no_path) match.path = candidates.paths[candidate.path];
    match.key_offset = candidate.key_offset;
    if (candidate.place != Place::KeyName) {
        match.value_name = candidates.value_names[candidate.value_name];
        match.value_offset = candidate.value_offset;
    }
    end = std::max(start, end);
    match.offset = candidate.run.encoding == Encoding::Name ? start : run_byte_offset(candidate.run, start);
    set_text_context(candidate.run.text, start, end - start, match);
    return match;
}

}  // namespace orvane::search
