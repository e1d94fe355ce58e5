#pragma once
// A test-side LZNT1 compressor and the NTFS layout of compressed files, to
// build images holding hives stored in compression units.
//
// Each 4096-byte chunk is compressed greedily (matches found through a small
// hash chain); a chunk that would not shrink is stored as it is. A unit of 16
// clusters is stored compressed when that saves at least one cluster and
// leaves room for the zero header that ends the stream, else as it is; a
// compressed unit is padded with zeros to its cluster boundary. A unit can
// also be made to fill its clusters exactly, with no zero header after it (as
// real files have now and then): the first bytes of the unit are then stored
// as literals, as many as it takes.

#include <algorithm>
#include <cstdint>
#include <set>
#include <vector>

namespace orvane::testing {

namespace lznt1_detail {

inline unsigned distance_bits(std::size_t position) {
    unsigned bits = 4;
    while ((std::size_t{1} << bits) < position) ++bits;
    return bits;
}

inline void put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

// One chunk (at most 4096 bytes) with its header; its first `literals`
// bytes are stored as literals, never as back-references.
inline std::vector<std::uint8_t> compress_chunk(const std::uint8_t* data, std::size_t size, std::size_t literals = 0) {
    std::vector<std::uint8_t> body;
    std::vector<int> head(1 << 12, -1), previous(size, -1);
    const auto hash = [&](std::size_t at) {
        return ((data[at] << 8) ^ (data[at + 1] << 4) ^ data[at + 2]) & 0xFFF;
    };
    std::size_t at = 0;
    while (at < size) {
        const std::size_t flag_at = body.size();
        body.push_back(0);
        for (unsigned item = 0; item < 8 && at < size; ++item) {
            const unsigned bits = distance_bits(at);
            const std::size_t longest = std::min<std::size_t>((std::size_t{1} << (16 - bits)) + 2, size - at);
            const std::size_t farthest = std::size_t{1} << bits;
            std::size_t best_length = 0, best_distance = 0;
            if (at + 3 <= size && at >= literals) {
                int candidate = head[hash(at)];
                for (int depth = 0; candidate >= 0 && depth < 32; ++depth, candidate = previous[candidate]) {
                    const std::size_t distance = at - static_cast<std::size_t>(candidate);
                    if (distance > farthest) break;
                    std::size_t length = 0;
                    while (length < longest && data[candidate + length] == data[at + length]) ++length;
                    if (length > best_length) best_length = length, best_distance = distance;
                }
            }
            std::size_t advance = 1;
            if (best_length >= 3) {
                body[flag_at] = static_cast<std::uint8_t>(body[flag_at] | (1u << item));
                put16(body, static_cast<std::uint16_t>(((best_distance - 1) << (16 - bits)) | (best_length - 3)));
                advance = best_length;
            } else {
                body.push_back(data[at]);
            }
            for (std::size_t i = 0; i < advance; ++i, ++at) {
                if (at + 3 <= size) {
                    previous[at] = head[hash(at)];
                    head[hash(at)] = static_cast<int>(at);
                }
            }
        }
    }
    std::vector<std::uint8_t> chunk;
    if (body.size() >= size) {
        put16(chunk, static_cast<std::uint16_t>(0x3000 | (size - 1)));
        chunk.insert(chunk.end(), data, data + size);
    } else {
        put16(chunk, static_cast<std::uint16_t>(0xB000 | (body.size() - 1)));
        chunk.insert(chunk.end(), body.begin(), body.end());
    }
    return chunk;
}

}  // namespace lznt1_detail

// The chunks of `data`, without the terminating zero header.
inline std::vector<std::uint8_t> lznt1_compress(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> out;
    for (std::size_t at = 0; at < size; at += 4096) {
        const auto chunk = lznt1_detail::compress_chunk(data + at, std::min<std::size_t>(4096, size - at));
        out.insert(out.end(), chunk.begin(), chunk.end());
    }
    return out;
}

// The chunks of one unit whose stream ends exactly on a cluster boundary
// within `most` clusters; empty when no count of leading literals gives that.
inline std::vector<std::uint8_t> exact_fill(const std::uint8_t* data, std::size_t size, std::size_t cluster,
                                            std::size_t most) {
    std::vector<std::vector<std::uint8_t>> chunks;
    for (std::size_t at = 0; at < size; at += 4096) {
        chunks.push_back(lznt1_detail::compress_chunk(data + at, std::min<std::size_t>(4096, size - at)));
    }
    for (std::size_t literals = 0; literals < size; ++literals) {
        const std::size_t index = literals / 4096;
        std::vector<std::vector<std::uint8_t>> tried = chunks;
        for (std::size_t i = 0; i < index; ++i) {
            tried[i] = lznt1_detail::compress_chunk(data + 4096 * i, 4096, 4096);
        }
        tried[index] = lznt1_detail::compress_chunk(data + 4096 * index, std::min<std::size_t>(4096, size - 4096 * index),
                                                    literals % 4096);
        std::size_t total = 0;
        for (const auto& chunk : tried) total += chunk.size();
        if (total % cluster == 0 && total / cluster <= most) {
            std::vector<std::uint8_t> out;
            for (const auto& chunk : tried) out.insert(out.end(), chunk.begin(), chunk.end());
            return out;
        }
    }
    return {};
}

// `file` as NTFS stores it with `cluster`-byte clusters: unit after unit,
// those numbered in `stored_raw` (and any that would not shrink) as they are,
// those numbered in `exact` compressed to fill their clusters exactly (empty
// when one cannot be).
inline std::vector<std::uint8_t> ntfs_compressed(const std::vector<std::uint8_t>& file, std::size_t cluster,
                                                 const std::set<std::size_t>& stored_raw = {},
                                                 const std::set<std::size_t>& exact = {}) {
    const std::size_t unit = 16 * cluster;
    std::vector<std::uint8_t> out;
    for (std::size_t at = 0, index = 0; at < file.size(); at += unit, ++index) {
        const std::size_t size = std::min(unit, file.size() - at);
        const std::size_t raw_clusters = (size + cluster - 1) / cluster;
        if (exact.count(index) != 0) {
            const std::vector<std::uint8_t> filled = exact_fill(file.data() + at, size, cluster, raw_clusters - 1);
            if (filled.empty()) return {};  // the test asked for what could not be made
            out.insert(out.end(), filled.begin(), filled.end());
            continue;
        }
        std::vector<std::uint8_t> packed = lznt1_compress(file.data() + at, size);
        const std::size_t packed_clusters = (packed.size() + 2 + cluster - 1) / cluster;
        if (stored_raw.count(index) != 0 || packed_clusters >= raw_clusters) {
            out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(at),
                       file.begin() + static_cast<std::ptrdiff_t>(at + size));
            out.resize(out.size() + raw_clusters * cluster - size, 0);
            continue;
        }
        packed.resize(packed_clusters * cluster, 0);
        out.insert(out.end(), packed.begin(), packed.end());
    }
    return out;
}

}  // namespace orvane::testing
