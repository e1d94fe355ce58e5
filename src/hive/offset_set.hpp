#pragma once
// A set of cell offsets, such as the keys a walk has met: one bit per 8-byte
// slot of the image for the aligned offsets (every cell of a sound hive), a
// hash set for any others a damaged hive may name.
//
// The bits come in blocks, each made when an offset in it is first added, so
// a set costs memory and time for the part of the image its offsets reach,
// not for the whole image: a log may grow an image to hundreds of MiB with a
// few pages written, and every walk of it makes several of these sets.

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <unordered_set>
#include <vector>

namespace orvane::hive {

class OffsetSet {
public:
    explicit OffsetSet(std::uint64_t image_size);
    // True when `offset` was not in the set yet.
    bool insert(std::uint32_t offset);
    bool contains(std::uint32_t offset) const;

    // Slots a block of bits covers: 256 KiB of the image in 4 KiB of bits.
    static constexpr std::uint64_t block_slots = std::uint64_t{1} << 15;

private:
    struct Free {
        void operator()(std::uint64_t* bits) const noexcept { std::free(bits); }
    };
    using Block = std::unique_ptr<std::uint64_t[], Free>;
    // The block holding `slot`, made when `make`; null when it is not there
    // (or could not be made: its offsets then go to `others_`).
    std::uint64_t* block_of(std::uint64_t slot, bool make);

    std::uint64_t slots_ = 0;
    std::vector<Block> blocks_;  // up to the last block an offset reached
    std::unordered_set<std::uint32_t> others_;
};

}  // namespace orvane::hive
