// What an executable adds to the runs of its table: a say in which selected
// tests run and in what order, and a listener beside the reports.
#pragma once

#include <cstddef>
#include <expected>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "lib.hpp"
#include "reports/formatter.hpp"

namespace harness {

struct RunPlan {
  // What the run is about to do, once its tests are selected.
  std::size_t workers = 1;
  bool shuffled = false;
  std::size_t retries = 0;  // a failed test runs again up to this many times
  // The run's card health watch, when one is installed: plan may fill its
  // recent passes.
  CardHealthWatch* card_health = nullptr;
};

class RunExtension {
  // Called by test_main_static for a run (never for --list or --help), in
  // this order: plan once the tests are selected and shuffled, then listener
  // once; the listener hears the run's events after the reports.
 public:
  virtual ~RunExtension() = default;

  // May drop tests from `tests` or change their order: they start in the
  // order left, and the run counts the dropped ones as filtered out. An
  // error is the line that stops the run before any test starts, with the
  // harness's failure status.
  virtual std::expected<void, std::string> plan(std::vector<TestDescAndFn>& tests, const RunPlan& plan) = 0;

  // The listener to add, or null for none.
  virtual std::unique_ptr<Formatter> listener() = 0;
};

// As test_main_static, with `extension` taking part in the run.
int test_main_extended(std::span<const std::string> args, std::span<const TestDescAndFn> tests,
                       RunExtension& extension);

}  // namespace harness
