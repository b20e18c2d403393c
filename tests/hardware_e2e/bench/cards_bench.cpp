// What a pool of cards buys: the whole suite against stand-in runners that
// each take 250 ms, on one, two and four cards, with eight workers.
//
// Usage: hardware_e2e_cards_bench [ROUNDS]   (default 1)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "timed_suite.hpp"

namespace {

// Seconds for one run of the suite with ZLU_TEST_CARDS=`cards`, or a
// negative figure when it did not pass.
double suite_seconds(const std::string& cards, const std::string& lock_dir) {
  return hardware_e2e_bench::timed_suite_run(STANDIN_SUITE, {"--test-threads", "8"},
                                             {"ZLU_TEST_CARDS=" + cards, "ZLU_TEST_LOCK_DIR=" + lock_dir,
                                              "ZLU_STANDIN_SLEEP_MS=250"});
}

}  // namespace

int main(int argc, char** argv) {
  const std::string scratch = hardware_e2e_bench::scratch_folder("cards-bench");
  const int rounds = hardware_e2e_bench::rounds_asked(argc, argv, 1);
  const std::vector<std::pair<int, std::string>> pools = {{1, "0"}, {2, "0-1"}, {4, "0-3"}};
  std::vector<double> best(pools.size(), 1e9);
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t i = 0; i < pools.size(); ++i) {
      const double seconds = suite_seconds(pools[i].second, scratch);
      if (seconds < 0) {
        std::fprintf(stderr, "the suite did not pass with ZLU_TEST_CARDS=%s\n", pools[i].second.c_str());
        std::filesystem::remove_all(scratch);
        return 1;
      }
      best[i] = std::min(best[i], seconds);
    }
  }
  std::filesystem::remove_all(scratch);
  fmt::print("whole suite, 27 runner starts of 250 ms each, 8 workers (best of {} runs)\n", rounds);
  for (std::size_t i = 0; i < pools.size(); ++i) {
    fmt::print("  {} card{}  {:6.3f} s   {:.2f}x one card\n", pools[i].first, pools[i].first == 1 ? " " : "s",
               best[i], best[i] / best[0]);
  }
  return 0;
}
