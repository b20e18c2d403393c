// FP16 FlashAttention arithmetic: the per-block kernel that tiles run and the
// double-precision host reference it is checked against.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zlu_attention {

using half = _Float16;

// Query rows and key/value rows that one kernel step handles at a time.
inline constexpr std::uint32_t QUERY_BLOCK = 32;
inline constexpr std::uint32_t KEY_BLOCK = 32;

struct AttentionShape {
  // One encoder attention problem: `batch` independent heads of `sequence`
  // tokens with `head_dim` features each. Q, K, V and the output are laid out
  // batch-major, then token, then feature.

  std::uint32_t batch = 1;
  std::uint32_t sequence = 64;
  std::uint32_t head_dim = 64;

  std::size_t elements() const { return std::size_t{batch} * sequence * head_dim; }
  // "batch=2 seq=128 dim=64", the form used in summaries and failures.
  std::string name() const;
};

struct OnlineSoftmaxState {
  // The running state of the online softmax for one block of query rows, kept
  // in single precision: the largest score seen per row, the sum of the
  // exponentials relative to that maximum, and the unnormalised output rows.

  std::span<float> row_max;      // rows
  std::span<float> row_sum;      // rows
  std::span<float> accumulator;  // rows * head_dim
};

struct BlockOperands {
  // The operands of one kernel step: a block of queries against a block of keys
  // and their values, all in half precision, row-major with `head_dim` columns.

  std::span<const half> queries;  // rows * head_dim
  std::span<const half> keys;     // keys * head_dim
  std::span<const half> values;   // keys * head_dim
  std::uint32_t rows = 0;
  std::uint32_t key_rows = 0;
  std::uint32_t head_dim = 0;
};

// A kernel step: folds one key/value block into the state. A pointer so that a
// deliberately broken variant can be run in place of the real one.
using BlockKernel = void (*)(const BlockOperands&, OnlineSoftmaxState&);

// The exact single-precision value of a half, NaN and infinity included,
// without the library call that a plain conversion costs on hosts whose
// baseline instruction set has no half-precision conversion.
float half_to_float(half value);

// Resets a state before the first key block: maxima to minus infinity, sums
// and accumulators to zero.
void reset_state(OnlineSoftmaxState& state);

// The FlashAttention step: scores QKᵀ/√d, a new running maximum per row, the
// old sum and accumulator rescaled by exp(old max - new max), then the block's
// exponentials added in.
void flash_block_update(const BlockOperands& operands, OnlineSoftmaxState& state);

// Divides each accumulated row by its sum and stores it in half precision.
void finish_rows(const OnlineSoftmaxState& state, std::uint32_t head_dim, std::span<half> output);

// softmax(QKᵀ/√d)·V for every batch of `shape`, in double precision from the
// same half-precision inputs. Returns batch * sequence * head_dim values.
std::vector<double> reference_attention(const AttentionShape& shape, std::span<const half> queries,
                                        std::span<const half> keys, std::span<const half> values);

}  // namespace zlu_attention
