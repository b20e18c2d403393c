#include "gemm_config.hpp"

#include <limits>

#include <fmt/format.h>

#include "zlu-base/src/decimal.hpp"

namespace zlu_gemm {
namespace {

std::optional<std::uint64_t> decimal(std::string_view text, std::uint64_t max) {
  const auto value = zlu_base::parse_decimal_u64(text);
  if (!value || *value > max) return std::nullopt;
  return *value;
}

std::optional<zlu_card::StepKind> kind_named(std::string_view name) {
  for (const auto kind : {zlu_card::StepKind::Exchange, zlu_card::StepKind::Compute,
                          zlu_card::StepKind::Synchronization, zlu_card::StepKind::Idle}) {
    if (name == zlu_card::step_kind_name(kind)) return kind;
  }
  return std::nullopt;
}

std::expected<std::uint32_t, zlu_runner::Failure> read_dimension(const zlu_runner::EnvLookup& env,
                                                                 std::uint16_t tile_count) {
  constexpr std::string_view name = zlu_contract::GEMM_DIMENSION;
  const auto value = env(name);
  if (!value) return DEFAULT_DIMENSION;
  const std::uint32_t largest = max_dimension(tile_count);
  const auto parsed = decimal(*value, largest);
  if (!parsed || *parsed == 0 || *parsed % GEMM_BLOCK != 0) {
    return std::unexpected(zlu_runner::invalid_value(
        name, *value, fmt::format("a positive multiple of the block size {} up to {}", GEMM_BLOCK, largest)));
  }
  return static_cast<std::uint32_t>(*parsed);
}

std::expected<BlockCoordinate, zlu_runner::Failure> read_check_block(const zlu_runner::EnvLookup& env,
                                                                     std::uint32_t dimension) {
  constexpr std::string_view name = zlu_contract::GEMM_SRAM_CHECK_BLOCK;
  const auto value = env(name);
  if (!value) return BlockCoordinate{};
  const std::uint32_t blocks = dimension / GEMM_BLOCK;
  const auto comma = value->find(',');
  const auto row = decimal(std::string_view(*value).substr(0, comma), std::numeric_limits<std::uint32_t>::max());
  const auto column = comma == std::string::npos ? std::nullopt
                                                 : decimal(std::string_view(*value).substr(comma + 1),
                                                           std::numeric_limits<std::uint32_t>::max());
  if (!row || !column) {
    return std::unexpected(zlu_runner::invalid_value(name, *value, "a block as \"row,column\", two decimal numbers"));
  }
  if (*row >= blocks || *column >= blocks) {
    return std::unexpected(zlu_runner::invalid_value(
        name, *value,
        fmt::format("a block inside the {0}x{0} blocks of a dimension-{1} matrix (rows and columns 0 to {2})", blocks,
                    dimension, blocks - 1)));
  }
  return BlockCoordinate{static_cast<std::uint32_t>(*row), static_cast<std::uint32_t>(*column)};
}

}  // namespace

bool apply_profile_action(std::string_view action, zlu_card::ProfileFaults& faults) {
  const auto argument = [&](std::string_view prefix) -> std::optional<std::string_view> {
    if (!action.starts_with(prefix)) return std::nullopt;
    return action.substr(prefix.size());
  };
  if (action == "no-profile") {
    faults.skip_file = true;
  } else if (action == "profile-clock=0") {
    faults.zero_clock = true;
  } else if (action == "profile-empty-tile") {
    faults.empty_tile = true;
  } else if (action == "profile-garbage") {
    faults.garbage = true;
  } else if (const auto tiles = argument("profile-tiles=")) {
    const auto count = decimal(*tiles, zlu_exchange::N700_TILES);
    if (!count) return false;
    faults.tile_limit = static_cast<std::uint32_t>(*count);
  } else if (const auto kind_text = argument("profile-without=")) {
    const auto kind = kind_named(*kind_text);
    if (!kind) return false;
    faults.without_kind = kind;
  } else if (const auto version = argument("profile-version=")) {
    const auto number = decimal(*version, std::numeric_limits<std::uint32_t>::max());
    if (!number) return false;
    faults.version = static_cast<std::uint32_t>(*number);
  } else {
    return false;
  }
  return true;
}

bool is_gemm_action(std::string_view action) {
  zlu_card::ProfileFaults scratch;
  return apply_profile_action(action, scratch);
}

std::expected<GemmConfig, zlu_runner::Failure> read_gemm_config(const zlu_runner::EnvLookup& env,
                                                                const std::vector<std::string>& actions,
                                                                std::uint16_t tile_count) {
  GemmConfig config;
  auto dimension = read_dimension(env, tile_count);
  if (!dimension) return std::unexpected(dimension.error());
  config.dimension = *dimension;

  auto block = read_check_block(env, config.dimension);
  if (!block) return std::unexpected(block.error());
  config.check_block = *block;

  auto output = zlu_runner::read_profile_output(env);
  if (!output) return std::unexpected(output.error());
  config.profile_output = std::move(*output);

  auto jitter = zlu_runner::read_jitter_settings(env);
  if (!jitter) return std::unexpected(jitter.error());
  config.jitter = *jitter;

  for (const std::string& action : actions) {
    if (!apply_profile_action(action, config.profile_faults)) {
      return std::unexpected(
          zlu_runner::invalid_value(zlu_runner::SIM_FAULT_VARIABLE, action, "an action of zlu-gemm-e2e"));
    }
  }
  return config;
}

}  // namespace zlu_gemm
