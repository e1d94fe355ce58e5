#pragma once
// The LZNT1 decoder: how NTFS stores the compression units of a compressed file.
//
// A compressed stream is a run of chunks, each decoding to at most 4096 bytes.
// A chunk starts with a 16-bit header: bit 15 set when the chunk is compressed,
// bits 12-14 always 3, bits 0-11 the chunk's length after the header minus 1.
// A header of 0 (or the end of the bytes) ends the stream. An uncompressed
// chunk holds its bytes as they are; a compressed one is groups of a flag byte
// and eight items, each a literal byte (flag bit 0, lowest first) or a 16-bit
// back-reference whose split between distance and length depends on how much
// of the chunk is already decoded.

#include <cstdint>

#include "utils/byte_view.hpp"
#include "utils/image_bytes.hpp"

namespace orvane::carve::lznt1 {

inline constexpr std::uint64_t chunk_size = 4096;       // what one chunk decodes to at most
inline constexpr std::uint16_t signature_mask = 0x7000;  // bits 12-14 of a chunk header
inline constexpr std::uint16_t signature_bits = 0x3000;
inline constexpr std::uint16_t compressed_flag = 0x8000;
inline constexpr std::uint16_t length_mask = 0x0FFF;

// Whether `header` can start a chunk (any header but 0 with the signature bits).
constexpr bool chunk_header(std::uint16_t header) noexcept {
    return (header & signature_mask) == signature_bits;
}

struct Decoded {
    std::uint64_t consumed = 0;  // input bytes the chunks read took, headers included
    std::uint64_t produced = 0;  // bytes appended to the output
    bool clean = true;           // false when a chunk was malformed (the stream stops before it)
};

// Decodes chunks from the start of `input`, appending to `out`, until a zero
// header, the end of the input, a malformed chunk or `limit` decoded bytes.
// A chunk that does not decode whole leaves the output as before that chunk.
Decoded decode(utils::ByteView input, utils::ImageBytes& out, std::uint64_t limit);

}  // namespace orvane::carve::lznt1
