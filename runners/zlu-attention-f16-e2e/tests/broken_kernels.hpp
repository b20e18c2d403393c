// Deliberately wrong FlashAttention kernels, to show that the checks catch
// a kernel that is almost right.
#pragma once

#include <algorithm>
#include <limits>
#include <vector>

#include "flash_attention.hpp"

namespace zlu_attention::testing {

// Drops the online-softmax rescale: every key block is weighted against its
// own maximum, and the earlier blocks' sums and outputs are added unscaled.
inline void update_without_rescale(const BlockOperands& operands, OnlineSoftmaxState& state) {
  const std::vector<float> earlier_sum(state.row_sum.begin(), state.row_sum.end());
  const std::vector<float> earlier_output(state.accumulator.begin(), state.accumulator.end());
  reset_state(state);
  flash_block_update(operands, state);
  for (std::size_t i = 0; i < earlier_sum.size(); ++i) state.row_sum[i] += earlier_sum[i];
  for (std::size_t i = 0; i < earlier_output.size(); ++i) state.accumulator[i] += earlier_output[i];
}

}  // namespace zlu_attention::testing
