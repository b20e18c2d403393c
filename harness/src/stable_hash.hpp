// Hashes that are the same across builds, platforms and runs, so that what
// they decide from test names (a shuffle order, a partition) is the same on
// every host.
#pragma once

#include <cstdint>
#include <string_view>

namespace harness {

inline std::uint64_t fnv1a(std::string_view bytes, std::uint64_t hash = 0xcbf29ce484222325ULL) {
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

inline std::uint64_t splitmix64_mix(std::uint64_t z) {
  // The splitmix64 finaliser: every input bit reaches every output bit.
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

}  // namespace harness
