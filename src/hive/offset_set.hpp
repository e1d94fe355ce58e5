#pragma once
// A set of cell offsets, such as the keys a walk has met: one bit per 8-byte
// slot of the image for the aligned offsets (every cell of a sound hive), a
// hash set for any others a damaged hive may name.

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <unordered_set>

namespace orvane::hive {

class OffsetSet {
public:
    explicit OffsetSet(std::uint64_t image_size);
    // True when `offset` was not in the set yet.
    bool insert(std::uint32_t offset);
    bool contains(std::uint32_t offset) const;

private:
    std::uint64_t slots_ = 0;
    std::unique_ptr<std::uint64_t[], decltype(&std::free)> bits_{nullptr, &std::free};
    std::unordered_set<std::uint32_t> others_;
};

}  // namespace orvane::hive
