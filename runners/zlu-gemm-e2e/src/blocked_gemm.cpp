#include "blocked_gemm.hpp"

#include <algorithm>
#include <cmath>

#include "zlu-base/src/splitmix64.hpp"

namespace zlu_gemm {

GemmLayout GemmLayout::for_dimension(std::uint32_t dimension, std::uint32_t tiles) {
  GemmLayout layout;
  layout.dimension = dimension;
  layout.blocks_per_side = dimension / GEMM_BLOCK;
  layout.tile_stride = std::max<std::uint32_t>(1, tiles / layout.block_count());
  return layout;
}

std::uint16_t GemmLayout::tile_of(BlockCoordinate block) const {
  return static_cast<std::uint16_t>((block.row * blocks_per_side + block.column) * tile_stride);
}

std::uint32_t max_dimension(std::uint32_t tiles) {
  auto side = static_cast<std::uint32_t>(std::sqrt(static_cast<double>(tiles)));
  while (side * side > tiles) --side;
  while ((side + 1) * (side + 1) <= tiles) ++side;
  return side * GEMM_BLOCK;
}

namespace {

// A stateless mix (splitmix64's finaliser): element i of an operand depends
// only on the seed and i, so any block can be regenerated on its own.
std::uint64_t mix(std::uint64_t x) { return zlu_base::splitmix64_mix(x + zlu_base::SPLITMIX64_GAMMA); }

}  // namespace

std::vector<Element> make_operand(std::uint32_t dimension, std::uint64_t seed, std::uint32_t which) {
  const std::size_t count = std::size_t{dimension} * dimension;
  std::vector<Element> values(count);
  const std::uint64_t stream = mix(seed ^ (std::uint64_t{which} << 56));
  for (std::size_t i = 0; i < count; ++i) values[i] = static_cast<Element>(mix(stream + i) % 15) - 7;
  return values;
}

std::vector<Element> reference_product(std::span<const Element> a, std::span<const Element> b,
                                       std::uint32_t dimension) {
  const std::size_t n = dimension;
  std::vector<Element> c(n * n, 0);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t k = 0; k < n; ++k) {
      const Element left = a[i * n + k];
      for (std::size_t j = 0; j < n; ++j) c[i * n + j] += left * b[k * n + j];
    }
  return c;
}

std::vector<Element> extract_block(std::span<const Element> matrix, std::uint32_t dimension, BlockCoordinate block) {
  std::vector<Element> out(BLOCK_ELEMENTS);
  for (std::uint32_t r = 0; r < GEMM_BLOCK; ++r) {
    const std::size_t row = std::size_t{block.row} * GEMM_BLOCK + r;
    const auto first = matrix.begin() + static_cast<std::ptrdiff_t>(row * dimension + block.column * GEMM_BLOCK);
    std::copy(first, first + GEMM_BLOCK, out.begin() + r * GEMM_BLOCK);
  }
  return out;
}

void multiply_accumulate_block(std::span<const Element> a, std::span<const Element> b, std::span<Element> c) {
  for (std::uint32_t i = 0; i < GEMM_BLOCK; ++i)
    for (std::uint32_t k = 0; k < GEMM_BLOCK; ++k) {
      const Element left = a[i * GEMM_BLOCK + k];
      for (std::uint32_t j = 0; j < GEMM_BLOCK; ++j) c[i * GEMM_BLOCK + j] += left * b[k * GEMM_BLOCK + j];
    }
}

}  // namespace zlu_gemm
