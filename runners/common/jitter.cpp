#include "jitter.hpp"

#include <chrono>
#include <thread>

namespace zlu_runner {
namespace {

constexpr std::string_view MAX_VARIABLE = "ZLU_HOST_WRITE_JITTER_MAX_US";
constexpr std::string_view SEED_VARIABLE = "ZLU_HOST_WRITE_JITTER_SEED";

// One step of a splitmix64 generator: small, seedable with any value, and
// good enough for spreading delays.
std::uint64_t splitmix64(std::uint64_t& state) {
  state += 0x9e3779b97f4a7c15ULL;
  std::uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

}  // namespace

std::expected<JitterSettings, Failure> read_jitter_settings(const EnvLookup& env) {
  JitterSettings settings;
  if (const auto max = env(MAX_VARIABLE)) {
    auto parsed = parse_unsigned(MAX_VARIABLE, *max, JITTER_MAX_LIMIT_US, false);
    if (!parsed) return std::unexpected(parsed.error());
    settings.max_us = *parsed;
  }
  if (const auto seed = env(SEED_VARIABLE)) {
    auto parsed = parse_unsigned(SEED_VARIABLE, *seed, UINT64_MAX, true);
    if (!parsed) return std::unexpected(parsed.error());
    settings.seed = *parsed;
  }
  return settings;
}

HostWriteJitter::HostWriteJitter(JitterSettings settings) : settings_(settings), state_(settings.seed) {}

std::uint64_t HostWriteJitter::next_delay_us() {
  if (settings_.max_us == 0) return 0;
  return splitmix64(state_) % (settings_.max_us + 1);
}

void HostWriteJitter::before_host_write() {
  const std::uint64_t delay = next_delay_us();
  if (delay > 0) std::this_thread::sleep_for(std::chrono::microseconds(delay));
}

}  // namespace zlu_runner
