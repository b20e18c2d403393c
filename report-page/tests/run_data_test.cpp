#include "run_data.hpp"

#include <fstream>

#include <gtest/gtest.h>

namespace report_page {
namespace {

// Lines as the suite writes them for a run of four tests, one retried
// before it passed, one failed on card 2, one killed mid-run and one that
// never started.
constexpr std::string_view RUN_EVENTS =
    R"({"type":"suite","event":"started","test_count":4,"filtered_out":0})" "\n"
    R"({"type":"test","event":"started","name":"a_works"})" "\n"
    R"({"type":"test","event":"try_failed","name":"a_works","try":1,"tries_allowed":2,"message":"tile 117 held 0x20","exec_time":0.500000000})" "\n"
    R"({"type":"test","event":"ok","name":"a_works","tries":2,"flaky":true,"exec_time":0.250000000,"properties":{"card":"1","card_wait_ms":"3"}})" "\n"
    R"({"type":"test","event":"started","name":"b_works"})" "\n"
    R"({"type":"test","event":"failed","name":"b_works","message":"runner exited 1","stdout":"out\n","runner_output":[{"program":"zlu-gemm-e2e","text":"bad value","cut":true}],"properties":{"card":"2"}})" "\n"
    R"({"type":"test","event":"started","name":"c_works"})" "\n";

TEST(Events, EveryTryOfEveryTestBecomesAnAttempt) {
  RunData data;
  ASSERT_TRUE(add_events(data, RUN_EVENTS, "host-a").has_value());
  ASSERT_EQ(data.attempts.size(), 5u);
  struct Expected {
    std::string_view test;
    Outcome outcome;
    std::uint32_t try_number;
    bool flaky;
    std::int32_t card;
    double duration_ms;
  };
  const Expected expected[] = {
      {"a_works", Outcome::TryFailed, 1, false, -1, 500},
      {"a_works", Outcome::Passed, 2, true, 1, 250},
      {"b_works", Outcome::Failed, 1, false, 2, -1},
      {"c_works", Outcome::NoReport, 1, false, -1, -1},
      {"(1 of 4 tests on host-a never started)", Outcome::NoReport, 1, false, -1, -1},
  };
  for (std::size_t i = 0; i < data.attempts.size(); ++i) {
    const Attempt& a = data.attempts[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(data.tests[a.test], expected[i].test);
    EXPECT_EQ(a.outcome, expected[i].outcome);
    EXPECT_EQ(a.try_number, expected[i].try_number);
    EXPECT_EQ(a.flaky, expected[i].flaky);
    EXPECT_EQ(a.card, expected[i].card);
    EXPECT_DOUBLE_EQ(a.duration_ms, expected[i].duration_ms);
    EXPECT_EQ(data.hosts[a.host], "host-a");
  }
  EXPECT_EQ(data.attempts[0].message, "tile 117 held 0x20");
  EXPECT_EQ(data.attempts[2].output, "out\n--- zlu-gemm-e2e (cut) ---\nbad value");
  EXPECT_NE(data.attempts[3].message.find("never finished"), std::string::npos);

  // The other side of that limit: a run whose every selected test reported
  // has nothing that never started.
  RunData whole;
  ASSERT_TRUE(add_events(whole,
                         "{\"type\":\"suite\",\"event\":\"started\",\"test_count\":1}\n"
                         "{\"type\":\"test\",\"event\":\"ok\",\"name\":\"a_works\"}\n",
                         "host-a")
                  .has_value());
  EXPECT_EQ(whole.attempts.size(), 1u);
}

TEST(Events, WhatIsNotAnEventIsRefusedWithItsLine) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"{\"type\":\"test\",\"event\":\"ok\",\"name\":\"a\"}\nnot json\n", "line 2 is not an event of the suite"},
      {"[1,2]\n", "line 1 is not an event of the suite"},
      {"{\"type\":\"test\",\"event\":\"ok\"}\n", "line 1: a test event without a name"},
      {"\n{\"type\":\"test\",\"event\":\"exploded\",\"name\":\"a\"}\n", "line 2: unknown test event \"exploded\""},
  };
  for (const auto& [text, error] : cases) {
    RunData data;
    const auto added = add_events(data, text, "h");
    ASSERT_FALSE(added.has_value()) << text;
    EXPECT_EQ(added.error(), error);
  }
}

TEST(Events, CardVerdictsAndCycleChangesAreKept) {
  constexpr std::string_view lines =
      R"line({"type":"test","event":"failed","name":"gemm","reason":"cycle regression","message":"exchange cycles 117760 -> 129536 (+10.0%, allowed +0%)\nspan cycles 888 -> 940 (+5.9%, allowed +0%)"})line" "\n"
      R"line({"type":"test","event":"ok","name":"reduce","cycles":"improved","cycle_changes":"idle cycles 730320 -> 683200 (-6.5%)"})line" "\n"
      R"line({"type":"test","event":"ok","name":"relay","tries":2,"card_fault":2})line" "\n"
      R"line({"type":"card","event":"healthy","card":0})line" "\n"
      R"line({"type":"card","event":"quarantined","card":2,"evidence":[{"test":"relay","passed_on":0},{"test":"reduce","passed_on":3}]})line" "\n";
  RunData data;
  ASSERT_TRUE(add_events(data, lines, "h").has_value());
  ASSERT_EQ(data.cycles.size(), 3u);
  const CycleDelta expected[] = {{0, "exchange", 117760, 129536}, {0, "span", 888, 940}, {1, "idle", 730320, 683200}};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(data.cycles[i].test, expected[i].test);
    EXPECT_EQ(data.cycles[i].kind, expected[i].kind);
    EXPECT_EQ(data.cycles[i].baseline, expected[i].baseline);
    EXPECT_EQ(data.cycles[i].measured, expected[i].measured);
  }
  EXPECT_EQ(data.attempts[2].message, "its failed tries were card 2's, not the software's");
  ASSERT_EQ(data.cards.size(), 1u);  // a healthy card needs no mark
  EXPECT_EQ(data.cards[0].card, 2);
  EXPECT_EQ(data.cards[0].state, "quarantined");
  EXPECT_EQ(data.cards[0].reason, "failed relay, which passed on card 0; failed reduce, which passed on card 3");
}

TEST(Timeline, GivesEachTryItsCardWorkerAndTime) {
  RunData data;
  ASSERT_TRUE(add_events(data, RUN_EVENTS, "host-a").has_value());
  const std::string_view trace = R"trace({"traceEvents":[
    {"ph":"X","name":"a_works (try 1)","cat":"run","pid":2,"tid":0,"ts":1000,"dur":500000,"args":{"try":1}},
    {"ph":"X","name":"a_works (try 1)","cat":"runner","pid":1,"tid":3,"ts":2000,"dur":400000,"args":{"try":1}},
    {"ph":"X","name":"a_works (try 2)","cat":"run","pid":2,"tid":1,"ts":600000,"dur":250000,"args":{"try":2}},
    {"ph":"X","name":"b_works","cat":"run","pid":2,"tid":0,"ts":700000,"dur":1500,"args":{}},
    {"ph":"X","name":"b_works","cat":"runner","pid":1,"tid":0,"ts":700100,"dur":1000,"args":{}}]})trace";
  ASSERT_TRUE(add_timeline(data, trace, "host-a").has_value());
  EXPECT_EQ(data.attempts[0].card, 3);  // the try's own runner span
  EXPECT_EQ(data.attempts[0].worker, 0);
  EXPECT_DOUBLE_EQ(data.attempts[0].start_ms, 1.0);
  EXPECT_EQ(data.attempts[1].card, 1);  // the event's card stands
  EXPECT_EQ(data.attempts[1].worker, 1);
  EXPECT_DOUBLE_EQ(data.attempts[1].duration_ms, 250.0);
  EXPECT_EQ(data.attempts[2].card, 2);
  EXPECT_DOUBLE_EQ(data.attempts[2].start_ms, 700.0);
  EXPECT_FALSE(add_timeline(data, "[]", "host-a").has_value());
}

TEST(JobDir, TasksWithoutEventsShowWhatBecameOfThem) {
  const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "report-page-job-4711";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "task-1.env") << "host=node-a\ncards=0-3\nstatus=1\n";
  std::ofstream(dir / "task-1.events.json") << RUN_EVENTS;
  std::ofstream(dir / "task-2.env") << "host=node-b\ncards=0-3\nstatus=137\n";
  std::ofstream(dir / "task-3.env") << "host=node-c\ncards=0-3\n";
  RunData data;
  ASSERT_TRUE(add_job_dir(data, dir).has_value());
  EXPECT_EQ(data.title, "job report-page-job-4711");
  ASSERT_EQ(data.attempts.size(), 7u);
  EXPECT_EQ(data.hosts, (std::vector<std::string>{"node-a", "node-b", "node-c"}));
  EXPECT_EQ(data.attempts[5].outcome, Outcome::NoReport);
  EXPECT_EQ(data.attempts[5].message, "task 2 left no events; it ended with status 137");
  EXPECT_EQ(data.attempts[6].message, "task 3 left no events and no status: it never ended");

  std::filesystem::remove(dir / "task-1.env");
  std::filesystem::remove(dir / "task-2.env");
  std::filesystem::remove(dir / "task-3.env");
  RunData empty;
  EXPECT_FALSE(add_job_dir(empty, dir).has_value());
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace report_page
