#include "blocked_gemm.hpp"

#include <set>

#include <gtest/gtest.h>

namespace zlu_gemm {
namespace {

TEST(ReferenceProduct, MultiplyingByTheIdentityGivesTheOperandBack) {
  const std::uint32_t n = 32;
  const std::vector<Element> a = make_operand(n, OPERAND_SEED, 0);
  std::vector<Element> identity(n * n, 0);
  for (std::uint32_t i = 0; i < n; ++i) identity[i * n + i] = 1;
  EXPECT_EQ(reference_product(a, identity, n), a);
  EXPECT_EQ(reference_product(identity, a, n), a);
}

TEST(MakeOperand, IsDeterministicSmallAndDiffersBetweenOperands) {
  const std::vector<Element> a = make_operand(64, OPERAND_SEED, 0);
  EXPECT_EQ(a, make_operand(64, OPERAND_SEED, 0));
  EXPECT_NE(a, make_operand(64, OPERAND_SEED, 1));
  std::set<Element> seen(a.begin(), a.end());
  EXPECT_EQ(*seen.begin(), -7);
  EXPECT_EQ(*seen.rbegin(), 7);
  EXPECT_EQ(seen.size(), 15u);
}

TEST(MultiplyAccumulateBlock, SummingBlockProductsGivesTheReferenceBlock) {
  const std::uint32_t n = 3 * GEMM_BLOCK;
  const std::vector<Element> a = make_operand(n, 11, 0);
  const std::vector<Element> b = make_operand(n, 11, 1);
  const std::vector<Element> c = reference_product(a, b, n);
  for (std::uint32_t row = 0; row < 3; ++row)
    for (std::uint32_t column = 0; column < 3; ++column) {
      std::vector<Element> block(BLOCK_ELEMENTS, 0);
      for (std::uint32_t k = 0; k < 3; ++k)
        multiply_accumulate_block(extract_block(a, n, {row, k}), extract_block(b, n, {k, column}), block);
      EXPECT_EQ(block, extract_block(c, n, {row, column})) << "block " << row << "," << column;
    }
}

TEST(GemmLayout, PlacesEveryBlockOnItsOwnTileOfTheCard) {
  for (const std::uint32_t dimension : {GEMM_BLOCK, 128u, max_dimension(1472)}) {
    const GemmLayout layout = GemmLayout::for_dimension(dimension, 1472);
    std::set<std::uint16_t> tiles;
    for (std::uint32_t r = 0; r < layout.blocks_per_side; ++r)
      for (std::uint32_t c = 0; c < layout.blocks_per_side; ++c) tiles.insert(layout.tile_of({r, c}));
    EXPECT_EQ(tiles.size(), layout.block_count()) << dimension;
    EXPECT_LT(*tiles.rbegin(), 1472) << dimension;
  }
  EXPECT_EQ(max_dimension(1472) / GEMM_BLOCK, 38u);
}

}  // namespace
}  // namespace zlu_gemm
