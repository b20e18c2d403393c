// Running FP16 FlashAttention on the card model and checking it against the
// host reference.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string_view>
#include <vector>

#include "card.hpp"
#include "flash_attention.hpp"
#include "runner.hpp"

namespace zlu_attention {

inline constexpr std::string_view RUNNER = zlu_contract::ATTENTION_RUNNER;

// Largest absolute difference from the double-precision reference that an
// output element may show. Outputs are convex combinations of values in
// [-1, 1]; storing them in half precision alone costs up to 2^-12 ≈ 2.4e-4,
// and single-precision accumulation adds far less.
inline constexpr double TOLERANCE = 2e-3;

// The encoder shapes the runner checks: head dimensions 64 and 128, batch
// sizes 1, 2 and 4, sequence lengths 64, 128 and 256.
std::span<const AttentionShape> encoder_shapes();

struct AttentionInputs {
  // The half-precision inputs of one shape, from a fixed seed: Q and K uniform
  // in [-1.5, 1.5], V uniform in [-1, 1].

  std::vector<half> queries;
  std::vector<half> keys;
  std::vector<half> values;
};
AttentionInputs make_inputs(const AttentionShape& shape, std::uint64_t seed);

struct ShapeResult {
  // How one shape went: the largest absolute error over its outputs.

  AttentionShape shape;
  double max_error = 0.0;
};

// Runs one shape on `card` from logical tile `first_tile` on: per batch, one
// tile holds K and V and one tile per QUERY_BLOCK rows of queries runs
// `kernel`. K/V blocks reach the query tiles by exchange, one block per
// phase. Fails with exit 1 naming the shape, element and expected value when
// an output is off by more than TOLERANCE; a shape that does not fit the
// blocks is a configuration error.
std::expected<ShapeResult, zlu_runner::Failure> run_shape(zlu_card::Card& card, const AttentionShape& shape,
                                                          std::uint16_t first_tile, BlockKernel kernel);

// Tiles one shape occupies.
std::uint32_t tiles_for(const AttentionShape& shape);

// Runs every shape, each on tiles of its own, and reports the summary with
// each shape's largest error.
zlu_runner::Outcome run_attention(zlu_card::Card& card, std::span<const AttentionShape> shapes,
                                  BlockKernel kernel = flash_block_update);

}  // namespace zlu_attention
