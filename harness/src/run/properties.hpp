// What a test body attaches to the try it runs in: recorded properties,
// measurements and runners' output, and what it may ask of that try.
#pragma once

#include "run/result.hpp"

namespace harness {

struct AttemptRecord {
  // Where the attachments of one try go.
  TestProperties& properties;
  Measurements& measurements;
  std::vector<RunnerOutput>& runner_output;
};

class AttemptScope {
  // While alive, `record_property`, `attach` and `attach_runner_output` on
  // the current thread attach to `record`, and `current_attempt` returns
  // `context`.
 public:
  AttemptScope(AttemptRecord record, AttemptContext context);
  ~AttemptScope();
  AttemptScope(const AttemptScope&) = delete;
  AttemptScope& operator=(const AttemptScope&) = delete;

  const AttemptRecord& record() const { return record_; }
  const AttemptContext& context() const { return context_; }

 private:
  AttemptRecord record_;
  AttemptContext context_;
  AttemptScope* previous_;
};

// The properties reports show for a try: a reported CardUse as `card` and
// `card_wait_ms`, then what the body recorded.
TestProperties reported_properties(const TestProperties& recorded, const Measurements& measurements);

// Sets what runner_output_captured answers; done once, before any test runs.
void set_runner_output_captured(bool captured);

// Sets what cycle_summaries_wanted answers; done once, before any test runs.
void set_cycle_summaries_wanted(bool wanted);

}  // namespace harness
