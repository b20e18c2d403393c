// The runners' small seeded generator (splitmix64): any 64-bit seed works,
// and the same seed always gives the same sequence.
#pragma once

#include <cstdint>

namespace zlu_runner {

class SplitMix64 {
 public:
  explicit SplitMix64(std::uint64_t seed) : state_(seed) {}

  std::uint64_t next() {
    state_ += 0x9e3779b97f4a7c15ULL;
    std::uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }

  // A value from `low` to `high` inclusive (low <= high).
  std::uint64_t between(std::uint64_t low, std::uint64_t high) {
    const std::uint64_t span = high - low + 1;
    return span == 0 ? next() : low + next() % span;
  }

 private:
  std::uint64_t state_;
};

}  // namespace zlu_runner
