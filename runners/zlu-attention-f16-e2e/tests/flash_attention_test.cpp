#include "flash_attention.hpp"

#include "broken_kernels.hpp"

#include <bit>
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

namespace zlu_attention {
namespace {

std::vector<half> ramp(std::size_t count, float start, float step) {
  std::vector<half> values(count);
  for (std::size_t i = 0; i < count; ++i) values[i] = static_cast<half>(start + step * static_cast<float>(i % 23));
  return values;
}

TEST(HalfToFloat, AgreesWithTheCompilersConversionOnEveryHalf) {
  for (std::uint32_t bits = 0; bits <= 0xffff; ++bits) {
    const half value = std::bit_cast<half>(static_cast<std::uint16_t>(bits));
    const float expected = static_cast<float>(value);
    const float got = half_to_float(value);
    if (std::isnan(expected)) {
      ASSERT_TRUE(std::isnan(got)) << std::hex << bits;
      ASSERT_EQ(std::signbit(got), std::signbit(expected)) << std::hex << bits;
    } else {
      ASSERT_EQ(std::bit_cast<std::uint32_t>(got), std::bit_cast<std::uint32_t>(expected)) << std::hex << bits;
    }
  }
}

TEST(ReferenceAttention, UniformScoresGiveTheMeanOfTheValues) {
  const AttentionShape shape{2, 8, 4};
  const std::vector<half> queries = ramp(shape.elements(), -1.0f, 0.125f);
  const std::vector<half> keys(shape.elements(), static_cast<half>(0.0f));
  const std::vector<half> values = ramp(shape.elements(), -0.5f, 0.0625f);

  const std::vector<double> out = reference_attention(shape, queries, keys, values);

  for (std::size_t b = 0; b < shape.batch; ++b)
    for (std::size_t c = 0; c < shape.head_dim; ++c) {
      double mean = 0.0;
      for (std::size_t j = 0; j < shape.sequence; ++j)
        mean += static_cast<double>(values[(b * shape.sequence + j) * shape.head_dim + c]);
      mean /= shape.sequence;
      for (std::size_t i = 0; i < shape.sequence; ++i)
        EXPECT_NEAR(out[(b * shape.sequence + i) * shape.head_dim + c], mean, 1e-12) << "batch " << b << " row " << i;
    }
}

TEST(ReferenceAttention, ADominantKeySelectsItsValueRow) {
  const AttentionShape shape{1, 4, 2};
  std::vector<half> queries(shape.elements(), static_cast<half>(8.0f));
  std::vector<half> keys(shape.elements(), static_cast<half>(0.0f));
  keys[2 * 2] = keys[2 * 2 + 1] = static_cast<half>(8.0f);  // key 2 scores 64·2/√2 above the rest
  const std::vector<half> values = ramp(shape.elements(), 0.0f, 1.0f);

  const std::vector<double> out = reference_attention(shape, queries, keys, values);

  for (std::size_t i = 0; i < shape.sequence; ++i) {
    EXPECT_NEAR(out[i * 2], static_cast<double>(values[4]), 1e-9);
    EXPECT_NEAR(out[i * 2 + 1], static_cast<double>(values[5]), 1e-9);
  }
}

// Runs the kernel over every key block of one batch on host buffers.
std::vector<half> run_blocks(BlockKernel kernel, const AttentionShape& shape, const std::vector<half>& q,
                             const std::vector<half>& k, const std::vector<half>& v) {
  const std::uint32_t dim = shape.head_dim;
  std::vector<float> row_max(shape.sequence), row_sum(shape.sequence), acc(std::size_t{shape.sequence} * dim);
  OnlineSoftmaxState state{row_max, row_sum, acc};
  reset_state(state);
  for (std::uint32_t first = 0; first < shape.sequence; first += KEY_BLOCK) {
    const std::size_t offset = std::size_t{first} * dim;
    const std::size_t length = std::size_t{KEY_BLOCK} * dim;
    kernel(
        {q, std::span(k).subspan(offset, length), std::span(v).subspan(offset, length), shape.sequence, KEY_BLOCK, dim},
        state);
  }
  std::vector<half> out(shape.elements());
  finish_rows(state, dim, out);
  return out;
}

double largest_error(const std::vector<half>& got, const std::vector<double>& expected) {
  double worst = 0.0;
  for (std::size_t i = 0; i < got.size(); ++i)
    worst = std::max(worst, std::abs(static_cast<double>(got[i]) - expected[i]));
  return worst;
}

struct Inputs {
  // Later keys score higher, so the running maximum rises from block to block.

  AttentionShape shape{1, 128, 64};
  std::vector<half> q = ramp(shape.elements(), 0.5f, 0.04f);
  std::vector<half> k = ramp(shape.elements(), -0.3f, 0.03f);
  std::vector<half> v = ramp(shape.elements(), -1.0f, 0.09f);
  Inputs() {
    for (std::size_t i = 0; i < k.size(); ++i)
      k[i] = static_cast<half>(static_cast<float>(k[i]) + static_cast<float>(i / shape.head_dim) / 64.0f);
  }
};

TEST(FlashBlockUpdate, MatchesTheReferenceAcrossKeyBlocks) {
  const Inputs in;
  const std::vector<half> out = run_blocks(flash_block_update, in.shape, in.q, in.k, in.v);
  EXPECT_LE(largest_error(out, reference_attention(in.shape, in.q, in.k, in.v)), 2e-3);
}

TEST(FlashBlockUpdate, DroppingTheRescaleIsFarOutsideTheTolerance) {
  const Inputs in;
  const std::vector<half> out = run_blocks(testing::update_without_rescale, in.shape, in.q, in.k, in.v);
  EXPECT_GT(largest_error(out, reference_attention(in.shape, in.q, in.k, in.v)), 2e-2);
}

}  // namespace
}  // namespace zlu_attention
