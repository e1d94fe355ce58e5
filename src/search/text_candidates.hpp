#pragma once
// The texts of a whole hive that a pattern the core cannot match itself (a
// regular expression) is tested on: each key name, value name and text run
// of value data (text_runs.hpp), gathered in one walk. The caller tests each
// text and turns the spans it matches back into matches with match_in().
//
// Paths are kept once per key, not per text.

#include <cstdint>
#include <string>
#include <vector>

#include "error/failure.hpp"
#include "hive/hive.hpp"
#include "search/match.hpp"
#include "search/record_visit.hpp"
#include "search/text_runs.hpp"

namespace orvane::search {

struct TextCandidate {
    Place place = Place::KeyName;
    bool deleted = false;
    std::uint32_t path = 0;  // index into TextCandidates::paths, or no_path
    std::uint32_t key_offset = 0;
    std::uint32_t value_offset = 0;
    std::uint32_t value_name = 0;  // index into TextCandidates::value_names (not for a key name)
    TextRun run;  // a name: its whole text, Encoding::Name, offset 0
};

struct TextCandidates {
    static constexpr std::uint32_t no_path = 0xFFFFFFFF;
    std::vector<std::string> paths;
    std::vector<std::string> value_names;
    std::vector<TextCandidate> texts;
    std::vector<SearchProblem> problems;  // what the walk went on past
};

// In walk order. Fails as visit_records() does.
[[nodiscard]] Checked<TextCandidates> collect_texts(const hive::Hive& hive, const SearchOptions& options,
                                                    const recovery::Recovery* deleted = nullptr);

// The match of characters [start, end) of texts[index]; the caller has
// checked that index is in range, and start and end are clamped to the text.
Match match_in(const TextCandidates& candidates, std::size_t index, std::size_t start, std::size_t end);

}  // namespace orvane::search
