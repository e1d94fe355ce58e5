#pragma once
// A small value-or-error type in the shape of std::expected.
//
// g++ 12 ships <expected> only for C++23, and clang 14 (used for fuzzing) cannot
// compile libstdc++'s version at all, so the core carries its own. It supports
// what the core uses: construction from a value or from unexpected(error),
// has_value()/operator bool, value()/operator*/operator->, value_or() and error().

#include <cassert>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace orvane::error {

template <class E>
class Unexpected {
public:
    explicit Unexpected(E error) : error_(std::move(error)) {}
    E& error() & { return error_; }
    E&& error() && { return std::move(error_); }
    const E& error() const& { return error_; }

private:
    E error_;
};

template <class E>
Unexpected<std::decay_t<E>> unexpected(E&& error) {
    return Unexpected<std::decay_t<E>>(std::forward<E>(error));
}

template <class T, class E>
class [[nodiscard]] Expected {
public:
    using value_type = T;
    using error_type = E;

    template <class U = T,
              std::enable_if_t<std::is_constructible_v<T, U&&> &&
                                   !std::is_same_v<std::decay_t<U>, Expected> &&
                                   !std::is_same_v<std::decay_t<U>, Unexpected<E>>,
                               int> = 0>
    Expected(U&& value) : storage_(std::in_place_index<0>, std::forward<U>(value)) {}
    template <class G>
    Expected(Unexpected<G> error) : storage_(std::in_place_index<1>, std::move(error).error()) {}

    bool has_value() const noexcept { return storage_.index() == 0; }
    explicit operator bool() const noexcept { return has_value(); }

    T& value() & { return checked_value(); }
    const T& value() const& { return const_cast<Expected*>(this)->checked_value(); }
    T&& value() && { return std::move(checked_value()); }
    T& operator*() & { return checked_value(); }
    const T& operator*() const& { return const_cast<Expected*>(this)->checked_value(); }
    T&& operator*() && { return std::move(checked_value()); }
    T* operator->() { return &checked_value(); }
    const T* operator->() const { return &const_cast<Expected*>(this)->checked_value(); }

    E& error() & { return checked_error(); }
    const E& error() const& { return const_cast<Expected*>(this)->checked_error(); }
    E&& error() && { return std::move(checked_error()); }

    template <class U>
    T value_or(U&& fallback) const& {
        return has_value() ? **this : static_cast<T>(std::forward<U>(fallback));
    }

private:
    T& checked_value() {
        assert(has_value());
        return *std::get_if<0>(&storage_);
    }
    E& checked_error() {
        assert(!has_value());
        return *std::get_if<1>(&storage_);
    }

    std::variant<T, E> storage_;
};

template <class E>
class [[nodiscard]] Expected<void, E> {
public:
    using value_type = void;
    using error_type = E;

    Expected() = default;
    template <class G>
    Expected(Unexpected<G> error) : error_(std::in_place, std::move(error).error()) {}

    bool has_value() const noexcept { return !error_.has_value(); }
    explicit operator bool() const noexcept { return has_value(); }
    void value() const { assert(has_value()); }

    E& error() & { return *error_; }
    const E& error() const& { return *error_; }
    E&& error() && { return std::move(*error_); }

private:
    std::optional<E> error_;
};

}  // namespace orvane::error

#define ORVANE_CONCAT_INNER_(a, b) a##b
#define ORVANE_CONCAT_(a, b) ORVANE_CONCAT_INNER_(a, b)

// Returns the error of `expr` (an Expected) from the enclosing function.
#define ORVANE_TRY(expr)                                                        \
    do {                                                                        \
        auto&& orvane_try_result_ = (expr);                                     \
        if (!orvane_try_result_.has_value())                                    \
            return ::orvane::error::unexpected(std::move(orvane_try_result_).error()); \
    } while (false)

// Declares `lhs` from the value of `expr`, or returns its error.
#define ORVANE_ASSIGN_OR_RETURN(lhs, expr) \
    ORVANE_ASSIGN_OR_RETURN_IMPL_(ORVANE_CONCAT_(orvane_result_, __LINE__), lhs, expr)
#define ORVANE_ASSIGN_OR_RETURN_IMPL_(tmp, lhs, expr) \
    auto tmp = (expr);                                 \
    if (!tmp.has_value())                              \
        return ::orvane::error::unexpected(std::move(tmp).error()); \
    lhs = std::move(*tmp)
