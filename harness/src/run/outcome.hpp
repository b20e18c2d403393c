// What a test's result means to the counts, the run loop and the report
// formats. A result's kind says how the test came to its end; the outcome
// says what that counts as. A new kind of ending (a runner that timed out, a
// run that was interrupted) is mapped here once, and every consumer follows.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "run/result.hpp"

namespace harness {

// The four counts of the summary line a result falls under.
enum class Verdict { Passed, Failed, Ignored, Measured };

struct Outcome {
  // What one result means. Views into the result it was made from, which
  // must outlive it.
  Verdict verdict = Verdict::Passed;
  // For a failure of a kind of its own, the words that name it: the result
  // word gets " (<reason>)", the summary lists it in a block of its own titled
  // "failures (<reason>)", and no failure message is reported for it unless
  // it has a note (a cycle regression's changes).
  std::string_view reason{};
  // The harness's own note on why a body that returned normally still failed
  // (a test that should have failed, a thread that ended early); the failure's
  // message in the reports.
  std::optional<std::string_view> note{};

  bool passed() const { return verdict == Verdict::Passed; }
  bool failed() const { return verdict == Verdict::Failed; }
};

// The outcome of `result`.
Outcome outcome_of(const TestResult& result);

// The message a report gives for the failed try `attempt`: its note when it
// has one, else the message of the failure its body raised; empty for a
// failure of a kind of its own (see Outcome::reason).
std::string_view failure_message_of(const Attempt& attempt, const Outcome& outcome);

// Whether a test that failed this way is worth another try. A failure of a
// kind of its own is not: a test over its time limit is slow, and running it
// again would only hide that.
bool worth_retrying(const Outcome& outcome);

// Whether `test` passed after it had failed: a flaky test.
bool is_flaky(const CompletedTest& test);

// "flaky: passed on try <k> of <n>" for a flaky test, empty for any other.
std::string flaky_note(const CompletedTest& test);

// "card <c> at fault: passed on try <k> of <n>" for a test whose earlier
// failures were a suspect card's (CompletedTest::card_fault), empty for any
// other; the note a flaky test would have had, in its place.
std::string card_fault_note(const CompletedTest& test);

// Whichever of flaky_note and card_fault_note applies, empty when neither.
std::string retry_note(const CompletedTest& test);

// The output to show for `test` in a summary block, each try's being what
// its body printed followed by its runners' output (output_with_runners):
// the last try's when it had only one try or none wrote anything, else each
// try's under a line "---- try <k> of <n> ----", in order.
std::string output_of_tries(const CompletedTest& test);

}  // namespace harness
