#include "arena.hpp"

namespace zlu_package {

namespace {

// A model of a few elements takes one small block; larger ones take blocks
// as large as everything before them, so that a model of N bytes lives in
// about log2(N) blocks and wastes at most the unused end of the last one
// (whose pages, never written, cost no memory). The cap keeps that end
// small for the largest models.
constexpr std::size_t kFirstBlockBytes = 4 * 1024;
constexpr std::size_t kLargestBlockBytes = 32 * 1024 * 1024;

}  // namespace

std::size_t ProfileArena::reserved_bytes() const { return reserved_; }

void* ProfileArena::allocate_block(std::size_t bytes, std::size_t alignment) {
  // Blocks from operator new[] are aligned for any model value, so only a
  // request larger than the growth step needs a block of its own size.
  static_assert(__STDCPP_DEFAULT_NEW_ALIGNMENT__ >= alignof(std::max_align_t));
  (void)alignment;
  const std::size_t room = block_limit_ > reserved_ ? block_limit_ - reserved_ : 0;
  const std::size_t growth = std::min({kLargestBlockBytes, std::max(kFirstBlockBytes, reserved_), room});
  const std::size_t size = std::max(bytes, growth);
  blocks_.reserve(blocks_.size() + 1);
  blocks_.push_back(std::make_unique_for_overwrite<std::byte[]>(size));
  reserved_ += size;
  std::byte* block = blocks_.back().get();
  cursor_ = block + bytes;
  end_ = block + size;
  return block;
}

}  // namespace zlu_package
