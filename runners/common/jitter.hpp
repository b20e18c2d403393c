// Host-write jitter: a seeded random wait before every host write, to shake
// out timing assumptions between the host and the card.
#pragma once

#include <cstdint>
#include <expected>

#include "environment.hpp"
#include "outcome.hpp"
#include "zlu-base/src/splitmix64.hpp"

namespace zlu_runner {

inline constexpr std::uint64_t JITTER_MAX_LIMIT_US = 1'000'000;

struct JitterSettings {
  // The jitter settings: the largest delay in microseconds (0 means none) and
  // the seed of the delays.

  std::uint64_t max_us = 0;
  std::uint64_t seed = 0;
};

// Reads ZLU_HOST_WRITE_JITTER_MAX_US (decimal, at most 1000000, default 0)
// and ZLU_HOST_WRITE_JITTER_SEED (decimal or "0x" hex, default 0). An empty
// or malformed value is a configuration error naming the variable and value.
std::expected<JitterSettings, Failure> read_jitter_settings(const EnvLookup& env);

class HostWriteJitter {
  // Draws the delays from the seed. Holds the generator state, so one object
  // serves every host write of a run and the sequence of delays is repeatable.
 public:
  explicit HostWriteJitter(JitterSettings settings);

  // The next delay, uniform in 0 to max_us microseconds.
  std::uint64_t next_delay_us();

  // Sleeps for the next delay; call before each host write.
  void before_host_write();

 private:
  JitterSettings settings_;
  zlu_base::SplitMix64 generator_;
};

}  // namespace zlu_runner
