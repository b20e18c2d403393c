// std::expected and std::unexpected for compilers whose language support
// lags the standard library's: clang 14 lacks conditionally trivial special
// members, so the standard library hides its own std::expected from it. The
// fuzz build, the one place clang compiles this package, force-includes
// this header; every translation unit of that build then agrees on one
// definition. Only the members the package and its fuzz target use exist.
#pragma once

#include <version>

#if !defined(__cpp_lib_expected)

#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace std {

template <class E>
class unexpected {
 public:
  template <class G = E>
    requires(!is_same_v<remove_cvref_t<G>, unexpected> && is_constructible_v<E, G>)
  constexpr explicit unexpected(G&& error) : error_(std::forward<G>(error)) {}

  constexpr const E& error() const& noexcept { return error_; }
  constexpr E& error() & noexcept { return error_; }
  constexpr E&& error() && noexcept { return std::move(error_); }

 private:
  E error_;
};

template <class E>
unexpected(E) -> unexpected<E>;

template <class T>
inline constexpr bool is_unexpected_compat = false;
template <class E>
inline constexpr bool is_unexpected_compat<unexpected<E>> = true;

template <class T, class E>
class expected {
 public:
  using value_type = T;
  using error_type = E;

  constexpr expected()
    requires is_default_constructible_v<T>
      : storage_(in_place_index<0>) {}

  template <class U = T>
    requires(!is_same_v<remove_cvref_t<U>, expected> && !is_unexpected_compat<remove_cvref_t<U>> &&
             is_convertible_v<U, T>)
  constexpr expected(U&& value) : storage_(in_place_index<0>, std::forward<U>(value)) {}

  template <class G>
  constexpr expected(const unexpected<G>& error) : storage_(in_place_index<1>, error.error()) {}
  template <class G>
  constexpr expected(unexpected<G>&& error) : storage_(in_place_index<1>, std::move(error).error()) {}

  constexpr bool has_value() const noexcept { return storage_.index() == 0; }
  constexpr explicit operator bool() const noexcept { return has_value(); }

  constexpr T& operator*() & { return *get_if<0>(&storage_); }
  constexpr const T& operator*() const& { return *get_if<0>(&storage_); }
  constexpr T* operator->() { return get_if<0>(&storage_); }
  constexpr const T* operator->() const { return get_if<0>(&storage_); }

  constexpr E& error() & { return *get_if<1>(&storage_); }
  constexpr const E& error() const& { return *get_if<1>(&storage_); }

 private:
  variant<T, E> storage_;
};

template <class E>
class expected<void, E> {
 public:
  using value_type = void;
  using error_type = E;

  constexpr expected() = default;
  template <class G>
  constexpr expected(const unexpected<G>& error) : error_(error.error()) {}
  template <class G>
  constexpr expected(unexpected<G>&& error) : error_(std::move(error).error()) {}

  constexpr bool has_value() const noexcept { return !error_.has_value(); }
  constexpr explicit operator bool() const noexcept { return has_value(); }

  constexpr E& error() & { return *error_; }
  constexpr const E& error() const& { return *error_; }

 private:
  optional<E> error_;
};

}  // namespace std

#endif
