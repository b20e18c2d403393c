#include "timeline.hpp"

#include <gtest/gtest.h>

namespace zlu_profile {
namespace {

using zlu_package::CycleSample;
using zlu_package::ProfileBuilder;
using zlu_package::TileProfile;

CycleSample sample(ProfileStepKind kind, std::uint32_t start, std::uint32_t end) {
  CycleSample result;
  result.step.kind = kind;
  result.start_cycle = start;
  result.end_cycle = end;
  return result;
}

std::vector<TimelineRun> runs_of(const std::vector<const TileProfile*>& entries, TimeWindow window) {
  return timeline_runs(entries, window, 10);
}

TEST(Timeline, ColumnsTakeTheirDominantKindAndTiesGoToTheEarlierKind) {
  ProfileBuilder model;
  const TileProfile tile{.physical_tile = 0,
                         .samples = model.list<CycleSample>({sample(ProfileStepKind::Compute, 100, 135), sample(ProfileStepKind::Idle, 135, 157),
                                     sample(ProfileStepKind::Exchange, 157, 200)})};
  // Column 3 (cycles 130 to 140) holds compute and idle five cycles each;
  // column 5 (150 to 160) holds seven idle and three exchange.
  EXPECT_EQ(runs_of({&tile}, {.first_cycle = 100, .span_cycles = 100}),
            (std::vector<TimelineRun>{{0, 4, ProfileStepKind::Compute},
                                      {4, 6, ProfileStepKind::Idle},
                                      {6, 10, ProfileStepKind::Exchange}}));
}

TEST(Timeline, GapsStayEmptyAndEntriesOfOneTileMerge) {
  ProfileBuilder model;
  const TileProfile first{.physical_tile = 9, .samples = model.list<CycleSample>({sample(ProfileStepKind::Compute, 0, 20)})};
  const TileProfile second{.physical_tile = 9,
                           .samples = model.list<CycleSample>({sample(ProfileStepKind::Compute, 20, 30),
                                       sample(ProfileStepKind::Synchronization, 60, 100)})};
  EXPECT_EQ(runs_of({&first, &second}, {.first_cycle = 0, .span_cycles = 100}),
            (std::vector<TimelineRun>{{0, 3, ProfileStepKind::Compute}, {6, 10, ProfileStepKind::Synchronization}}));
}

TEST(Timeline, ManySamplesReduceToAtMostOneRunPerColumn) {
  std::vector<CycleSample> samples;
  for (std::uint32_t cycle = 0; cycle < 100'000; cycle += 2) {
    samples.push_back(sample(cycle % 4 == 0 ? ProfileStepKind::Compute : ProfileStepKind::Exchange, cycle, cycle + 2));
  }
  ProfileBuilder model;
  const TileProfile tile{.physical_tile = 0, .samples = model.list(samples)};
  const auto runs = timeline_runs(std::vector<const TileProfile*>{&tile}, {.first_cycle = 0, .span_cycles = 100'000}, 1000);
  ASSERT_FALSE(runs.empty());
  EXPECT_LE(runs.size(), 1000u);
  EXPECT_EQ(runs.front().first_column, 0u);
  EXPECT_EQ(runs.back().end_column, 1000u);
}

TEST(Timeline, EmptyOrReversedSamplesAndAZeroSpanDrawNothing) {
  ProfileBuilder model;
  const TileProfile tile{.physical_tile = 0,
                         .samples = model.list<CycleSample>({sample(ProfileStepKind::Compute, 50, 50), sample(ProfileStepKind::Idle, 80, 20)})};
  EXPECT_TRUE(runs_of({&tile}, {.first_cycle = 0, .span_cycles = 100}).empty());
  const TileProfile instant{.physical_tile = 0, .samples = model.list<CycleSample>({sample(ProfileStepKind::Compute, 5, 6)})};
  EXPECT_TRUE(runs_of({&instant}, {.first_cycle = 5, .span_cycles = 0}).empty());
}

}  // namespace
}  // namespace zlu_profile
