// A simple tensor allocator of the kind a compiler uses for tile SRAM: a bump
// pointer over the SRAM that never lets a piece cross an arena boundary, so a
// tensor larger than what is left of an arena is split into segments.
#pragma once

#include <cstdint>
#include <expected>
#include <vector>

#include "zlu-exchange/src/lib.hpp"

namespace zlu_graph {

struct Segment {
  // A piece of a tensor: `bytes` bytes of the tensor starting at
  // `tensor_offset` live at SRAM `address`, inside one arena.

  std::uint32_t tensor_offset = 0;
  std::uint32_t address = 0;
  std::uint32_t bytes = 0;
  friend bool operator==(const Segment&, const Segment&) = default;
};

// Where a tensor lives: its segments in tensor order.
using Placement = std::vector<Segment>;

class SegmentAllocator {
  // Hands out SRAM from address 0 upward. Invariant: `next_` is 4-aligned and
  // at most the SRAM size.
 public:
  // Places a tensor of `bytes` bytes (a positive multiple of 4). Errors:
  // Count for a bad size, Schedule when the SRAM has no room left.
  std::expected<Placement, zlu_exchange::ExchangeError> allocate(std::uint32_t bytes);

 private:
  std::uint32_t next_ = 0;
};

struct AlignedPiece {
  // A piece of work over several tensors at once: `bytes` bytes at
  // `tensor_offset` of each tensor, at the given address of each, so that no
  // piece crosses a segment boundary of any of them.

  std::uint32_t tensor_offset = 0;
  std::uint32_t bytes = 0;
  std::vector<std::uint32_t> addresses;  // one per tensor
};

// The common refinement of the placements of equally long tensors.
std::vector<AlignedPiece> align_segments(const std::vector<Placement>& placements);

}  // namespace zlu_graph
