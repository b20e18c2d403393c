// The model's storage: views that outlive moves, and equality by content.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <capnp/message.h>

#include "source.hpp"

namespace zlu_package {
namespace {

using testing::read_message;

ProfileReport read_one_sample(const std::string& operation) {
  capnp::MallocMessageBuilder message;
  auto profile = message.initRoot<profile_capnp::Profile>();
  profile.setSchemaVersion(3);
  profile.setClockHz(7);
  auto step = profile.initTiles(1)[0].initSamples(1)[0].initStep();
  step.setOperation(operation);
  auto metadata = step.initMetadata(1);
  metadata[0].setName("block");
  metadata[0].setValue(operation);
  return read_message(message).value();
}

TEST(ProfileModel, ViewsOutliveMovesAndTheMovedFromReportIsEmpty) {
  // Long enough to live in the arena rather than in any inline buffer.
  const std::string operation(200, 'o');
  std::optional<ProfileReport> source(read_one_sample(operation));
  const CycleSample* sample = &source->tiles[0].samples[0];

  ProfileReport moved(std::move(*source));
  EXPECT_EQ(source->clock_hz, 0u);
  EXPECT_TRUE(source->tiles.empty());
  source.reset();
  // The arena went with the move: the same elements, still readable.
  EXPECT_EQ(&moved.tiles[0].samples[0], sample);
  EXPECT_EQ(moved.tiles[0].samples[0].step.operation, operation);

  ProfileReport assigned;
  {
    ProfileReport copy = moved;
    assigned = std::move(copy);
  }
  moved = ProfileReport();
  EXPECT_EQ(assigned.clock_hz, 7u);
  EXPECT_EQ(assigned.tiles[0].samples[0].step.metadata[0].value, operation);
}

TEST(ProfileModel, ReportsAreEqualByContentWhereverTheirArenasAre) {
  const ProfileReport first = read_one_sample("copy");
  const ProfileReport second = read_one_sample("copy");
  ASSERT_NE(first.tiles.data(), second.tiles.data());
  EXPECT_EQ(first, second);
  EXPECT_NE(first, read_one_sample("cops"));
  EXPECT_NE(first, ProfileReport());

  ProfileBuilder builder;
  CycleSample sample;
  sample.step.operation = "copy";
  sample.step.metadata = builder.list<ProfileMetadata>({{"block", "copy"}});
  const TileProfile tile{.physical_tile = 0, .samples = builder.list<CycleSample>({sample})};
  const ProfileReport built = builder.report(7, {&tile, 1});
  EXPECT_EQ(built, first);
}

TEST(ProfileModel, TextsThatShareTheirEndsKeepTheirOwnMiddles) {
  // Equal first and last eight bytes and equal lengths, or texts short
  // enough that their ends are all of them: the reader may share a copy
  // only between texts that are equal byte for byte.
  const char* const texts[] = {"abcdefgh-X-12345678", "abcdefgh-Y-12345678", "abcdefgh-X-12345678",
                               "row", "rxw", "0123456789abcdef", "0123456789abcdeg", "ab", "abab", "aab"};
  capnp::MallocMessageBuilder message;
  auto profile = message.initRoot<profile_capnp::Profile>();
  profile.setSchemaVersion(3);
  auto samples = profile.initTiles(1)[0].initSamples(std::size(texts));
  for (unsigned i = 0; i < std::size(texts); ++i) samples[i].initStep().setKernel(texts[i]);
  const ProfileReport report = read_message(message).value();
  for (unsigned i = 0; i < std::size(texts); ++i) EXPECT_EQ(report.tiles[0].samples[i].step.kernel, texts[i]) << i;
}

TEST(ProfileModel, BuilderCopiesTemporariesAndListsOfOneElementDiffer) {
  ProfileBuilder builder;
  ListView<ProfileMetadata> entries;
  {
    std::string name = "row";
    std::string value = "12";
    entries = builder.list<ProfileMetadata>({{name, value}, {name, "13"}});
    name.assign("xxx");
    value.assign("xx");
  }
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "row");
  EXPECT_EQ(entries[0].value, "12");
  EXPECT_EQ(entries.back().value, "13");
  EXPECT_NE(entries, builder.list<ProfileMetadata>({{"row", "12"}}));
  EXPECT_NE(entries, builder.list<ProfileMetadata>({{"row", "12"}, {"row", "14"}}));
  EXPECT_EQ(entries, builder.list<ProfileMetadata>({{"row", "12"}, {"row", "13"}}));
}

TEST(ProfileModel, ArenaListsStayPutApartAndAlignedAndGrowthStopsAtTheLimit) {
  const std::size_t limit = 64 * 1024;
  ProfileArena arena(limit);
  const std::string_view first = arena.copy_text("abc");
  std::vector<std::pair<std::uint64_t*, std::size_t>> lists;
  std::size_t requested = 0;
  for (std::size_t count = 1; count < 40'000; count *= 3) {
    std::uint64_t* list = arena.allocate<std::uint64_t>(count);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(list) % alignof(std::uint64_t), 0u) << count;
    std::fill(list, list + count, count);
    lists.emplace_back(list, count);
    requested += count * sizeof(std::uint64_t);
  }
  // Every list still holds what was written to it: none moved or overlaps.
  EXPECT_EQ(first, "abc");
  for (const auto& [list, count] : lists) {
    EXPECT_TRUE(std::all_of(list, list + count, [count](std::uint64_t value) { return value == count; })) << count;
  }
  // Past its limit the arena takes only what each request needs, instead
  // of doubling what it holds.
  EXPECT_LE(arena.reserved_bytes(), limit + requested + 4096);
}

}  // namespace
}  // namespace zlu_package
