#pragma once
// A value, or the error that stands in its place, in the manner of C++23's
// std::expected: the one shape of result of every function in the project
// that can fail. The core's errors are qlx_status; the system layer has
// kinds of its own. Header-only and dependent on nothing, so that every
// layer may use it without depending on another.

#include <type_traits>
#include <utility>
#include <variant>

namespace common {

template <class E>
struct Unexpected {
    E error;
};
// The failure of an Expected: `return common::failure(QLX_OUT_OF_MEMORY);`.
template <class E>
constexpr Unexpected<E> failure(E error) {
    return {error};
}

template <class T, class E>
class [[nodiscard]] Expected {
public:
    Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Expected(Unexpected<E> failed) : state_(std::in_place_index<1>, failed.error) {}

    bool has_value() const { return state_.index() == 0; }
    explicit operator bool() const { return has_value(); }
    // Only when has_value().
    T& operator*() { return *std::get_if<0>(&state_); }
    const T& operator*() const { return *std::get_if<0>(&state_); }
    T* operator->() { return std::get_if<0>(&state_); }
    const T* operator->() const { return std::get_if<0>(&state_); }
    // Only when !has_value().
    E error() const { return *std::get_if<1>(&state_); }

private:
    std::variant<T, E> state_;
};

// Success with nothing to give, or an error.
template <class E>
class [[nodiscard]] Expected<void, E> {
public:
    Expected() = default;
    Expected(Unexpected<E> failed) : failed_(true), error_(failed.error) {}

    bool has_value() const { return !failed_; }
    explicit operator bool() const { return has_value(); }
    E error() const { return error_; }

private:
    bool failed_ = false;
    E error_{};
};

}  // namespace common
