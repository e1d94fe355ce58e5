#pragma once
// A literal pattern searched for in a whole hive, in one walk: every match
// in key names, value names and value data (see literal_matcher.hpp for how
// data is matched, record_visit.hpp for what is walked).

#include <vector>

#include "error/failure.hpp"
#include "hive/hive.hpp"
#include "search/literal_matcher.hpp"
#include "search/match.hpp"
#include "search/record_visit.hpp"

namespace orvane::search {

struct Found {
    // In walk order: for each key its name's first match, then per value its
    // name's first match and every match in its data.
    std::vector<Match> matches;
    std::vector<SearchProblem> problems;  // what the walk went on past
};

// Fails as visit_records() does.
[[nodiscard]] Checked<Found> find_literal(const hive::Hive& hive, const LiteralMatcher& matcher,
                                          const SearchOptions& options, const recovery::Recovery* deleted = nullptr);

}  // namespace orvane::search
