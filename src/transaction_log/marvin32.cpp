#include "transaction_log/marvin32.hpp"

#include <bit>

namespace orvane::transaction_log {

namespace {

struct State {
    std::uint32_t s0;
    std::uint32_t s1;

    void mix() noexcept {
        s1 ^= s0;
        s0 = std::rotl(s0, 20);
        s0 += s1;
        s1 = std::rotl(s1, 9);
        s1 ^= s0;
        s0 = std::rotl(s0, 27);
        s0 += s1;
        s1 = std::rotl(s1, 19);
    }
};

}  // namespace

std::uint64_t marvin32(utils::Bytes data, std::uint64_t seed) noexcept {
    State state{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32)};
    const std::size_t whole = data.size() & ~std::size_t{3};
    for (std::size_t i = 0; i < whole; i += 4) {
        // i + 4 <= whole <= data.size(): the whole words need no further test.
        state.s0 += utils::detail::load_u32(data.data() + i);
        state.mix();
    }
    // The 1 to 3 leftover bytes, then a 0x80 marker byte right after them.
    const std::size_t rest = data.size() - whole;
    std::uint32_t last = 0x80u << (8 * rest);
    for (std::size_t i = 0; i < rest; ++i) last |= std::uint32_t{data[whole + i]} << (8 * i);
    state.s0 += last;
    state.mix();
    state.mix();
    return (std::uint64_t{state.s1} << 32) | state.s0;
}

}  // namespace orvane::transaction_log
