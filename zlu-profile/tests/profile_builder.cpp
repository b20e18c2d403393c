#include "profile_builder.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <capnp/message.h>
#include <capnp/serialize.h>
#include <kj/io.h>

#include "profile.capnp.h"

namespace zlu_profile::testing {
namespace {

profile_capnp::StepKind wire_kind(zlu_package::ProfileStepKind kind) {
  return static_cast<profile_capnp::StepKind>(static_cast<std::uint16_t>(kind));
}

void build(const ProfileShape& shape, capnp::MessageBuilder& message) {
  auto profile = message.initRoot<profile_capnp::Profile>();
  profile.setSchemaVersion(shape.schema_version);
  profile.setClockHz(shape.clock_hz);
  auto tiles = profile.initTiles(static_cast<unsigned>(shape.tiles.size()));
  for (unsigned t = 0; t < shape.tiles.size(); ++t) {
    const TileSpec& tile_spec = shape.tiles[t];
    auto tile = tiles[t];
    tile.setPhysicalTile(tile_spec.physical_tile);
    auto samples = tile.initSamples(static_cast<unsigned>(tile_spec.samples.size()));
    for (unsigned s = 0; s < tile_spec.samples.size(); ++s) {
      const SampleSpec& sample_spec = tile_spec.samples[s];
      auto sample = samples[s];
      sample.setStartCycle(sample_spec.start_cycle);
      sample.setEndCycle(sample_spec.end_cycle);
      auto step = sample.initStep();
      step.setLocalIndex(s);
      step.setOperation(sample_spec.operation);
      step.setKind(wire_kind(sample_spec.kind));
      step.setKernel(sample_spec.kernel);
      auto metadata = step.initMetadata(static_cast<unsigned>(sample_spec.metadata.size()));
      for (unsigned m = 0; m < sample_spec.metadata.size(); ++m) {
        metadata[m].setName(sample_spec.metadata[m].first);
        metadata[m].setValue(sample_spec.metadata[m].second);
      }
    }
  }
}

}  // namespace

ProfileShape card_profile(std::uint32_t supersteps) {
  using zlu_package::ProfileStepKind;
  ProfileShape shape{.schema_version = 3, .clock_hz = 1'330'000'000, .tiles = {}};
  for (std::uint32_t physical = 0; physical < 1472; ++physical) {
    TileSpec tile{.physical_tile = physical, .samples = {}};
    std::uint32_t cycle = 0;
    const std::uint32_t compute = 100 + physical % 97;
    for (std::uint32_t round = 0; round < supersteps; ++round) {
      const std::uint32_t round_start = round * 400;
      const std::pair<ProfileStepKind, std::uint32_t> steps[] = {
          {ProfileStepKind::Compute, compute},
          {ProfileStepKind::Synchronization, 20},
          {ProfileStepKind::Exchange, 60},
          {ProfileStepKind::Idle, 400 - compute - 80}};
      cycle = round_start;
      for (const auto& [kind, length] : steps) {
        tile.samples.push_back({.kind = kind,
                                .start_cycle = cycle,
                                .end_cycle = cycle + length,
                                .operation = "gemm.block",
                                .kernel = "mac_block",
                                .metadata = {{"round", std::to_string(round)}}});
        cycle += length;
      }
    }
    shape.tiles.push_back(std::move(tile));
  }
  return shape;
}

void write_profile(const ProfileShape& shape, const std::filesystem::path& path) {
  capnp::MallocMessageBuilder message;
  build(shape, message);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    throw std::runtime_error("cannot create profile " + path.string());
  }
  kj::AutoCloseFd closer(fd);
  capnp::writeMessageToFd(fd, message);
}

zlu_package::ProfileReport decode(const ProfileShape& shape) {
  capnp::MallocMessageBuilder message;
  build(shape, message);
  kj::Array<capnp::word> words = capnp::messageToFlatArray(message);
  auto report = zlu_package::ProfileReport::read(kj::heap<kj::ArrayInputStream>(words.asBytes()));
  if (!report) {
    throw std::runtime_error("the reader refused a built profile: " + report.error().debug());
  }
  return std::move(*report);
}

std::expected<zlu_package::ProfileReport, zlu_package::PackageError> read_profile_file(
    const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path.string());
  return zlu_package::ProfileReport::read(kj::heap<kj::FdInputStream>(kj::AutoCloseFd(fd)));
}

std::string contents(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

ScratchDirectory::ScratchDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zlu-profile-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a scratch folder from " + pattern);
  }
  path_ = pattern;
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace zlu_profile::testing
