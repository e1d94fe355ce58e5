#include "carve/compression_units.hpp"

#include <algorithm>
#include <utility>
#include <vector>

#include "carve/lznt1.hpp"

namespace orvane::carve {

namespace {

constexpr std::uint64_t clusters_per_unit = 16;

std::uint64_t round_up(std::uint64_t value, std::uint64_t step) { return (value + step - 1) / step * step; }

bool power_of_two(std::uint64_t value) { return value != 0 && (value & (value - 1)) == 0; }

bool unit_size(std::uint64_t unit) {
    return power_of_two(unit) && unit >= smallest_unit && unit <= largest_unit;
}

// The run on the assumption that the first unit decodes to `decoded` from
// `consumed` bytes and that units are `unit` bytes long.
UnitRun follow(utils::ByteView image, std::uint64_t at, utils::ImageBytes decoded, std::uint64_t consumed,
               std::uint64_t unit, std::uint64_t wanted, bool sized) {
    UnitRun run;
    run.end = at + consumed;
    if (decoded.size() < wanted && unit_size(unit)) {
        const std::uint64_t cluster = unit / clusters_per_unit;
        std::uint64_t next = at + round_up(consumed, cluster);
        while (decoded.size() < wanted && next < image.size()) {
            const std::size_t before = decoded.size();
            const lznt1::Decoded more = lznt1::decode(image.rest(next), decoded, unit);
            const std::uint64_t got = decoded.size() - before;
            if (more.clean && got > 0 && (got == unit || before + got >= wanted)) {
                next += round_up(more.consumed, cluster);
            } else if (sized) {
                decoded.resize(before);
                // A unit that compression would not shrink is stored as it is.
                const std::uint64_t length = std::min({unit, wanted - before, image.size() - next});
                const utils::ByteView raw = image.rest(next).first(length);
                decoded.insert(decoded.end(), raw.bytes().begin(), raw.bytes().end());
                ++run.raw_units;
                next += length;
                if (length < unit) {
                    run.end = std::min(next, image.size());
                    break;
                }
            } else {
                decoded.resize(before);
                break;
            }
            run.end = std::min(next, image.size());
        }
    }
    if (decoded.size() > wanted) decoded.resize(wanted);
    run.decoded = std::move(decoded);
    return run;
}

// Whether `a` reads the units better than `b`: fewer units taken as stored
// (a wrong unit size lands in padding or mid-stream, which then does not
// decode), then more bytes decoded.
bool better(const UnitRun& a, const UnitRun& b) {
    if (a.raw_units != b.raw_units) return a.raw_units < b.raw_units;
    return a.decoded.size() > b.decoded.size();
}

}  // namespace

UnitRun decode_unit_run(utils::ByteView image, std::uint64_t at, utils::ImageBytes first, std::uint64_t first_consumed,
                        std::uint64_t wanted, bool sized) {
    const std::uint64_t decoded = first.size();
    // A unit whose chunks fill its clusters exactly has no zero header after
    // it, so the first decode ran on into the next unit and its size says
    // nothing. Each smaller unit size at which the stream reaches the unit's
    // end exactly on one of its cluster boundaries, within the 15 clusters a
    // stored-compressed unit may take, could be such a unit; but a stream
    // inside one larger unit meets that by chance as often, so each such size
    // is followed through the run and the one that reads it best kept. Only
    // a strictly better run displaces the one the first decode gives.
    struct Candidate {
        std::uint64_t unit;
        std::uint64_t consumed;  // image bytes its first unit takes
    };
    std::vector<Candidate> candidates;
    for (std::uint64_t unit = smallest_unit; unit < decoded && unit <= largest_unit; unit *= 2) {
        utils::ImageBytes probe;
        const lznt1::Decoded part = lznt1::decode(image.rest(at), probe, unit);
        const std::uint64_t cluster = unit / clusters_per_unit;
        if (probe.size() == unit && part.consumed % cluster == 0 && part.consumed <= (clusters_per_unit - 1) * cluster) {
            candidates.push_back({unit, part.consumed});
        }
    }
    utils::ImageBytes copy = candidates.empty() ? utils::ImageBytes() : first;
    UnitRun best = follow(image, at, std::move(first), first_consumed, decoded, wanted, sized);
    for (const Candidate& candidate : candidates) {
        utils::ImageBytes prefix(copy.begin(), copy.begin() + static_cast<std::ptrdiff_t>(candidate.unit));
        UnitRun other = follow(image, at, std::move(prefix), candidate.consumed, candidate.unit, wanted, sized);
        if (better(other, best)) best = std::move(other);
    }
    return best;
}

}  // namespace orvane::carve
