// What one bad card of four costs a run: the whole suite on the model with
// four good cards, and with card 2's tile 117 stuck, retries 1 and
// quarantine on, four workers; each run in a fresh lock folder, so that every
// bad run meets the bad card anew.
//
// Usage: hardware_e2e_health_bench [ROUNDS]   (default 9)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "timed_suite.hpp"

namespace {

struct Run {
  double seconds = -1;  // negative when the suite did not pass
  bool quarantined = false;  // whether card 2 ended the run quarantined
};

Run suite_run(const std::string& fault, const std::filesystem::path& scratch) {
  const std::filesystem::path lock_dir = scratch / "locks";
  std::filesystem::remove_all(lock_dir);
  std::vector<std::string> settings = {"ZLU_TEST_CARDS=0-3", "ZLU_TEST_RETRIES=1", "ZLU_TEST_QUARANTINE=on",
                                       "ZLU_TEST_LOCK_DIR=" + lock_dir.string()};
  if (!fault.empty()) settings.push_back("ZLU_SIM_CARD_FAULT=" + fault);
  const double seconds = hardware_e2e_bench::timed_suite_run(MODEL_SUITE, {"--test-threads", "4"}, settings);
  return {seconds, seconds >= 0 && std::filesystem::exists(lock_dir / "card-2.quarantine")};
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const std::string scratch = hardware_e2e_bench::scratch_folder("health-bench");
  const int rounds = hardware_e2e_bench::rounds_asked(argc, argv, 9);
  std::vector<double> good;
  std::vector<double> bad;
  int quarantined = 0;
  for (int round = 0; round < rounds; ++round) {
    const Run all_good = suite_run("", scratch);
    const Run one_bad = suite_run("2:tile=117:stuck-bit=5", scratch);
    if (all_good.seconds < 0 || one_bad.seconds < 0) {
      std::fprintf(stderr, "a run of the suite did not pass\n");
      std::filesystem::remove_all(scratch);
      return 1;
    }
    good.push_back(all_good.seconds);
    bad.push_back(one_bad.seconds);
    quarantined += one_bad.quarantined ? 1 : 0;
  }
  std::filesystem::remove_all(scratch);
  fmt::print("whole suite on the model, cards 0-3, 4 workers, retries 1, quarantine on (median of {} runs)\n", rounds);
  fmt::print("  {:<26}{:6.3f} s\n", "four good cards", median(good));
  fmt::print("  {:<26}{:6.3f} s   {:.2f}x   card 2 quarantined in {} of {} runs\n", "card 2 stuck at tile 117", median(bad),
             median(bad) / median(good), quarantined, rounds);
  return 0;
}
