#include "flash_attention.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include <fmt/format.h>

namespace zlu_attention {

std::string AttentionShape::name() const { return fmt::format("batch={} seq={} dim={}", batch, sequence, head_dim); }

float half_to_float(half value) {
  const auto bits = std::bit_cast<std::uint16_t>(value);
  const std::uint32_t sign = std::uint32_t{bits & 0x8000u} << 16;
  const std::uint32_t magnitude = bits & 0x7fffu;
  // Exponent and fraction shifted into place read as a float 2^112 too small,
  // for subnormal halves as well; the multiply restores the scale exactly.
  float wide = std::bit_cast<float>(magnitude << 13) * 0x1.0p112f;
  if (magnitude >= 0x7c00u) wide = std::bit_cast<float>((magnitude << 13) | 0x7f800000u);
  return std::bit_cast<float>(std::bit_cast<std::uint32_t>(wide) | sign);
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
  std::vector<float> wide(values.size());
  std::ranges::transform(values, wide.begin(), half_to_float);
  return wide;
}

// A dot product in four interleaved partial sums: independent additions
// keep the floating-point units busy where one running sum would wait on
// each addition in turn.
template <typename T>
T dot(const T* a, const T* b, std::size_t count) {
  T partial[4] = {0, 0, 0, 0};
  std::size_t i = 0;
  for (; i + 4 <= count; i += 4)
    for (std::size_t lane = 0; lane < 4; ++lane) partial[lane] += a[i + lane] * b[i + lane];
  for (; i < count; ++i) partial[0] += a[i] * b[i];
  return (partial[0] + partial[1]) + (partial[2] + partial[3]);
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
      scores[key] = dot(query, key_row, dim) * scale;
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
  const std::vector<float> wide_q = widen(queries), wide_k = widen(keys), wide_v = widen(values);
  const std::vector<double> q(wide_q.begin(), wide_q.end());
  const std::vector<double> k(wide_k.begin(), wide_k.end());
  const std::vector<double> v(wide_v.begin(), wide_v.end());
  std::vector<double> output(shape.elements(), 0.0);
  std::vector<double> weights(seq);

  for (std::size_t b = 0; b < shape.batch; ++b) {
    const std::size_t base = b * seq * dim;
    for (std::size_t i = 0; i < seq; ++i) {
      const double* query = q.data() + base + i * dim;
      double largest = -std::numeric_limits<double>::infinity();
      for (std::size_t j = 0; j < seq; ++j) {
        const double* key = k.data() + base + j * dim;
        weights[j] = dot(query, key, dim) * scale;
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
