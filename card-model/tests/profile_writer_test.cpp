#include "profile_writer.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>
#include <kj/io.h>

#include "zlu-package/src/lib.hpp"
#include "zlu-profile/tests/profile_builder.hpp"

namespace zlu_card {
namespace {

namespace fs = std::filesystem;
using zlu_profile::testing::contents;
using zlu_profile::testing::read_profile_file;
using zlu_profile::testing::ScratchDirectory;

// A card that has done a little of everything: a host write, a compute step
// with metadata on one tile, an exchange between two tiles (whose
// synchronisation leaves the rest idle) and a read back.
Card exercised_card(std::uint64_t operations = 100) {
  Card card;
  const std::vector<std::byte> data(64, std::byte{7});
  EXPECT_TRUE(card.host_write(5, 0x100, data));
  ComputePhase compute{"scale", {}};
  compute.tasks.push_back(
      {5, "scale-kernel", [operations](TileSram&) -> std::expected<ComputeWork, zlu_exchange::ExchangeError> {
         return ComputeWork{operations, {{"rows", "4"}, {"rows", "5"}}};
       }});
  EXPECT_TRUE(card.compute(compute));
  EXPECT_TRUE(card.exchange({"pass-on", {{5, 0x100, 64, {{900, 0x0}}}}}));
  std::vector<std::byte> back(64);
  EXPECT_TRUE(card.host_read(900, 0x0, back));
  return card;
}

// Faults with one change from the sound default.
template <typename Change>
ProfileFaults faults_with(Change change) {
  ProfileFaults faults;
  change(faults);
  return faults;
}

zlu_package::ProfileStepKind model_kind(StepKind kind) {
  return static_cast<zlu_package::ProfileStepKind>(static_cast<int>(kind));
}

TEST(WriteProfile, ReadsBackAsEveryTileWithItsLoggedSteps) {
  const ScratchDirectory dir;
  const Card card = exercised_card();
  const fs::path target = dir.path() / "profile.capnp";
  ASSERT_TRUE(write_profile(card, target));

  const auto report = read_profile_file(target);
  ASSERT_TRUE(report) << report.error().debug();
  EXPECT_EQ(report->clock_hz, card.clock_hz());
  ASSERT_EQ(report->tiles.size(), card.tile_count());
  for (std::uint16_t p = 0; p < card.tile_count(); ++p) {
    const zlu_package::TileProfile& tile = report->tiles[p];
    const std::vector<StepRecord>& steps = card.steps(p);
    EXPECT_EQ(tile.physical_tile, p);
    ASSERT_EQ(tile.samples.size(), steps.size()) << "tile " << p;
    ASSERT_FALSE(steps.empty()) << "tile " << p;
    for (std::size_t s = 0; s < steps.size(); ++s) {
      const zlu_package::CycleSample& sample = tile.samples[s];
      EXPECT_EQ(sample.start_cycle, steps[s].start_cycle);
      EXPECT_EQ(sample.end_cycle, steps[s].end_cycle);
      EXPECT_EQ(sample.step.kind, model_kind(steps[s].kind));
      EXPECT_EQ(sample.step.operation, steps[s].operation);
      EXPECT_EQ(sample.step.kernel, steps[s].kernel);
      EXPECT_EQ(sample.step.phase, steps[s].phase);
      EXPECT_EQ(sample.step.local_index, steps[s].local_index);
      ASSERT_EQ(sample.step.metadata.size(), steps[s].metadata.size());
      for (std::size_t m = 0; m < steps[s].metadata.size(); ++m) {
        EXPECT_EQ(sample.step.metadata[m].name, steps[s].metadata[m].name);
        EXPECT_EQ(sample.step.metadata[m].value, steps[s].metadata[m].value);
      }
    }
  }
}

TEST(WriteProfile, EachFaultDamagesOnlyWhatItNames) {
  const ScratchDirectory dir;
  const Card card = exercised_card();
  const fs::path target = dir.path() / "profile.capnp";
  const auto write_and_read = [&](const ProfileFaults& faults) {
    EXPECT_TRUE(write_profile(card, target, faults));
    auto report = read_profile_file(target);
    EXPECT_TRUE(report) << report.error().debug();
    return *report;
  };

  EXPECT_EQ(write_and_read(faults_with([&](ProfileFaults& f) { f.tile_limit = 1471; })).tiles.size(), 1471u);
  EXPECT_EQ(write_and_read(faults_with([&](ProfileFaults& f) { f.tile_limit = 0; })).tiles.size(), 0u);

  const auto no_clock = write_and_read(faults_with([&](ProfileFaults& f) { f.zero_clock = true; }));
  EXPECT_EQ(no_clock.clock_hz, 0u);
  EXPECT_EQ(no_clock.tiles.size(), 1472u);

  const auto emptied = write_and_read(faults_with([&](ProfileFaults& f) { f.empty_tile = true; }));
  ASSERT_EQ(emptied.tiles.size(), 1472u);
  EXPECT_TRUE(emptied.tiles.back().samples.empty());
  EXPECT_FALSE(emptied.tiles.front().samples.empty());

  for (const auto kind : {StepKind::Exchange, StepKind::Compute, StepKind::Synchronization, StepKind::Idle}) {
    const auto without = write_and_read(faults_with([&](ProfileFaults& f) { f.without_kind = kind; }));
    std::size_t samples = 0;
    for (const auto& tile : without.tiles)
      for (const auto& sample : tile.samples) {
        ++samples;
        EXPECT_NE(sample.step.kind, model_kind(kind)) << step_kind_name(kind);
      }
    EXPECT_GT(samples, 0u) << step_kind_name(kind);
  }
}

TEST(WriteProfile, VersionAndGarbageFaultsMakeTheFileUnreadable) {
  const ScratchDirectory dir;
  const Card card = exercised_card();
  const fs::path target = dir.path() / "profile.capnp";

  ASSERT_TRUE(write_profile(card, target, faults_with([&](ProfileFaults& f) { f.version = 4; })));
  const auto version = read_profile_file(target);
  ASSERT_FALSE(version);
  ASSERT_NE(version.error().invalid_text(), nullptr);
  EXPECT_EQ(*version.error().invalid_text(), "unsupported profile schema version 4");

  ASSERT_TRUE(write_profile(card, target, faults_with([&](ProfileFaults& f) { f.garbage = true; })));
  const auto garbage = read_profile_file(target);
  ASSERT_FALSE(garbage);
  EXPECT_EQ(garbage.error().kind(), zlu_package::PackageErrorKind::Capnp);

  ASSERT_TRUE(write_profile(card, target, faults_with([&](ProfileFaults& f) { f.skip_file = true; })));
  EXPECT_FALSE(read_profile_file(target)) << "skip_file must leave the previous garbage in place";
}

TEST(WriteProfile, NoProfileFaultWritesNoFile) {
  const ScratchDirectory dir;
  const fs::path target = dir.path() / "absent.capnp";
  ASSERT_TRUE(write_profile(exercised_card(), target, faults_with([&](ProfileFaults& f) { f.skip_file = true; })));
  EXPECT_FALSE(fs::exists(target));
}

TEST(EncodeProfile, RefusesCyclesPastThe32BitCounter) {
  const auto encoded = encode_profile(exercised_card(std::uint64_t{1} << 34));
  ASSERT_FALSE(encoded);
  EXPECT_NE(encoded.error().message.find("32-bit"), std::string::npos) << encoded.error().message;
}

TEST(ReplaceFile, ReplacesAPlantedLinkWithoutTouchingItsTarget) {
  const ScratchDirectory dir;
  const fs::path victim = dir.path() / "victim";
  std::ofstream(victim) << "precious";
  const fs::path target = dir.path() / "profile.capnp";
  fs::create_symlink(victim, target);

  const std::string text = "new profile bytes";
  ASSERT_TRUE(replace_file(target, std::as_bytes(std::span(text))));

  EXPECT_FALSE(fs::is_symlink(target));
  EXPECT_TRUE(fs::is_regular_file(target));
  EXPECT_EQ(contents(target), text);
  EXPECT_EQ(contents(victim), "precious");
}

TEST(ReplaceFile, WritesMode0644WhateverTheUmask) {
  const ScratchDirectory dir;
  const fs::path target = dir.path() / "profile.capnp";
  const mode_t old_mask = ::umask(077);
  const auto written = replace_file(target, std::as_bytes(std::span("x", 1)));
  ::umask(old_mask);
  ASSERT_TRUE(written) << written.error().message;
  EXPECT_EQ(fs::status(target).permissions(), fs::perms(0644));
}

TEST(ReplaceFile, FailureNamesThePathAndLeavesNoTemporaryFile) {
  const ScratchDirectory dir;
  // A directory at the path: the new file is written, then cannot replace it.
  const fs::path occupied = dir.path() / "occupied";
  fs::create_directory(occupied);
  const auto over_directory = replace_file(occupied, std::as_bytes(std::span("x", 1)));
  ASSERT_FALSE(over_directory);
  EXPECT_NE(over_directory.error().message.find(occupied.string()), std::string::npos)
      << over_directory.error().message;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

  const fs::path missing = dir.path() / "no-such-dir" / "profile.capnp";
  const auto in_missing = replace_file(missing, std::as_bytes(std::span("x", 1)));
  ASSERT_FALSE(in_missing);
  EXPECT_NE(in_missing.error().message.find("no-such-dir"), std::string::npos) << in_missing.error().message;
}

}  // namespace
}  // namespace zlu_card
