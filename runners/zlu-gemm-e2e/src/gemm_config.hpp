// The GEMM runner's configuration, read once from its environment.
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "blocked_gemm.hpp"
#include "profile_writer.hpp"
#include "runner.hpp"

namespace zlu_gemm {

inline constexpr std::string_view RUNNER = zlu_contract::GEMM_RUNNER;
inline constexpr std::uint32_t DEFAULT_DIMENSION = 128;

struct GemmConfig {
  // Everything the runner does is decided here before the card is touched.

  std::uint32_t dimension = DEFAULT_DIMENSION;
  // The result block whose bytes are read back from its tile on their own.
  BlockCoordinate check_block;
  // Where to write the cycle profile; no profile when unset.
  std::optional<std::filesystem::path> profile_output;
  zlu_runner::JitterSettings jitter;
  zlu_card::ProfileFaults profile_faults;
};

// Folds one of the runner's own ZLU_SIM_FAULT actions into `faults`; false
// (and `faults` unchanged) when `action` is not one, or has a bad value.
bool apply_profile_action(std::string_view action, zlu_card::ProfileFaults& faults);

// The ActionFilter of this runner: the actions apply_profile_action takes.
bool is_gemm_action(std::string_view action);

// Reads ZLU_GEMM_DIMENSION (default 128; a positive multiple of GEMM_BLOCK
// whose blocks fit one per tile), ZLU_GEMM_SRAM_CHECK_BLOCK (default "0,0";
// "row,column" inside the matrix), ZLU_PROFILE_OUTPUT (a path that names a file) and
// the jitter variables, and folds in the runner's fault actions.
std::expected<GemmConfig, zlu_runner::Failure> read_gemm_config(const zlu_runner::EnvLookup& env,
                                                                const std::vector<std::string>& actions,
                                                                std::uint16_t tile_count);

}  // namespace zlu_gemm
