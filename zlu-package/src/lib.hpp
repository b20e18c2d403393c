// The cycle-profile package: the owned profile model and its reader.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <vector>

#include <capnp/message.h>
#include <kj/io.h>
#include <kj/memory.h>

#include "error.hpp"

namespace zlu_package {

enum class ProfileStepKind { Exchange, Compute, Synchronization, Idle };

struct ProfileMetadata {
  std::string name;
  std::string value;

  bool operator==(const ProfileMetadata&) const = default;
};

struct ProfileStep {
  std::uint32_t local_index = 0;
  std::uint32_t phase = 0;
  std::uint32_t epoch = 0;
  std::string operation;
  ProfileStepKind kind = ProfileStepKind::Exchange;
  std::string kernel;
  std::vector<ProfileMetadata> metadata;

  bool operator==(const ProfileStep&) const = default;
};

struct CycleSample {
  ProfileStep step;
  std::uint32_t start_cycle = 0;
  std::uint32_t end_cycle = 0;

  bool operator==(const CycleSample&) const = default;
};

struct TileProfile {
  std::uint32_t physical_tile = 0;
  std::vector<CycleSample> samples;

  bool operator==(const TileProfile&) const = default;
};

struct VersionedProfileReport;

struct ProfileReport {
  std::uint64_t clock_hz = 0;
  std::vector<TileProfile> tiles;

  bool operator==(const ProfileReport&) const = default;

  // Reads one cycle-profile message from `source`, which it takes over and
  // releases on every path. Never throws.
  //
  // The source is read from its current position exactly as far as the
  // message reaches. The work is bounded by the size of the message: a
  // message whose pointers make it traverse more than a small multiple of
  // its own words (many pointers at one object), or whose model would take
  // more than three times its size (lists of empty elements), fails with a
  // `Capnp` error instead of building an outsized model. A read thus holds
  // at most four times the message, with the message itself, plus a small
  // allowance.
  static std::expected<ProfileReport, PackageError> read(kj::Own<kj::InputStream> source);

  // `read`, also returning the format version stamped in the message, for
  // tools that show it: the model itself does not keep the version.
  static std::expected<VersionedProfileReport, PackageError> read_versioned(kj::Own<kj::InputStream> source);
};

// A profile together with the accepted format version (1 to 3) of its file.
struct VersionedProfileReport {
  std::uint32_t schema_version = 0;
  ProfileReport report;
};

capnp::ReaderOptions capnp_reader_options();
// The options of the package's messages: no traversal limit, nesting limit 64.

}  // namespace zlu_package
