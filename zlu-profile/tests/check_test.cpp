#include "check.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "profile_builder.hpp"

namespace zlu_profile {
namespace {

using testing::card_profile;
using testing::decode;
using testing::ProfileShape;
using zlu_package::ProfileStepKind;

ProfileShape without_kinds(ProfileShape shape, std::initializer_list<ProfileStepKind> kinds) {
  for (auto& tile : shape.tiles) {
    std::erase_if(tile.samples, [&](const testing::SampleSpec& sample) {
      return std::ranges::find(kinds, sample.kind) != kinds.end();
    });
  }
  return shape;
}

TEST(CheckProfile, HealthyCardProfilePasses) {
  EXPECT_EQ(check_profile(decode(card_profile(2))), std::nullopt);
}

TEST(CheckProfile, TileCountMismatchShowsBothCountsAndWinsOverLaterChecks) {
  ProfileShape shape = card_profile(1);
  shape.tiles.pop_back();
  shape.clock_hz = 0;
  EXPECT_EQ(check_profile(decode(shape)), "assertion `left == right` failed\n  left: 1471\n right: 1472");
  shape.tiles.clear();
  EXPECT_EQ(check_profile(decode(shape)), "assertion `left == right` failed\n  left: 0\n right: 1472");
}

TEST(CheckProfile, ZeroClockFailsEvenWhenEverythingElseHolds) {
  ProfileShape shape = card_profile(1);
  shape.clock_hz = 0;
  EXPECT_EQ(check_profile(decode(shape)), "assertion failed: profile.clock_hz > 0");
}

TEST(CheckProfile, OneTileWithoutSamplesFailsWhateverTheOthersHold) {
  ProfileShape shape = card_profile(1);
  shape.tiles[700].samples.clear();
  EXPECT_EQ(check_profile(decode(shape)),
            "assertion failed: profile.tiles.iter().all(|tile| !tile.samples.is_empty())");
}

TEST(CheckProfile, MissingKindMessagesMatchTheTestsTextAndLength) {
  struct Case {
    ProfileStepKind kind;
    std::string comparison;
    std::size_t length;
  };
  const Case cases[] = {
      {ProfileStepKind::Exchange, "sample.step.kind == zlu_package::ProfileStepKind::Exchange)", 195},
      {ProfileStepKind::Compute, "sample.step.kind == zlu_package::ProfileStepKind::Compute)", 194},
      {ProfileStepKind::Synchronization,
       "sample.step.kind ==\n                        zlu_package::ProfileStepKind::Synchronization)", 226},
      {ProfileStepKind::Idle, "sample.step.kind == zlu_package::ProfileStepKind::Idle)", 191},
  };
  for (const Case& c : cases) {
    const auto message = check_profile(decode(without_kinds(card_profile(1), {c.kind})));
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(*message, "assertion failed: profile.tiles.iter().any(|tile|\n        {\n"
                        "            tile.samples.iter().any(|sample|\n                    " +
                            c.comparison + "\n        })");
    EXPECT_EQ(message->size(), c.length) << *message;
  }
}

TEST(CheckProfile, KindsAreCheckedInOrder) {
  const auto message = check_profile(
      decode(without_kinds(card_profile(1), {ProfileStepKind::Compute, ProfileStepKind::Idle})));
  ASSERT_TRUE(message.has_value());
  EXPECT_NE(message->find("ProfileStepKind::Compute)"), std::string::npos) << *message;
}

TEST(CheckProfile, KindsMaySpreadOverDifferentTiles) {
  ProfileShape shape = card_profile(1);
  for (auto& tile : shape.tiles) {
    tile.samples.resize(1);
    tile.samples[0].kind = ProfileStepKind::Compute;
  }
  shape.tiles[3].samples[0].kind = ProfileStepKind::Exchange;
  shape.tiles[1400].samples.resize(2);
  shape.tiles[1400].samples[0].kind = ProfileStepKind::Synchronization;
  shape.tiles[1400].samples[1].kind = ProfileStepKind::Idle;
  EXPECT_EQ(check_profile(decode(shape)), std::nullopt);
}

}  // namespace
}  // namespace zlu_profile
