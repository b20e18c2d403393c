#include "segment_allocator.hpp"

#include <algorithm>

#include "sram.hpp"

namespace zlu_graph {

using zlu_exchange::ExchangeError;

std::expected<Placement, ExchangeError> SegmentAllocator::allocate(std::uint32_t bytes) {
  if (bytes == 0 || bytes % 4 != 0) return std::unexpected(ExchangeError::Count{bytes});
  if (bytes > zlu_card::SRAM_BYTES - next_) {
    return std::unexpected(ExchangeError::Schedule{"tensors do not fit in the tile's SRAM"});
  }
  Placement placement;
  std::uint32_t placed = 0;
  while (placed < bytes) {
    const std::uint32_t arena_end = (next_ / zlu_card::ARENA_BYTES + 1) * zlu_card::ARENA_BYTES;
    const std::uint32_t piece = std::min(bytes - placed, arena_end - next_);
    placement.push_back({placed, next_, piece});
    placed += piece;
    next_ += piece;
  }
  return placement;
}

std::vector<AlignedPiece> align_segments(const std::vector<Placement>& placements) {
  std::vector<AlignedPiece> pieces;
  if (placements.empty()) return pieces;
  std::vector<std::size_t> index(placements.size(), 0);
  std::uint32_t offset = 0;
  while (true) {
    std::uint32_t bytes = UINT32_MAX;
    for (std::size_t t = 0; t < placements.size(); ++t) {
      if (index[t] >= placements[t].size()) return pieces;
      const Segment& segment = placements[t][index[t]];
      bytes = std::min(bytes, segment.tensor_offset + segment.bytes - offset);
    }
    AlignedPiece piece{offset, bytes, {}};
    for (std::size_t t = 0; t < placements.size(); ++t) {
      const Segment& segment = placements[t][index[t]];
      piece.addresses.push_back(segment.address + (offset - segment.tensor_offset));
      if (segment.tensor_offset + segment.bytes == offset + bytes) ++index[t];
    }
    pieces.push_back(std::move(piece));
    offset += bytes;
  }
}

}  // namespace zlu_graph
