#include "trace.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include <nlohmann/json.hpp>

#include "output.hpp"
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

// A decimal number as printed, exactly: its digits and the power of ten
// that scales them.
struct PrintedNumber {
  __extension__ typedef unsigned __int128 Digits;
  Digits digits = 0;
  int exponent = 0;

  static PrintedNumber parse(std::string_view text) {
    PrintedNumber number;
    std::size_t i = 0;
    for (; i < text.size() && text[i] != 'e'; ++i) {
      if (text[i] == '.') continue;
      number.digits = number.digits * 10 + static_cast<unsigned>(text[i] - '0');
      if (text.find('.') < i) --number.exponent;
    }
    if (i < text.size()) number.exponent += std::stoi(std::string(text.substr(i + 1)));
    return number;
  }

  Digits scaled_to(int exponent_to) const {
    Digits value = digits;
    for (int e = exponent; e > exponent_to; --e) value *= 10;
    return value;
  }

  friend bool sums_to(const PrintedNumber& left, const PrintedNumber& right, const PrintedNumber& sum) {
    const int common = std::min({left.exponent, right.exponent, sum.exponent});
    return left.scaled_to(common) + right.scaled_to(common) == sum.scaled_to(common);
  }
};

// The text of the value of `key` in the event that starts at `from`.
std::string_view field_text(std::string_view trace, std::size_t from, std::string_view key) {
  const std::size_t start = trace.find(key, from) + key.size();
  return trace.substr(start, trace.find_first_of(",}", start) - start);
}

TEST(Trace, EachSampleEndsExactlyWhereTheNextOneStarts) {
  // The card-wide profile's samples follow one another without a gap, on a
  // clock whose cycle is no whole number of nanoseconds.
  std::ostringstream out;
  write_trace(testing::decode(testing::card_profile(3)), out);
  const std::string trace = out.str();
  struct Printed {
    std::string_view tid;
    PrintedNumber ts;
    PrintedNumber dur;
    std::string ts_text;
  };
  std::vector<Printed> events;
  for (std::size_t at = trace.find(R"({"args":{"end_cycle":)"); at != std::string::npos;
       at = trace.find(R"({"args":{"end_cycle":)", at + 1)) {
    const std::string_view ts = field_text(trace, at, R"("ts":)");
    events.push_back({field_text(trace, at, R"("tid":)"), PrintedNumber::parse(ts),
                      PrintedNumber::parse(field_text(trace, at, R"("dur":)")), std::string(ts)});
  }
  ASSERT_EQ(events.size(), 1472u * 12);
  std::size_t joins = 0;
  for (std::size_t i = 0; i + 1 < events.size(); ++i) {
    if (events[i].tid != events[i + 1].tid) continue;
    ++joins;
    ASSERT_TRUE(sums_to(events[i].ts, events[i].dur, events[i + 1].ts))
        << "tile " << events[i].tid << ": a sample at " << events[i].ts_text
        << " does not end where the next one starts, at " << events[i + 1].ts_text;
  }
  EXPECT_EQ(joins, 1472u * 11);
}

TEST(Trace, FileWrittenAsItIsMadeHoldsTheWholeTrace) {
  // Many times the output buffer, in pieces of every size: small metadata
  // events, then the events' own large pieces.
  const zlu_package::ProfileReport profile = testing::decode(testing::card_profile(8));
  std::ostringstream rendered;
  write_trace(profile, rendered);
  const testing::ScratchDir scratch;
  ASSERT_TRUE(write_output(scratch / "t.json", [&](std::ostream& out) { write_trace(profile, out); }));
  const std::string written = testing::read_file(scratch / "t.json");
  EXPECT_GT(written.size(), 8u << 20);
  EXPECT_TRUE(written == rendered.str()) << written.size() << " bytes written, " << rendered.str().size() << " rendered";
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
