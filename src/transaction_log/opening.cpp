#include "transaction_log/opening.hpp"

#include <dirent.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "transaction_log/open_with_logs.hpp"

namespace orvane::transaction_log {

namespace {

constexpr std::array<std::string_view, 3> log_suffixes{".LOG1", ".LOG2", ".LOG"};
constexpr std::size_t max_logs = 2;  // open_with_logs takes two

std::string upper_ascii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

// The names in the folder, in byte order; empty when it cannot be listed.
std::vector<std::string> folder_entries(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = ::readdir(dir)) names.emplace_back(entry->d_name);
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

bool is_dirty(const hive::Hive& hive) {
    return hive.base_block().primary_sequence != hive.base_block().secondary_sequence;
}

std::string sequence_text(const hive::Hive& hive) {
    return "sequence numbers " + std::to_string(hive.base_block().primary_sequence) + "/" +
           std::to_string(hive.base_block().secondary_sequence);
}

std::string state(const hive::Hive& hive) {
    return std::string(is_dirty(hive) ? "still dirty" : "clean") + " (" + sequence_text(hive) + ")";
}

std::string joined(const std::vector<std::string>& paths) {
    std::string out;
    for (const std::string& path : paths) out += (out.empty() ? "" : ", ") + path;
    return out;
}

Opening opening(std::shared_ptr<const hive::Hive> hive, std::string note) {
    Opening result;
    result.dirty = is_dirty(*hive);
    result.hive = std::move(hive);
    result.note.emplace(std::move(note));
    return result;
}

// A hive with nothing to tell. (An empty std::optional<std::string> passed
// along by value makes g++ 12 under the sanitizers warn of a string that may
// be used uninitialized.)
Opening opening(std::shared_ptr<const hive::Hive> hive) {
    Opening result;
    result.dirty = is_dirty(*hive);
    result.hive = std::move(hive);
    return result;
}

Result<Opening> open_tolerant(const std::string& path, const std::vector<std::string>& logs) {
    ORVANE_ASSIGN_OR_RETURN(std::shared_ptr<const hive::Hive> hive, hive::Hive::open_tolerant(path));
    if (!logs.empty()) {
        std::string note = "logs not applied in a tolerant reading (" + joined(logs) + "); " + state(*hive);
        return opening(std::move(hive), std::move(note));
    }
    if (!is_dirty(*hive)) return opening(std::move(hive));
    std::string note = "dirty (" + sequence_text(*hive) + "), read tolerantly without logs";
    return opening(std::move(hive), std::move(note));
}

}  // namespace

std::vector<std::string> logs_beside(const std::string& hive_path) {
    const std::size_t slash = hive_path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : hive_path.substr(0, slash + 1);
    const std::string prefix = slash == std::string::npos ? "" : hive_path.substr(0, slash + 1);
    const std::string name = upper_ascii(slash == std::string::npos ? hive_path : hive_path.substr(slash + 1));
    const std::vector<std::string> entries = folder_entries(folder);
    std::vector<std::string> found;
    for (const std::string_view suffix : log_suffixes) {
        const std::string wanted = name + std::string(suffix);
        const std::string* match = nullptr;
        for (const std::string& entry : entries) {
            if (upper_ascii(entry) == wanted) match = &entry;
        }
        if (match != nullptr && found.size() < max_logs) found.push_back(prefix + *match);
    }
    return found;
}

Result<Opening> open_hive(const OpeningRequest& request) {
    const std::vector<std::string> logs = request.logs == LogChoice::Found  ? logs_beside(request.path)
                                          : request.logs == LogChoice::Named ? request.named
                                                                             : std::vector<std::string>{};
    if (request.tolerant) return open_tolerant(request.path, logs);
    if (!logs.empty()) {
        const std::optional<std::string> log1 = logs[0];
        const std::optional<std::string> log2 = logs.size() > 1 ? std::optional<std::string>(logs[1]) : std::nullopt;
        auto replayed = open_with_logs(request.path, log1, log2);
        if (replayed) {
            std::shared_ptr<const hive::Hive> hive = std::move(*replayed);
            const std::vector<std::string>& applied = hive->applied_logs();
            std::string note = "logs applied: " + (applied.empty() ? std::string("none") : joined(applied)) + "; " +
                               state(*hive);
            const bool applied_any = !applied.empty();
            Opening result = opening(std::move(hive), std::move(note));
            result.routine = applied_any && !result.dirty;
            return result;
        }
        // A file that cannot be read fails whatever the logs; a replay that
        // fails leaves found logs out, and fails the hive with named ones.
        if (request.logs != LogChoice::Found || replayed.error().is<error::Io>()) {
            return error::unexpected(std::move(replayed).error());
        }
        const std::string reason = replayed.error().message();
        ORVANE_ASSIGN_OR_RETURN(std::shared_ptr<const hive::Hive> hive, hive::Hive::open(request.path));
        std::string note = "logs left out (" + joined(logs) + "): " + reason + "; " + state(*hive);
        return opening(std::move(hive), std::move(note));
    }
    ORVANE_ASSIGN_OR_RETURN(std::shared_ptr<const hive::Hive> hive, hive::Hive::open(request.path));
    if (!is_dirty(*hive)) return opening(std::move(hive));
    const char* why = request.logs == LogChoice::Found ? "no logs found beside it" : "read without logs";
    std::string note = "dirty (" + sequence_text(*hive) + "), " + why;
    return opening(std::move(hive), std::move(note));
}

}  // namespace orvane::transaction_log
