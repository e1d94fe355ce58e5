#include "table/buffer_pool.hpp"

#include <array>
#include <bit>
#include <cstdlib>
#include <mutex>
#include <vector>

// GCC tells of AddressSanitizer with a macro, clang with __has_feature.
#if defined(__SANITIZE_ADDRESS__)
#define ORVANE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVANE_ASAN 1
#endif
#endif
#ifdef ORVANE_ASAN
#include <sanitizer/asan_interface.h>
#define ORVANE_POISON(block, bytes) ASAN_POISON_MEMORY_REGION(block, bytes)
#define ORVANE_UNPOISON(block, bytes) ASAN_UNPOISON_MEMORY_REGION(block, bytes)
#else
#define ORVANE_POISON(block, bytes) ((void)(block), (void)(bytes))
#define ORVANE_UNPOISON(block, bytes) ((void)(block), (void)(bytes))
#endif

namespace orvane::table::buffer_pool {

namespace {

constexpr int smallest_class = std::countr_zero(smallest_pooled);
constexpr int classes = std::countr_zero(largest_pooled) - smallest_class + 1;

struct Pool {
    std::mutex mutex;
    std::array<std::vector<void*>, classes> free;
    std::size_t kept = 0;
};

// Never destroyed: blocks may come back from consumers while the process exits.
Pool& pool() {
    static Pool* const instance = new Pool;
    return *instance;
}

int class_of(std::size_t size) noexcept { return std::countr_zero(size) - smallest_class; }

}  // namespace

std::size_t block_size(std::size_t bytes) noexcept {
    if (bytes <= smallest_pooled) return smallest_pooled;
    if (bytes > largest_pooled) return bytes;  // never kept: made as long as asked
    return std::bit_ceil(bytes);
}

void* take(std::size_t bytes) noexcept {
    const std::size_t size = block_size(bytes);
    if (size <= largest_pooled) {
        Pool& p = pool();
        std::lock_guard lock(p.mutex);
        auto& blocks = p.free[static_cast<std::size_t>(class_of(size))];
        if (!blocks.empty()) {
            void* block = blocks.back();
            blocks.pop_back();
            p.kept -= size;
            ORVANE_UNPOISON(block, size);
            return block;
        }
    }
    return std::malloc(size);
}

void give(void* block, std::size_t bytes) noexcept {
    if (block == nullptr) return;
    const std::size_t size = block_size(bytes);
    if (size <= largest_pooled) {
        Pool& p = pool();
        std::lock_guard lock(p.mutex);
        if (p.kept + size <= most_kept) {
            auto& blocks = p.free[static_cast<std::size_t>(class_of(size))];
            try {
                blocks.push_back(block);
            } catch (...) {  // no room to note it: it goes back to malloc
                std::free(block);
                return;
            }
            p.kept += size;
            // A pooled block is not the caller's any more: touching it is a use after free.
            ORVANE_POISON(block, size);
            return;
        }
    }
    std::free(block);
}

std::size_t kept_bytes() noexcept {
    Pool& p = pool();
    std::lock_guard lock(p.mutex);
    return p.kept;
}

void release_all() noexcept {
    Pool& p = pool();
    std::lock_guard lock(p.mutex);
    for (std::size_t c = 0; c < p.free.size(); ++c) {
        for (void* block : p.free[c]) {
            ORVANE_UNPOISON(block, smallest_pooled << c);
            std::free(block);
        }
        p.free[c].clear();
    }
    p.kept = 0;
}

}  // namespace orvane::table::buffer_pool
