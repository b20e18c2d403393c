#include "flash_attention.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include <fmt/format.h>

namespace zlu_attention {

std::string AttentionShape::name() const {
  return fmt::format("batch={} seq={} dim={}", batch, sequence, head_dim);
}

void reset_state(OnlineSoftmaxState& state) {
  std::ranges::fill(state.row_max, -std::numeric_limits<float>::infinity());
  std::ranges::fill(state.row_sum, 0.0f);
  std::ranges::fill(state.accumulator, 0.0f);
}

namespace {

// Widening once per block keeps the inner loops in single precision; the
// products of half values are exact in float, so nothing is lost by it.
std::vector<float> widen(std::span<const half> values) {
  return {values.begin(), values.end()};
}

}  // namespace

void flash_block_update(const BlockOperands& operands, OnlineSoftmaxState& state) {
  const std::uint32_t dim = operands.head_dim;
  const float scale = 1.0f / std::sqrt(static_cast<float>(dim));
  const std::vector<float> queries = widen(operands.queries);
  const std::vector<float> keys = widen(operands.keys);
  const std::vector<float> values = widen(operands.values);
  std::vector<float> scores(operands.key_rows);

  for (std::uint32_t row = 0; row < operands.rows; ++row) {
    const float* query = queries.data() + std::size_t{row} * dim;
    float block_max = -std::numeric_limits<float>::infinity();
    for (std::uint32_t key = 0; key < operands.key_rows; ++key) {
      const float* key_row = keys.data() + std::size_t{key} * dim;
      float dot = 0.0f;
      for (std::uint32_t c = 0; c < dim; ++c) dot += query[c] * key_row[c];
      scores[key] = dot * scale;
      block_max = std::max(block_max, scores[key]);
    }

    const float old_max = state.row_max[row];
    const float new_max = std::max(old_max, block_max);
    const float rescale = std::exp(old_max - new_max);
    float* out = state.accumulator.data() + std::size_t{row} * dim;
    for (std::uint32_t c = 0; c < dim; ++c) out[c] *= rescale;
    float sum = state.row_sum[row] * rescale;

    for (std::uint32_t key = 0; key < operands.key_rows; ++key) {
      const float weight = std::exp(scores[key] - new_max);
      sum += weight;
      const float* value_row = values.data() + std::size_t{key} * dim;
      for (std::uint32_t c = 0; c < dim; ++c) out[c] += weight * value_row[c];
    }
    state.row_max[row] = new_max;
    state.row_sum[row] = sum;
  }
}

void finish_rows(const OnlineSoftmaxState& state, std::uint32_t head_dim, std::span<half> output) {
  for (std::size_t row = 0; row < state.row_sum.size(); ++row) {
    const float inverse = 1.0f / state.row_sum[row];
    for (std::uint32_t c = 0; c < head_dim; ++c) {
      const std::size_t index = row * head_dim + c;
      output[index] = static_cast<half>(state.accumulator[index] * inverse);
    }
  }
}

std::vector<double> reference_attention(const AttentionShape& shape, std::span<const half> queries,
                                        std::span<const half> keys, std::span<const half> values) {
  const std::size_t seq = shape.sequence;
  const std::size_t dim = shape.head_dim;
  const double scale = 1.0 / std::sqrt(static_cast<double>(dim));
  const std::vector<double> q(queries.begin(), queries.end());
  const std::vector<double> k(keys.begin(), keys.end());
  const std::vector<double> v(values.begin(), values.end());
  std::vector<double> output(shape.elements(), 0.0);
  std::vector<double> weights(seq);

  for (std::size_t b = 0; b < shape.batch; ++b) {
    const std::size_t base = b * seq * dim;
    for (std::size_t i = 0; i < seq; ++i) {
      const double* query = q.data() + base + i * dim;
      double largest = -std::numeric_limits<double>::infinity();
      for (std::size_t j = 0; j < seq; ++j) {
        const double* key = k.data() + base + j * dim;
        double dot = 0.0;
        for (std::size_t c = 0; c < dim; ++c) dot += query[c] * key[c];
        weights[j] = dot * scale;
        largest = std::max(largest, weights[j]);
      }
      double total = 0.0;
      for (double& w : weights) {
        w = std::exp(w - largest);
        total += w;
      }
      double* out = output.data() + base + i * dim;
      for (std::size_t j = 0; j < seq; ++j) {
        const double p = weights[j] / total;
        const double* value = v.data() + base + j * dim;
        for (std::size_t c = 0; c < dim; ++c) out[c] += p * value[c];
      }
    }
  }
  return output;
}

}  // namespace zlu_attention
