#include "carve/lznt1.hpp"

#include <algorithm>

namespace orvane::carve::lznt1 {

namespace {

// Bits of a back-reference that hold the distance, for a reference made when
// `position` bytes of the chunk are decoded: enough to reach the chunk's start,
// and never fewer than 4.
unsigned distance_bits(std::uint64_t position) noexcept {
    unsigned bits = 4;
    while ((std::uint64_t{1} << bits) < position) ++bits;
    return bits;
}

// Decodes one compressed chunk body into `out` (which it only appends to).
// False on a reference reaching before the chunk or past its 4096 bytes.
bool decode_compressed(utils::ByteView body, utils::ImageBytes& out) {
    const std::size_t start = out.size();
    std::uint64_t at = 0;
    while (at < body.size()) {
        const std::uint8_t flags = body.bytes()[at++];
        for (unsigned item = 0; item < 8 && at < body.size(); ++item) {
            const std::uint64_t position = out.size() - start;
            if ((flags & (1u << item)) == 0) {
                if (position >= chunk_size) return false;
                out.push_back(body.bytes()[at++]);
                continue;
            }
            const auto token = body.u16(at);
            if (!token) return false;
            at += 2;
            const unsigned bits = distance_bits(position);
            const std::uint64_t distance = (std::uint64_t{*token} >> (16 - bits)) + 1;
            const std::uint64_t length = (*token & ((1u << (16 - bits)) - 1)) + 3;
            if (distance > position || position + length > chunk_size) return false;
            // The copy may overlap what it writes, so it goes byte by byte.
            for (std::uint64_t i = 0; i < length; ++i) out.push_back(out[out.size() - distance]);
        }
    }
    return true;
}

}  // namespace

Decoded decode(utils::ByteView input, utils::ImageBytes& out, std::uint64_t limit) {
    Decoded decoded;
    const std::size_t start = out.size();
    while (decoded.produced < limit) {
        const auto header = input.u16(decoded.consumed);
        if (!header || *header == 0) break;
        if (!chunk_header(*header)) {
            decoded.clean = false;
            break;
        }
        const std::uint64_t length = (*header & length_mask) + 1u;
        const auto body = input.slice(decoded.consumed + 2, length);
        if (!body) {
            decoded.clean = false;
            break;
        }
        const std::size_t before = out.size();
        bool sound = true;
        if ((*header & compressed_flag) != 0) {
            sound = decode_compressed(*body, out);
        } else {
            out.insert(out.end(), body->bytes().begin(), body->bytes().end());
        }
        if (!sound || out.size() - start > limit) {
            out.resize(before);
            decoded.clean = sound;
            break;
        }
        decoded.consumed += 2 + length;
        decoded.produced = out.size() - start;
    }
    return decoded;
}

}  // namespace orvane::carve::lznt1
