// The run's timeline: when each test waited for a card and ran, and when
// each runner held which card, written as Chrome Trace Event JSON so that a
// trace viewer shows one track per card and one per worker.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hardware_e2e {

void enable_timeline();
// Starts recording; until then every note below costs a thread-local read.

std::optional<std::string> timeline_json();
// The trace recorded so far, or none when recording was never enabled.

class [[nodiscard]] TestScope {
  // Marks the calling thread as running `test` from construction to
  // destruction, on the lowest worker track free at the start. A scope
  // that ends while a failure unwinds records the test as failed.

 public:
  explicit TestScope(std::string_view test);
  ~TestScope();
  TestScope(const TestScope&) = delete;
  TestScope& operator=(const TestScope&) = delete;

 private:
  std::string_view test_;
  std::chrono::steady_clock::time_point start_;
  unsigned worker_;
  int exceptions_at_entry_;
};

std::optional<std::chrono::nanoseconds> current_test_card_wait();
// How long the test running on this thread has waited for cards so far;
// none outside a test.

void note_card_wait(std::chrono::steady_clock::time_point asked, std::chrono::nanoseconds waited);
// Called by the device guard once its wait for a card ends.

void note_runner(unsigned card, std::chrono::steady_clock::time_point start, std::chrono::steady_clock::time_point end,
                 const std::string& outcome);
// One runner on `card` for the test running on this thread, ended as `outcome` says.

void note_card_quarantined(unsigned card, const std::vector<std::string>& evidence);
// A marker on the card's track: the run quarantined it now, on `evidence`.

}  // namespace hardware_e2e
