// The host exchange runner's configuration, read once from the environment.
#pragma once

#include <cstdint>
#include <expected>
#include <string_view>
#include <vector>

#include "runner.hpp"

namespace zlu_host {

inline constexpr std::string_view RUNNER = zlu_contract::HOST_RUNNER;

enum class HostMode {
  // What one invocation of the host program does.

  RoundTrip,     // H2D, then D2H of the same range
  D2hOnly,       // the tile initialises its own data; the host only reads
  RemoteD2h,     // as D2hOnly, on a tile far from the host link (default 1471)
  ComputeRelay,  // H2D, compute, D2D to a second tile, compute, D2H
  Exchange,      // H2D (or on-card initialisation), timed D2D relay, D2H
};

std::string_view mode_name(HostMode mode);

struct HostConfig {
  HostMode mode = HostMode::RoundTrip;
  std::vector<std::uint16_t> tiles{0};
  std::uint32_t bytes = 256;
  std::uint32_t address = 0;
  std::uint32_t invocations = 1;
  // RoundTrip only: H2D once at load; every invocation reads back.
  bool resident_input = false;
  // Exchange only: the relay's source is initialised on the card.
  bool initialized_exchange = false;
  zlu_runner::JitterSettings jitter;
};

// Reads every ZLU_HOST_TEST_ variable and the jitter settings. Invalid or
// conflicting settings are a configuration error naming the variable(s) and
// value(s).
std::expected<HostConfig, zlu_runner::Failure> read_host_config(const zlu_runner::EnvLookup& env);

}  // namespace zlu_host
