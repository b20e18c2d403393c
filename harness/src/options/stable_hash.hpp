// Hashes that are the same across builds, platforms and runs, so that what
// they decide from test names (a shuffle order, a partition) is the same on
// every host.
#pragma once

#include <cstdint>
#include <string_view>

#include "zlu-base/src/splitmix64.hpp"

namespace harness {

inline std::uint64_t fnv1a(std::string_view bytes, std::uint64_t hash = 0xcbf29ce484222325ULL) {
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

using zlu_base::splitmix64_mix;

}  // namespace harness
