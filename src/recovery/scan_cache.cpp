#include "recovery/scan_cache.hpp"

namespace orvane::recovery {

std::shared_ptr<const Recovery> ScanCache::get(const hive::Hive& hive) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (kept_) return kept_;
    if (auto lent = lent_.lock()) return lent;
    auto found = std::make_shared<const Recovery>(Recovery::scan(hive));
    if (found->memory_size() <= hive.data().size()) {
        kept_ = found;
    } else {
        lent_ = found;
    }
    return found;
}

}  // namespace orvane::recovery
