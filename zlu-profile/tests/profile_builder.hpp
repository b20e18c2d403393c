// Cycle-profile files for tests and benchmarks, written with the schema's
// builders from a plain description, and read back as the hardware tests
// read them. Every component's tests share it.
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "zlu-package/src/lib.hpp"

namespace zlu_profile::testing {

struct SampleSpec {
  zlu_package::ProfileStepKind kind = zlu_package::ProfileStepKind::Exchange;
  std::uint32_t start_cycle = 0;
  std::uint32_t end_cycle = 0;
  std::string operation = "op";
  std::string kernel = "kernel";
  std::vector<std::pair<std::string, std::string>> metadata;
};

struct TileSpec {
  std::uint32_t physical_tile = 0;
  std::vector<SampleSpec> samples;
};

struct ProfileShape {
  std::uint32_t schema_version = 3;
  std::uint64_t clock_hz = 0;
  std::vector<TileSpec> tiles;
};

// A card-wide profile like the GEMM runner's: every one of the 1472 tiles,
// `supersteps` rounds of compute, synchronisation, exchange and idle each.
// Tiles differ in their compute length so that rankings are meaningful.
ProfileShape card_profile(std::uint32_t supersteps);

// Writes `shape` as one message to `path`, replacing any file there.
void write_profile(const ProfileShape& shape, const std::filesystem::path& path);

// `shape` as the package reader decodes it.
zlu_package::ProfileReport decode(const ProfileShape& shape);

// Reads the profile at `path` with the reader the hardware tests use; throws
// when the file cannot be opened.
std::expected<zlu_package::ProfileReport, zlu_package::PackageError> read_profile_file(
    const std::filesystem::path& path);

// The bytes of the file at `path`.
std::string contents(const std::filesystem::path& path);

class ScratchDirectory {
  // A fresh directory under the system's temporary directory, removed with
  // everything in it when the value goes.
public:
  ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  ~ScratchDirectory();

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
  std::filesystem::path path_;
};

}  // namespace zlu_profile::testing
