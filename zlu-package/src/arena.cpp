#include "arena.hpp"

#include <sys/mman.h>

namespace zlu_package {

namespace {

// A model of a few elements takes one small block; larger ones take blocks
// as large as everything before them, so that a model of N bytes lives in
// about log2(N) blocks and wastes at most the unused end of the last one
// (whose pages, never written, cost no memory). The cap keeps that end
// small for the largest models.
constexpr std::size_t kFirstBlockBytes = 4 * 1024;
constexpr std::size_t kLargestBlockBytes = 32 * 1024 * 1024;

// A large model is written front to back once, so faulting its blocks in
// by huge pages where the system offers them saves most of the page faults
// of a read. A touched huge page is resident whole, which adds at most one
// such page per block to what a model costs.
constexpr std::uintptr_t kHugePageBytes = 2 * 1024 * 1024;
constexpr std::size_t kHugePagesFromBytes = 8 * 1024 * 1024;

void prefer_huge_pages(std::byte* block, std::size_t size) {
  const auto start = reinterpret_cast<std::uintptr_t>(block);
  const std::uintptr_t first = (start + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
  const std::uintptr_t last = (start + size) & ~(kHugePageBytes - 1);
  // Only advice: where it is refused, pages come one by one as before.
  if (last > first) (void)::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

}  // namespace

std::size_t ProfileArena::reserved_bytes() const { return reserved_; }

void* ProfileArena::allocate_block(std::size_t bytes) {
  const std::size_t room = block_limit_ > reserved_ ? block_limit_ - reserved_ : 0;
  const std::size_t growth = std::min({kLargestBlockBytes, std::max(kFirstBlockBytes, reserved_), room});
  const std::size_t size = std::max(bytes, growth);
  blocks_.reserve(blocks_.size() + 1);
  blocks_.push_back(std::make_unique_for_overwrite<std::byte[]>(size));
  reserved_ += size;
  std::byte* block = blocks_.back().get();
  if (size >= kHugePagesFromBytes) prefer_huge_pages(block, size);
  cursor_ = block + bytes;
  end_ = block + size;
  return block;
}

}  // namespace zlu_package
