#pragma once
// Large column buffers kept for the next batch once their consumer lets go.
//
// A caller that builds the tables of hive after hive frees each hive's
// batches at once; the C library then hands those megabytes back to the
// system, and the next hive's batches fault every page in again (a fault
// costs about as much as filling the page). Blocks from 64 KiB up are
// therefore kept here, by size class, up to a bounded total, and taken again
// before new memory is asked for. Smaller blocks are left to malloc, which
// already keeps them.

#include <cstddef>

namespace orvane::table::buffer_pool {

// Blocks below this many bytes are plain malloc blocks.
inline constexpr std::size_t smallest_pooled = std::size_t{64} << 10;
// Blocks above this many bytes are never kept, and the pool keeps at most
// `most_kept` bytes in all.
inline constexpr std::size_t largest_pooled = std::size_t{16} << 20;
inline constexpr std::size_t most_kept = std::size_t{64} << 20;

// The size a block of at least `bytes` is made with: up to largest_pooled a
// power of two from smallest_pooled up, so blocks of one class can stand in
// for each other; above it `bytes` itself.
std::size_t block_size(std::size_t bytes) noexcept;

// A block of block_size(bytes) bytes (bytes >= smallest_pooled), kept or new;
// null when memory runs out. Its contents are unspecified.
void* take(std::size_t bytes) noexcept;
// Returns a block from take(bytes) (the same `bytes`), kept when there is room.
void give(void* block, std::size_t bytes) noexcept;

// What the pool holds now, and letting it all go (for tests and for callers
// done with tables).
std::size_t kept_bytes() noexcept;
void release_all() noexcept;

}  // namespace orvane::table::buffer_pool
