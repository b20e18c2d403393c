// Integer blocked matrix multiplication: operands, the block layout over the
// card's tiles, the per-block kernel and the host reference. Integer
// arithmetic makes the card's result and the reference agree exactly, so the
// checks compare bytes, with no tolerance.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace zlu_gemm {

using Element = std::int32_t;

// Side of the square blocks that tiles multiply.
inline constexpr std::uint32_t GEMM_BLOCK = 16;
inline constexpr std::uint32_t BLOCK_ELEMENTS = GEMM_BLOCK * GEMM_BLOCK;
inline constexpr std::uint32_t BLOCK_BYTES = BLOCK_ELEMENTS * sizeof(Element);

// Seed of the operands; fixed so that every run multiplies the same matrices.
inline constexpr std::uint64_t OPERAND_SEED = 0x5eed'6e4d'0000'0128;

struct BlockCoordinate {
  // Which block of a matrix: block row and block column.

  std::uint32_t row = 0;
  std::uint32_t column = 0;
  friend bool operator==(const BlockCoordinate&, const BlockCoordinate&) = default;
};

struct GemmLayout {
  // How an n-by-n product is cut into blocks and placed: result block (r, c)
  // and the operand blocks A(r, c) and B(r, c) live on one tile, and the tiles
  // are spread evenly over the card's logical numbering.

  std::uint32_t dimension = 0;
  std::uint32_t blocks_per_side = 0;
  std::uint32_t tile_stride = 1;

  // The layout for `dimension`, which the caller has checked: a positive
  // multiple of GEMM_BLOCK with at most `tiles` result blocks.
  static GemmLayout for_dimension(std::uint32_t dimension, std::uint32_t tiles);

  std::uint32_t block_count() const { return blocks_per_side * blocks_per_side; }
  std::uint16_t tile_of(BlockCoordinate block) const;
};

// The largest dimension whose result blocks fit one per tile on `tiles` tiles.
std::uint32_t max_dimension(std::uint32_t tiles);

// A dimension-by-dimension operand, row-major, with small values (-7 to 7)
// derived from `seed` and `which` (0 for A, 1 for B).
std::vector<Element> make_operand(std::uint32_t dimension, std::uint64_t seed, std::uint32_t which);

// The plain triple-loop product of two row-major n-by-n matrices.
std::vector<Element> reference_product(std::span<const Element> a, std::span<const Element> b, std::uint32_t dimension);

// Block `block` of a row-major n-by-n matrix as GEMM_BLOCK rows of GEMM_BLOCK
// contiguous elements.
std::vector<Element> extract_block(std::span<const Element> matrix, std::uint32_t dimension, BlockCoordinate block);

// The tile kernel: c += a * b for three row-major GEMM_BLOCK-square blocks.
void multiply_accumulate_block(std::span<const Element> a, std::span<const Element> b, std::span<Element> c);

}  // namespace zlu_gemm
