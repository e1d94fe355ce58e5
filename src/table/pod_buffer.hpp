#pragma once
// A growable array of plain values: small ones grown with realloc, large
// ones (from buffer_pool::smallest_pooled bytes) in blocks of the buffer
// pool, so that the memory of batches a consumer has let go serves the next
// ones without faulting its pages in again.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "table/buffer_pool.hpp"

namespace orvane::table {

template <class T>
class PodBuffer {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    PodBuffer() noexcept = default;
    PodBuffer(PodBuffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    PodBuffer& operator=(PodBuffer&& other) noexcept {
        if (this != &other) {
            release();
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
            capacity_ = std::exchange(other.capacity_, 0);
        }
        return *this;
    }
    PodBuffer(const PodBuffer&) = delete;
    PodBuffer& operator=(const PodBuffer&) = delete;
    ~PodBuffer() { release(); }

    const T* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    T& operator[](std::size_t index) noexcept { return data_[index]; }
    const T& operator[](std::size_t index) const noexcept { return data_[index]; }
    T& back() noexcept { return data_[size_ - 1]; }
    const T& back() const noexcept { return data_[size_ - 1]; }

    std::size_t capacity() const noexcept { return capacity_; }
    // Room for `capacity` elements in all, so that appending up to it moves nothing.
    void reserve(std::size_t capacity) {
        if (capacity > capacity_) set_capacity(capacity);
    }

    // Moves the elements into a block that fits them when a reserve left
    // more than half of a large block unused.
    void shrink() {
        if (capacity_ * sizeof(T) < buffer_pool::smallest_pooled || size_ * 2 >= capacity_) return;
        PodBuffer fitted;
        fitted.reserve(size_);
        fitted.append(data_, size_);
        *this = std::move(fitted);
    }

    void push_back(T value) {
        if (size_ == capacity_) grow(size_ + 1);
        data_[size_++] = value;
    }
    void append(const T* values, std::size_t count) {
        if (count == 0) return;
        if (capacity_ - size_ < count) grow(size_ + count);
        std::memcpy(data_ + size_, values, count * sizeof(T));
        size_ += count;
    }
    // One plain value's bytes (a byte buffer only): a fixed-size copy the
    // compiler turns into a store, where append() would call memcpy.
    template <class V>
    void append_value(const V& value) {
        static_assert(std::is_same_v<T, std::uint8_t> && std::is_trivially_copyable_v<V>);
        if (capacity_ - size_ < sizeof(V)) grow(size_ + sizeof(V));
        std::memcpy(data_ + size_, &value, sizeof(V));
        size_ += sizeof(V);
    }
    // New elements get `fill`.
    void resize(std::size_t size, T fill = T{}) {
        if (size > capacity_) grow(size);
        for (std::size_t i = size_; i < size; ++i) data_[i] = fill;
        size_ = size;
    }
    void assign(std::size_t size, T fill) {
        size_ = 0;
        resize(size, fill);
    }

private:
    void grow(std::size_t wanted) {
        std::size_t capacity = capacity_ < 16 ? 16 : capacity_ * 2;
        if (capacity < wanted) capacity = wanted;
        set_capacity(capacity);
    }
    void set_capacity(std::size_t capacity) {
        if (capacity > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        const std::size_t bytes = capacity * sizeof(T);
        if (bytes < buffer_pool::smallest_pooled) {  // and so was the old block
            void* grown = std::realloc(data_, bytes);
            if (grown == nullptr) throw std::bad_alloc();
            data_ = static_cast<T*>(grown);
            capacity_ = capacity;
            return;
        }
        void* block = buffer_pool::take(bytes);
        if (block == nullptr) throw std::bad_alloc();
        if (size_ > 0) std::memcpy(block, data_, size_ * sizeof(T));
        release();
        data_ = static_cast<T*>(block);
        capacity_ = buffer_pool::block_size(bytes) / sizeof(T);  // the whole block
    }
    void release() noexcept {
        if (capacity_ * sizeof(T) >= buffer_pool::smallest_pooled) {
            buffer_pool::give(data_, capacity_ * sizeof(T));
        } else {
            std::free(data_);
        }
    }

    T* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace orvane::table
