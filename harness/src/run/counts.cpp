#include "run/counts.hpp"

#include "run/outcome.hpp"

namespace harness {

void RunCounts::count(const CompletedTest& test) {
  switch (outcome_of(test.result()).verdict) {
    case Verdict::Passed:
      ++passed;
      if (is_flaky(test)) ++flaky;
      if (test.card_fault) ++card_faults;
      break;
    case Verdict::Failed: ++failed; break;
    case Verdict::Ignored: ++ignored; break;
    case Verdict::Measured: ++measured; break;
  }
}

}  // namespace harness
