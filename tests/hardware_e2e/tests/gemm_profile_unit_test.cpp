#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "catalogue/gemm_profile.hpp"
#include "zlu-profile/tests/profile_builder.hpp"

namespace hardware_e2e {
namespace {

using zlu_package::ProfileStepKind;
using zlu_profile::testing::ProfileShape;
using zlu_profile::testing::SampleSpec;

TEST(GemmProfilePath, JoinsTheDirectoryWithOneSlashAndTakesAnEmptyOneAsUnset) {
  EXPECT_EQ(gemm_profile_path(nullptr, 4242), "/tmp/zlu-stack-gemm-profile-4242.capnp");
  EXPECT_EQ(gemm_profile_path("/var/tmp", 7), "/var/tmp/zlu-stack-gemm-profile-7.capnp");
  EXPECT_EQ(gemm_profile_path("/var/tmp/", 7), "/var/tmp/zlu-stack-gemm-profile-7.capnp");
  EXPECT_EQ(gemm_profile_path("", 7), "/tmp/zlu-stack-gemm-profile-7.capnp");
  EXPECT_EQ(gemm_profile_path("//", 7), "//zlu-stack-gemm-profile-7.capnp");
}

SampleSpec sample(ProfileStepKind kind, std::uint32_t start, std::uint32_t end) {
  return {.kind = kind, .start_cycle = start, .end_cycle = end, .operation = "op", .kernel = "k", .metadata = {}};
}

TEST(CycleSummary, CountsEachKindTheSpanAndTheTileWithMostBusyCycles) {
  struct Case {
    const char* what;
    ProfileShape shape;
    std::array<std::uint64_t, 4> cycles_by_kind;  // exchange, compute, synchronisation, idle
    std::uint64_t span;
    std::uint16_t busiest_tile;
    std::uint64_t busiest_tile_cycles;
  };
  using enum ProfileStepKind;
  const std::vector<Case> cases = {
      // Idle cycles make tile 7 the longest but not the busiest.
      {"three tiles",
       {.schema_version = 3,
        .clock_hz = 1'000'000,
        .tiles = {{.physical_tile = 7, .samples = {sample(Compute, 10, 100), sample(Idle, 100, 400)}},
                  {.physical_tile = 2, .samples = {sample(Synchronization, 5, 60), sample(Compute, 60, 101)}},
                  {.physical_tile = 0, .samples = {sample(Exchange, 20, 70)}}}},
       {50, 131, 55, 300},
       395,
       2,
       96},
      // Equal busy cycles go to the lower tile number, whatever the order in the file.
      {"a tie",
       {.schema_version = 3,
        .clock_hz = 1'000'000,
        .tiles = {{.physical_tile = 9, .samples = {sample(Exchange, 0, 30)}},
                  {.physical_tile = 4, .samples = {sample(Compute, 100, 130)}}}},
       {30, 30, 0, 0},
       130,
       4,
       30},
      {"no samples",
       {.schema_version = 3, .clock_hz = 1'000'000, .tiles = {{.physical_tile = 3, .samples = {}}}},
       {0, 0, 0, 0},
       0,
       0,
       0},
  };
  for (const auto& c : cases) {
    const harness::CycleSummary summary = cycle_summary(zlu_profile::testing::decode(c.shape));
    EXPECT_EQ(summary.cycles_by_kind, c.cycles_by_kind) << c.what;
    EXPECT_EQ(summary.span, c.span) << c.what;
    EXPECT_EQ(summary.busiest_tile, c.busiest_tile) << c.what;
    EXPECT_EQ(summary.busiest_tile_cycles, c.busiest_tile_cycles) << c.what;
  }
}

}  // namespace
}  // namespace hardware_e2e
