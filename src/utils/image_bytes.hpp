#pragma once
// The owned, growable byte buffer a hive image is read and recovered into.
//
// A log may say the hive is hundreds of MiB long while carrying a few pages;
// the rest of the image is zeros that nobody ever reads. The buffer takes its
// memory zero-filled from the system (large blocks from anonymous mappings,
// whose pages the kernel supplies only when first written), and growing it
// writes nothing into the new bytes, so memory follows the data actually
// present. Bytes past the end are zero as long as the buffer never shrinks,
// and nothing that grows an image shrinks it.

#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <utility>
#include <vector>

namespace orvane::utils {

// Zero-filled memory of `bytes` bytes, or std::bad_alloc; and its release.
void* allocate_zero_filled(std::size_t bytes);
void release_zero_filled(void* pointer, std::size_t bytes) noexcept;

// Zero-filled allocation that only counts on that zero fill: constructing an
// element with no value leaves the memory as it is (zero when fresh).
template <class T>
class ZeroFilledAllocator {
public:
    using value_type = T;

    ZeroFilledAllocator() noexcept = default;
    template <class U>
    ZeroFilledAllocator(const ZeroFilledAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) {
        if (count > SIZE_MAX / sizeof(T)) throw std::bad_array_new_length();
        return static_cast<T*>(allocate_zero_filled(count * sizeof(T)));
    }
    void deallocate(T* pointer, std::size_t count) noexcept { release_zero_filled(pointer, count * sizeof(T)); }

    // Value-initialisation: the memory is already zero.
    template <class U>
    void construct(U*) noexcept {}
    template <class U, class... Args>
    void construct(U* pointer, Args&&... args) {
        ::new (static_cast<void*>(pointer)) U(std::forward<Args>(args)...);
    }

    template <class U>
    bool operator==(const ZeroFilledAllocator<U>&) const noexcept {
        return true;
    }
};

using ImageBytes = std::vector<std::uint8_t, ZeroFilledAllocator<std::uint8_t>>;

// A buffer holding a copy of `bytes`. The vector's own range constructor and
// range insert construct element by element through the allocator; this one
// copies the whole range at once.
ImageBytes copy_image(std::span<const std::uint8_t> bytes);

// Appends `bytes` to `image`, as one copy; the capacity grows as grow_image()'s
// does, without a limit.
void append_image(ImageBytes& image, std::span<const std::uint8_t> bytes);

// Lengthens `image` with zero bytes to `length` (never shortens it). Capacity
// grows geometrically, so many small extensions stay cheap, but never past
// `largest`, so a hostile log cannot make it reserve twice that; the reserve is
// never written, so it costs address space, not memory.
void grow_image(ImageBytes& image, std::uint64_t length, std::uint64_t largest);

}  // namespace orvane::utils
