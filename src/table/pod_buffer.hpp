#pragma once
// A growable array of plain values, grown with realloc.
//
// A column's buffers reach megabytes and grow by doubling. Grown as a
// std::vector, each step copies the whole buffer into fresh pages, so a
// column touches about twice its final size; realloc moves a large block by
// remapping its pages instead, so only the bytes written are ever touched.

#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

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
            std::free(data_);
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
            capacity_ = std::exchange(other.capacity_, 0);
        }
        return *this;
    }
    PodBuffer(const PodBuffer&) = delete;
    PodBuffer& operator=(const PodBuffer&) = delete;
    ~PodBuffer() { std::free(data_); }

    const T* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    T& operator[](std::size_t index) noexcept { return data_[index]; }
    const T& operator[](std::size_t index) const noexcept { return data_[index]; }
    T& back() noexcept { return data_[size_ - 1]; }
    const T& back() const noexcept { return data_[size_ - 1]; }

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
        void* grown = std::realloc(data_, capacity * sizeof(T));
        if (grown == nullptr) throw std::bad_alloc();
        data_ = static_cast<T*>(grown);
        capacity_ = capacity;
    }

    T* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace orvane::table
