#include "error/problem_log.hpp"

#include <functional>

namespace orvane::error {

void ProblemLog::note(std::string line) {
    const std::lock_guard lock(mutex_);
    if (listed_set_.contains(line)) return;
    if (listed_.size() < listed_limit) {
        listed_.push_back(std::move(line));
        listed_set_.insert(listed_.back());
        return;
    }
    if (unlisted_saturated_) {
        ++unlisted_;
        return;
    }
    if (unlisted_hashes_.insert(std::hash<std::string>{}(line)).second) ++unlisted_;
    if (unlisted_hashes_.size() >= counted_limit) {
        unlisted_saturated_ = true;
        unlisted_hashes_ = {};
    }
}

void ProblemLog::note(std::string_view what, const RegistryError& error) {
    std::string line(what);
    line += ": ";
    line += error.message();
    note(std::move(line));
}

std::vector<std::string> ProblemLog::lines() const {
    const std::lock_guard lock(mutex_);
    std::vector<std::string> out(listed_.begin(), listed_.end());
    if (unlisted_ != 0) {
        out.push_back((unlisted_saturated_ ? "At least " : "") + std::to_string(unlisted_) +
                      (unlisted_ == 1 ? " more problem not listed" : " more problems not listed"));
    }
    return out;
}

}  // namespace orvane::error
