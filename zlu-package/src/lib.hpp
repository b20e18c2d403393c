// The cycle-profile package: the owned profile model and its reader.
#pragma once

#include <cstdint>
#include <expected>
#include <initializer_list>
#include <memory>
#include <span>
#include <string_view>

#include <capnp/message.h>
#include <kj/io.h>
#include <kj/memory.h>

#include "arena.hpp"
#include "error.hpp"

namespace zlu_package {

enum class ProfileStepKind { Exchange, Compute, Synchronization, Idle };

// The model's texts and lists are views into the arena of the report that
// holds them: a report, and any copy of it, keeps its arena alive, so they
// are valid for as long as one of them is. A part of a model taken out of
// its report (a tile, a sample) stays valid only while the report does.

struct ProfileMetadata {
  std::string_view name;
  std::string_view value;

  bool operator==(const ProfileMetadata&) const = default;
};

struct ProfileStep {
  std::uint32_t local_index = 0;
  std::uint32_t phase = 0;
  std::uint32_t epoch = 0;
  std::string_view operation;
  ProfileStepKind kind = ProfileStepKind::Exchange;
  std::string_view kernel;
  ListView<ProfileMetadata> metadata;

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
  ListView<CycleSample> samples;

  bool operator==(const TileProfile&) const = default;
};

struct VersionedProfileReport;

class ProfileReport {
  // A cycle profile: the card's clock and what each tile ran. Copies share
  // one immutable arena; moving a report hands its arena over and leaves
  // the moved-from report empty, so that no view outlives what it points
  // into.
 public:
  std::uint64_t clock_hz = 0;
  ListView<TileProfile> tiles;

  ProfileReport() = default;
  ProfileReport(std::uint64_t clock_hz, ListView<TileProfile> tiles, std::shared_ptr<const ProfileArena> arena);
  // A report over `tiles`, whose texts and lists all live in `arena`.

  ProfileReport(const ProfileReport&) = default;
  ProfileReport& operator=(const ProfileReport&) = default;
  ProfileReport(ProfileReport&& other) noexcept;
  ProfileReport& operator=(ProfileReport&& other) noexcept;

  friend bool operator==(const ProfileReport& left, const ProfileReport& right);
  // Equal clocks and equal tiles, wherever each report keeps them.

  // Reads one cycle-profile message from `source`, which it takes over and
  // releases on every path. Never throws.
  //
  // The source is read from its current position exactly as far as the
  // message reaches. The work is bounded by the size of the message: a
  // message whose pointers make it traverse more than a small multiple of
  // its own words (many pointers at one object), whose list elements would
  // take more than ten times its size once copied (denser than any legal
  // layout: a sample is at least one word), or whose texts and empty
  // elements would take more than three times its size (lists of empty
  // elements), fails with a `Capnp` error instead of building an outsized
  // model. A read thus holds at most fourteen times the message, with the
  // message itself, plus a small allowance; the message is released before
  // it returns.
  static std::expected<ProfileReport, PackageError> read(kj::Own<kj::InputStream> source);

  // `read`, also returning the format version stamped in the message, for
  // tools that show it: the model itself does not keep the version.
  static std::expected<VersionedProfileReport, PackageError> read_versioned(kj::Own<kj::InputStream> source);

 private:
  std::shared_ptr<const ProfileArena> arena_;
};

// A profile together with the accepted format version (1 to 3) of its file.
struct VersionedProfileReport {
  std::uint32_t schema_version = 0;
  ProfileReport report;
};

class ProfileBuilder {
  // Makes a model by hand, for tests and for writers that need one without
  // a message. Every list it makes is a deep copy: the elements, their texts
  // and their lists go into the builder's arena, so temporaries may be
  // passed in. Views it returns stay valid while the builder or a report it
  // built is alive.
 public:
  ProfileBuilder();

  std::string_view text(std::string_view text);

  ListView<ProfileMetadata> list(std::span<const ProfileMetadata> entries);
  ListView<CycleSample> list(std::span<const CycleSample> samples);
  ListView<TileProfile> list(std::span<const TileProfile> tiles);

  template <typename T>
  ListView<T> list(std::initializer_list<T> items) {
    return list(std::span<const T>(items.begin(), items.size()));
  }

  ProfileReport report(std::uint64_t clock_hz, std::span<const TileProfile> tiles);
  // A report over a deep copy of `tiles`, sharing the builder's arena.

 private:
  ProfileStep copy(const ProfileStep& step);

  std::shared_ptr<ProfileArena> arena_;
};

capnp::ReaderOptions capnp_reader_options();
// The options of the package's messages: no traversal limit, nesting limit 64.

}  // namespace zlu_package
