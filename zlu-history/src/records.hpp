// What a history keeps: runs and their attempts, as plain values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zlu_history {

// Times are kept as microseconds since the Unix epoch, durations in microseconds.
using Micros = std::int64_t;

struct RunRecord {
  // A run as it starts: who runs what, where, and with which settings.
  std::string run_id;
  Micros started = 0;
  std::string host;
  // Changes whenever the suite's executable changes (see build_id.hpp).
  std::string build_id;
  // The command line after the program name.
  std::vector<std::string> arguments;
  // The settings that shape the run, as given; empty when unset.
  std::string partition;
  std::string cards;
  std::int64_t retries = 0;
  // The batch task the run is part of (see task.hpp); empty outside one.
  std::string task;
  // The tests the run means to run, in table order: what a run killed early
  // never finished is what it planned and did not end.
  std::vector<std::string> planned;
};

// How an attempt ended, as the history spells it.
enum class Outcome { Passed, Failed, TimedOut };
std::string_view outcome_name(Outcome outcome);

struct AttemptRecord {
  // One try of one test, written as soon as it ends.
  std::string_view test;
  std::int64_t try_number = 1;  // from 1
  std::optional<std::int64_t> card;
  Micros started = 0;
  Micros duration = 0;
  std::optional<Micros> card_wait;
  Outcome outcome = Outcome::Passed;
  std::string_view message;
  // The attempt's measurements as one JSON object, "{}" when none.
  std::string_view measurements = "{}";
};

struct CardVerdictRecord {
  // A card's verdict at the end of a run: "healthy", "suspect" or
  // "quarantined", with the evidence as a JSON array of {test, passed_on}.
  std::int64_t card = 0;
  std::string_view verdict;
  std::string_view evidence = "[]";
};

}  // namespace zlu_history
