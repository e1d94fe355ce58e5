#pragma once
// What a tolerant read skipped or repaired, as one-line messages.
//
// A hive opened tolerantly keeps one log for its whole life; any thread reading
// the hive may add to it. Lines keep the order they were first noted in, a
// line noted again is dropped, and only the first `listed_limit` distinct lines
// are kept: after that the log only counts, so a hive damaged everywhere cannot
// make it grow without end.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "error/registry_error.hpp"

namespace orvane::error {

class ProblemLog {
public:
    static constexpr std::size_t listed_limit = 10'000;
    // Lines past the listed ones are told apart by a hash; past this many the
    // count goes on without telling repeats apart, and says so.
    static constexpr std::size_t counted_limit = 1'000'000;

    ProblemLog() = default;
    ProblemLog(const ProblemLog&) = delete;
    ProblemLog& operator=(const ProblemLog&) = delete;

    void note(std::string line);
    // `what` then ": " and the error's message, e.g.
    // "Skipped subkey at offset 0x20: Invalid cell size 0 at offset 0x20".
    void note(std::string_view what, const RegistryError& error);

    // The listed lines in the order noted, then, when lines went unlisted, one
    // line saying how many.
    std::vector<std::string> lines() const;

private:
    mutable std::mutex mutex_;
    std::deque<std::string> listed_;  // a deque never moves its elements, so the views below stay valid
    std::unordered_set<std::string_view> listed_set_;
    std::unordered_set<std::size_t> unlisted_hashes_;
    std::uint64_t unlisted_ = 0;
    bool unlisted_saturated_ = false;
};

}  // namespace orvane::error
