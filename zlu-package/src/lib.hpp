// The cycle-profile package: the owned profile model and its reader.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <vector>

#include <kj/io.h>
#include <kj/memory.h>

namespace zlu_package {

enum class ProfileStepKind { Exchange, Compute, Synchronization, Idle };

struct ProfileMetadata {
  std::string name;
  std::string value;
};

struct ProfileStep {
  std::uint32_t local_index = 0;
  std::uint32_t phase = 0;
  std::uint32_t epoch = 0;
  std::string operation;
  ProfileStepKind kind = ProfileStepKind::Exchange;
  std::string kernel;
  std::vector<ProfileMetadata> metadata;
};

struct CycleSample {
  ProfileStep step;
  std::uint32_t start_cycle = 0;
  std::uint32_t end_cycle = 0;
};

struct TileProfile {
  std::uint32_t physical_tile = 0;
  std::vector<CycleSample> samples;
};

class PackageError;  // defined by the reader; debug form via `debug()`

struct ProfileReport {
  std::uint64_t clock_hz = 0;
  std::vector<TileProfile> tiles;

  // Reads one cycle-profile message from `source`, which it takes over and
  // releases on every path. Never throws.
  static std::expected<ProfileReport, PackageError> read(kj::Own<kj::InputStream> source);
};

}  // namespace zlu_package
