// The one small seeded generator of the project (splitmix64): any 64-bit
// seed works, and a seed always gives the same sequence on every host, so a
// seed printed in a report replays what it chose. Shuffle orders, runner
// data and jitter delays all depend on its exact output: nothing here may
// change.
#pragma once

#include <cstdint>

namespace zlu_base {

inline constexpr std::uint64_t SPLITMIX64_GAMMA = 0x9e3779b97f4a7c15ULL;
// The step the generator's state advances by.

constexpr std::uint64_t splitmix64_mix(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}
// The generator's finaliser on its own, a stateless hash of 64 bits: every
// input bit reaches every output bit.

class SplitMix64 {
 public:
  explicit SplitMix64(std::uint64_t seed) : state_(seed) {}

  std::uint64_t next() { return splitmix64_mix(state_ += SPLITMIX64_GAMMA); }

  std::uint64_t below(std::uint64_t bound) {
    const std::uint64_t threshold = (0 - bound) % bound;
    while (true)
      if (const std::uint64_t draw = next(); draw >= threshold) return draw % bound;
  }
  // Uniform in [0, bound) for bound > 0: draws below 2^64 mod bound are
  // thrown away so that every residue is equally likely.

  std::uint64_t between(std::uint64_t low, std::uint64_t high) {
    const std::uint64_t span = high - low + 1;
    return span == 0 ? next() : low + next() % span;
  }
  // A value from `low` to `high` inclusive (low <= high), by a plain modulo:
  // the runners' sequences were fixed with it.

 private:
  std::uint64_t state_;
};

}  // namespace zlu_base
