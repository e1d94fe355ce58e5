#include "utils/image_bytes.hpp"

#include <algorithm>
#include <cstdlib>
#include <limits>
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

ImageBytes copy_image(std::span<const std::uint8_t> bytes) {
    ImageBytes image(bytes.size());  // zero-filled, nothing written
    std::copy(bytes.begin(), bytes.end(), image.begin());
    return image;
}

void append_image(ImageBytes& image, std::span<const std::uint8_t> bytes) {
    const std::size_t at = image.size();
    grow_image(image, std::uint64_t{at} + bytes.size(), std::numeric_limits<std::uint64_t>::max());
    std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
}

void grow_image(ImageBytes& image, std::uint64_t length, std::uint64_t largest) {
    if (length <= image.size()) return;
    if (length > image.capacity()) {
        const std::uint64_t doubled = std::uint64_t{image.capacity()} * 2;
        // Not reserve(): it would move the old bytes one at a time through the
        // allocator. A fresh buffer takes them in one copy.
        ImageBytes grown;
        grown.reserve(static_cast<std::size_t>(std::max(length, std::min(doubled, largest))));
        grown.resize(image.size());
        std::copy(image.begin(), image.end(), grown.begin());
        image.swap(grown);
    }
    image.resize(static_cast<std::size_t>(length));  // no value given: the zero fill is kept
}

}  // namespace orvane::utils
