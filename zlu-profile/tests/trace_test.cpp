#include "trace.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include <nlohmann/json.hpp>

#include "profile_builder.hpp"
#include "tool.hpp"

namespace zlu_profile {
namespace {

using testing::ProfileShape;
using zlu_package::ProfileStepKind;

ProfileShape two_tile_profile(std::uint64_t clock_hz) {
  return {.schema_version = 3,
          .clock_hz = clock_hz,
          .tiles = {{.physical_tile = 130,
                     .samples = {{.kind = ProfileStepKind::Compute,
                                  .start_cycle = 2000,
                                  .end_cycle = 3000,
                                  .operation = "gemm.block",
                                  .kernel = "mac_block",
                                  .metadata = {{"block", "1,1"}, {"block", "1,2"}, {"note", "\"quoted\" é"}}}}},
                    {.physical_tile = 5,
                     .samples = {{.kind = ProfileStepKind::Synchronization,
                                  .start_cycle = 0,
                                  .end_cycle = 500,
                                  .operation = "sync",
                                  .kernel = "barrier",
                                  .metadata = {}}}}}};
}

nlohmann::json trace_of(const ProfileShape& shape) {
  std::ostringstream out;
  write_trace(testing::decode(shape), out);
  return nlohmann::json::parse(out.str());
}

std::vector<nlohmann::json> events_with_phase(const nlohmann::json& trace, const std::string& phase) {
  std::vector<nlohmann::json> events;
  for (const auto& event : trace.at("traceEvents")) {
    if (event.at("ph") == phase) {
      events.push_back(event);
    }
  }
  return events;
}

TEST(Trace, OneCompleteEventPerSampleInMicroseconds) {
  const nlohmann::json trace = trace_of(two_tile_profile(1'000'000'000));
  const auto events = events_with_phase(trace, "X");
  ASSERT_EQ(events.size(), 2u);
  const nlohmann::json& compute = events[0];
  EXPECT_EQ(compute["pid"], 0);
  EXPECT_EQ(compute["tid"], 130);
  EXPECT_EQ(compute["name"], "gemm.block");
  EXPECT_EQ(compute["cat"], "compute");
  EXPECT_DOUBLE_EQ(compute["ts"].get<double>(), 2.0);
  EXPECT_DOUBLE_EQ(compute["dur"].get<double>(), 1.0);
  EXPECT_EQ(compute["args"]["kernel"], "mac_block");
  EXPECT_EQ(compute["args"]["start_cycle"], 2000);
  EXPECT_EQ(compute["args"]["metadata"],
            nlohmann::json::parse(R"([{"name":"block","value":"1,1"},{"name":"block","value":"1,2"},)"
                                  R"({"name":"note","value":"\"quoted\" é"}])"));
  EXPECT_EQ(events[1]["cat"], "synchronization");
  EXPECT_EQ(events[1]["tid"], 5);
}

TEST(Trace, NamesTheCardProcessAndEachTileThread) {
  const auto metadata = events_with_phase(trace_of(two_tile_profile(1'000'000'000)), "M");
  std::map<std::string, std::string> names;
  for (const auto& event : metadata) {
    if (event["name"] == "process_name") {
      names["process"] = event["args"]["name"];
    } else if (event["name"] == "thread_name") {
      names[event["tid"].dump()] = event["args"]["name"];
    }
  }
  EXPECT_EQ(names["process"], "N700 card");
  EXPECT_EQ(names["130"], "tile 130 (row 2, position 2)");
  EXPECT_EQ(names["5"], "tile 5 (row 0, position 5)");
}

TEST(Trace, ZeroClockPlacesEventsOneCyclePerMicrosecond) {
  const nlohmann::json trace = trace_of(two_tile_profile(0));
  EXPECT_EQ(trace["otherData"]["clock_hz"], 0);
  const auto events = events_with_phase(trace, "X");
  ASSERT_EQ(events.size(), 2u);
  EXPECT_DOUBLE_EQ(events[0]["ts"].get<double>(), 2000.0);
  EXPECT_DOUBLE_EQ(events[0]["dur"].get<double>(), 1000.0);
}

// The events are written by hand for speed; the document must be exactly
// what the JSON library itself writes for it (sorted keys, its forms of
// numbers and escapes), whatever the texts and magnitudes.
TEST(Trace, DocumentIsItsOwnCanonicalSerialization) {
  const std::string awkward = "tab\there \\ \"q\" \x01\x1f\x7f \u00e9 \U0001d11e\r\n\b\f";
  for (std::uint64_t clock_hz : {std::uint64_t{1}, std::uint64_t{3}, std::uint64_t{7'000'000'000}}) {
    ProfileShape shape = two_tile_profile(clock_hz);
    shape.tiles[0].samples.push_back({.kind = ProfileStepKind::Idle,
                                      .start_cycle = 4'000'000'000,
                                      .end_cycle = 4'000'000'001,
                                      .operation = awkward,
                                      .kernel = "",
                                      .metadata = {{awkward, ""}}});
    std::ostringstream out;
    write_trace(testing::decode(shape), out);
    const std::string text = out.str();
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(nlohmann::json::parse(text).dump(), text.substr(0, text.size() - 1)) << clock_hz << " Hz";
  }
}

TEST(Trace, ToolWritesTheTraceFileAndNothingElse) {
  const testing::ScratchDir scratch;
  testing::write_profile(two_tile_profile(500'000'000), scratch / "p.capnp");
  const auto run = testing::run_tool({"trace", (scratch / "p.capnp").string(), "-o", (scratch / "p.json").string()});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const nlohmann::json trace = nlohmann::json::parse(testing::read_file(scratch / "p.json"));
  EXPECT_EQ(events_with_phase(trace, "X").size(), 2u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path()), {}), 2);
}

}  // namespace
}  // namespace zlu_profile
