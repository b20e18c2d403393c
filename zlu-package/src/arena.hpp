// The storage of the profile model: one arena per report, and read-only
// lists that point into it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

namespace zlu_package {

template <typename T>
class ListView {
  // A read-only list of model elements that lives in a report's arena (or a
  // builder's). It is as cheap to copy as a pointer and a length, and it is
  // valid for as long as the report (or a copy of it) that owns the arena
  // is alive. Indexing, range-for and the standard range algorithms work on
  // it as on a vector; two lists are equal when their elements are.
 public:
  using value_type = T;
  using iterator = const T*;
  using const_iterator = const T*;

  constexpr ListView() = default;
  constexpr ListView(const T* items, std::size_t size) : items_(items), size_(size) {}

  constexpr const T* begin() const { return items_; }
  constexpr const T* end() const { return items_ + size_; }
  constexpr const T* data() const { return items_; }
  constexpr std::size_t size() const { return size_; }
  constexpr bool empty() const { return size_ == 0; }
  constexpr const T& operator[](std::size_t index) const { return items_[index]; }
  constexpr const T& front() const { return items_[0]; }
  constexpr const T& back() const { return items_[size_ - 1]; }

  friend bool operator==(const ListView& left, const ListView& right) {
    return std::ranges::equal(left, right);
  }

 private:
  const T* items_ = nullptr;
  std::size_t size_ = 0;
};

class ProfileArena {
  // Memory for one model: a few large blocks that are handed out front to
  // back and released together. Blocks never move, so whatever points into
  // them stays valid for the arena's lifetime however its owner is moved.
  // Only trivially destructible values go in: nothing is destroyed one by
  // one. Blocks come from operator new, which reports exhaustion as
  // std::bad_alloc.
 public:
  ProfileArena() = default;
  explicit ProfileArena(std::size_t block_limit) : block_limit_(block_limit) {}
  // An arena whose blocks stop growing once they add up to `block_limit`
  // bytes: past it, each block is just large enough for its request. A
  // reader that bounds what its model may take passes that bound, so that
  // the arena's room for growth never outruns it.
  ProfileArena(const ProfileArena&) = delete;
  ProfileArena& operator=(const ProfileArena&) = delete;

  template <typename T>
  T* allocate(std::size_t count) {
    // Uninitialised room for `count` values of `T`, contiguous; the caller
    // constructs them. `count` must be small enough that the bytes fit a
    // size_t, which the reader's budget has made sure of.
    static_assert(std::is_trivially_destructible_v<T>);
    // Blocks come aligned for operator new, so a request larger than what
    // is left of a block can start a new one at its beginning.
    static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
    return static_cast<T*>(allocate_bytes(count * sizeof(T), alignof(T)));
  }

  std::string_view copy_text(std::string_view text) {
    // `text` copied into the arena; an empty text takes no room.
    if (text.empty()) return {};
    char* copy = allocate<char>(text.size());
    std::memcpy(copy, text.data(), text.size());
    return {copy, text.size()};
  }

  std::size_t reserved_bytes() const;
  // Bytes of all blocks taken so far, used or not.

 private:
  void* allocate_bytes(std::size_t bytes, std::size_t alignment) {
    const std::size_t skip = (alignment - reinterpret_cast<std::uintptr_t>(cursor_) % alignment) % alignment;
    if (cursor_ == nullptr || bytes + skip > static_cast<std::size_t>(end_ - cursor_)) {
      return allocate_block(bytes);
    }
    void* at = cursor_ + skip;
    cursor_ += skip + bytes;
    return at;
  }

  void* allocate_block(std::size_t bytes);

  std::vector<std::unique_ptr<std::byte[]>> blocks_;
  std::size_t block_limit_ = SIZE_MAX;
  std::size_t reserved_ = 0;
  std::byte* cursor_ = nullptr;
  std::byte* end_ = nullptr;
};

}  // namespace zlu_package
