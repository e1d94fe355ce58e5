#include "utils/image_bytes.hpp"

#include <algorithm>
#include <cstdlib>
#include <sys/mman.h>

namespace orvane::utils {

namespace {

// From here on, memory comes straight from anonymous mappings: zero pages the
// kernel hands out on first write. Below it, calloc is as good and cheaper.
constexpr std::size_t mapping_threshold = std::size_t{1} << 20;

}  // namespace

void* allocate_zero_filled(std::size_t bytes) {
    if (bytes >= mapping_threshold) {
        void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        return p;
    }
    void* p = std::calloc(std::max<std::size_t>(bytes, 1), 1);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

void release_zero_filled(void* pointer, std::size_t bytes) noexcept {
    if (bytes >= mapping_threshold) {
        ::munmap(pointer, bytes);
    } else {
        std::free(pointer);
    }
}

void grow_image(ImageBytes& image, std::uint64_t length, std::uint64_t largest) {
    if (length <= image.size()) return;
    if (length > image.capacity()) {
        const std::uint64_t doubled = std::uint64_t{image.capacity()} * 2;
        image.reserve(static_cast<std::size_t>(std::max(length, std::min(doubled, largest))));
    }
    image.resize(static_cast<std::size_t>(length));  // no value given: the zero fill is kept
}

}  // namespace orvane::utils
