// The compiler-segmented-add scenario: C = A + B on tensors too large for one
// arena, placed by the segment allocator and computed segment by segment.
#include <fmt/format.h>

#include "graph_scenarios.hpp"
#include "scenario_support.hpp"
#include "segment_allocator.hpp"

namespace zlu_graph {

using zlu_card::Card;
using zlu_card::ComputeWork;
using zlu_card::TileSram;
using zlu_exchange::ExchangeError;
using zlu_runner::Outcome;

namespace {

// 160 KiB per tensor: each of A, B and C straddles an arena boundary.
constexpr std::uint32_t TENSOR_BYTES = 160 * 1024;
constexpr std::size_t TENSOR_WORDS = TENSOR_BYTES / 4;

// Writes a tensor's host data to its segments.
std::expected<void, zlu_runner::Failure> write_tensor(Card& card, std::uint16_t tile, const Placement& placement,
                                                      std::span<const std::uint32_t> data) {
  for (const Segment& segment : placement) {
    if (auto r = zlu_runner::write_words(card, tile, segment.address,
                                         data.subspan(segment.tensor_offset / 4, segment.bytes / 4));
        !r) {
      return r;
    }
  }
  return {};
}

}  // namespace

Outcome run_compiler_segmented_add(Card& card) {
  const std::vector<std::uint16_t> tiles{0, 123, 777, 1471};
  SegmentAllocator allocator;
  std::vector<Placement> placements;
  for (int tensor = 0; tensor < 3; ++tensor) {
    auto placement = allocator.allocate(TENSOR_BYTES);
    if (!placement) return std::unexpected(zlu_runner::card_failure("allocating the add's tensors", placement.error()));
    placements.push_back(std::move(*placement));
  }
  const Placement& a = placements[0];
  const Placement& b = placements[1];
  const Placement& c = placements[2];
  const std::vector<AlignedPiece> pieces = align_segments(placements);

  for (const std::uint16_t tile : tiles) {
    if (auto r = write_tensor(card, tile, a, zlu_runner::pattern_words(tile, TENSOR_WORDS, 6)); !r)
      return std::unexpected(r.error());
    if (auto r = write_tensor(card, tile, b, zlu_runner::pattern_words(tile, TENSOR_WORDS, 7)); !r)
      return std::unexpected(r.error());
  }

  // One compute phase per piece: the program as a compiler would emit it.
  for (std::size_t p = 0; p < pieces.size(); ++p) {
    const AlignedPiece& piece = pieces[p];
    zlu_card::ComputePhase phase{fmt::format("segmented-add-{}", p), {}};
    for (const std::uint16_t tile : tiles) {
      phase.tasks.push_back({tile, "add-segment", [piece](TileSram& sram) -> std::expected<ComputeWork, ExchangeError> {
                               const std::size_t words = piece.bytes / 4;
                               std::vector<std::uint32_t> lhs(words), rhs(words);
                               if (auto r = zlu_card::load_words(sram, piece.addresses[0], lhs); !r)
                                 return std::unexpected(r.error());
                               if (auto r = zlu_card::load_words(sram, piece.addresses[1], rhs); !r)
                                 return std::unexpected(r.error());
                               for (std::size_t i = 0; i < words; ++i) lhs[i] += rhs[i];
                               if (auto r = zlu_card::store_words(sram, piece.addresses[2], lhs); !r)
                                 return std::unexpected(r.error());
                               return ComputeWork{words, {{"segment_bytes", std::to_string(piece.bytes)}}};
                             }});
    }
    if (auto r = run_compute(card, phase); !r) return std::unexpected(r.error());
  }

  for (const std::uint16_t tile : tiles) {
    const auto lhs = zlu_runner::pattern_words(tile, TENSOR_WORDS, 6);
    const auto rhs = zlu_runner::pattern_words(tile, TENSOR_WORDS, 7);
    std::vector<std::uint32_t> sum(TENSOR_WORDS);
    for (std::size_t i = 0; i < TENSOR_WORDS; ++i) sum[i] = lhs[i] + rhs[i];
    for (const Segment& segment : c) {
      const auto expected = std::span<const std::uint32_t>(sum).subspan(segment.tensor_offset / 4, segment.bytes / 4);
      if (auto r =
              zlu_runner::check_words(card, fmt::format("sum segment at tensor offset {:#x}", segment.tensor_offset),
                                      tile, segment.address, expected);
          !r) {
        return std::unexpected(r.error());
      }
    }
  }
  return scenario_summary("compiler-segmented-add", tiles.size(), card);
}

}  // namespace zlu_graph
