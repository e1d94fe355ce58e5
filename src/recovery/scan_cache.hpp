#pragma once
// One hive's scan for deleted records, made once and shared by the calls that
// need it, so that listing the deleted keys and then the deleted values
// costs one scan.

#include <cstdint>
#include <memory>
#include <mutex>

#include "hive/hive.hpp"
#include "recovery/recovery.hpp"

namespace orvane::recovery {

class ScanCache {
public:
    // The scan of `hive` (always the same hive for one cache), made on the
    // first call. A thread that asks while another scans waits for that scan
    // instead of making its own. The result is kept for later calls while its
    // memory is at most the image's size (every sound hive: it holds only the
    // records found and the free space map); a larger one, which only free
    // space crowded with small look-alike records can make, is kept only as
    // long as a caller still holds it.
    std::shared_ptr<const Recovery> get(const hive::Hive& hive);

private:
    std::mutex mutex_;
    std::shared_ptr<const Recovery> kept_;
    std::weak_ptr<const Recovery> lent_;
};

}  // namespace orvane::recovery
