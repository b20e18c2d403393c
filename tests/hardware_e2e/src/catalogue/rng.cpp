#include "catalogue/rng.hpp"

namespace hardware_e2e {

namespace {
__extension__ typedef unsigned __int128 Product;
}  // namespace

std::uint64_t Rng::gen_u64() {
  state_ += 0x2d358dccaa6c78a5ULL;
  const std::uint64_t s = state_;
  const Product product = static_cast<Product>(s) * (s ^ 0x8bb84b93962eacc9ULL);
  return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

std::uint32_t Rng::gen_mod_u32(std::uint32_t n) {
  std::uint32_t r = gen_u32();
  std::uint64_t m = static_cast<std::uint64_t>(r) * n;
  std::uint32_t low = static_cast<std::uint32_t>(m);
  if (low < n) {
    const std::uint32_t threshold = (0u - n) % n;
    while (low < threshold) {
      r = gen_u32();
      m = static_cast<std::uint64_t>(r) * n;
      low = static_cast<std::uint32_t>(m);
    }
  }
  return static_cast<std::uint32_t>(m >> 32);
}

std::uint16_t Rng::u16(std::uint16_t low, std::uint32_t end) {
  const std::uint32_t high = end - 1;
  if (low == 0 && high == 0xffff) return static_cast<std::uint16_t>(gen_u32());
  return static_cast<std::uint16_t>(low + gen_mod_u32(high - low + 1));
}

}  // namespace hardware_e2e
