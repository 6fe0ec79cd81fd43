// The outcome of an operation that can fail: a value, or the error that
// stopped it.
#pragma once

#include <optional>
#include <utility>
#include <variant>

namespace quillory {

template <class T, class E>
class [[nodiscard]] Result {
  public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    Result(E error) : v_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<0>(v_); }
    const T& value() const { return std::get<0>(v_); }
    const E& error() const { return std::get<1>(v_); }

  private:
    std::variant<T, E> v_;
};

template <class E>
class [[nodiscard]] Result<void, E> {
  public:
    Result() = default;
    Result(E error) : error_(std::move(error)) {}

    bool ok() const { return !error_; }
    explicit operator bool() const { return ok(); }
    const E& error() const { return *error_; }

  private:
    std::optional<E> error_;
};

}  // namespace quillory
