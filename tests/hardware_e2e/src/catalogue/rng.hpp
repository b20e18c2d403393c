// The seeded generator behind the randomized scenarios.
#pragma once

#include <cstdint>

namespace hardware_e2e {

class Rng {
  // wyrand with multiply-and-shift range reduction. The scenarios launched
  // depend on its exact output, so every step here is fixed: a change would
  // silently launch different tiles.

 public:
  static Rng with_seed(std::uint64_t seed) { return Rng(seed); }
  // A generator whose state is `seed` itself.

  std::uint64_t state() const { return state_; }

  std::uint64_t gen_u64();
  // One step of the generator.
  std::uint32_t gen_u32() { return static_cast<std::uint32_t>(gen_u64()); }
  // The low 32 bits of one step.
  std::uint32_t gen_mod_u32(std::uint32_t n);
  // A value in 0 to n - 1 for n >= 1, by Lemire's reduction with rejection.
  std::uint16_t u16(std::uint16_t low, std::uint32_t end);
  // A value in the half-open range [low, end), low < end <= 65536.

 private:
  explicit Rng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t state_;
};

constexpr std::uint32_t mul_high_u32(std::uint32_t a, std::uint32_t b) {
  return static_cast<std::uint32_t>((static_cast<std::uint64_t>(a) * b) >> 32);
}
// The high 32 bits of the 64-bit product a * b.

}  // namespace hardware_e2e
