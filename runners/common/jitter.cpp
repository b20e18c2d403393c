#include "jitter.hpp"

#include <chrono>
#include <thread>

#include "contract.hpp"

namespace zlu_runner {
namespace {

constexpr std::string_view MAX_VARIABLE = zlu_contract::HOST_WRITE_JITTER_MAX_US;
constexpr std::string_view SEED_VARIABLE = zlu_contract::HOST_WRITE_JITTER_SEED;

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

HostWriteJitter::HostWriteJitter(JitterSettings settings) : settings_(settings), generator_(settings.seed) {}

std::uint64_t HostWriteJitter::next_delay_us() {
  if (settings_.max_us == 0) return 0;
  return generator_.between(0, settings_.max_us);
}

void HostWriteJitter::before_host_write() {
  const std::uint64_t delay = next_delay_us();
  if (delay > 0) std::this_thread::sleep_for(std::chrono::microseconds(delay));
}

}  // namespace zlu_runner
