// The cost the suite adds to launching runners: the harness running the 19
// fixed tests against a runner that exits at once, beside a bare loop that
// spawns and waits for the same runner 19 times; then the serial run once
// more with every card held under a host-wide lock in a scratch folder.
//
// Usage: hardware_e2e_launch_bench [ROUNDS]   (default 30)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <expected>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <fmt/format.h>

#include "cards/device.hpp"
#include "launch/runner_command.hpp"
#include "catalogue/table.hpp"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int FIXED_TESTS = 19;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void bare_spawns(const std::string& runner) {
  for (int i = 0; i < FIXED_TESTS; ++i) {
    std::string program = runner;
    char* argv[] = {program.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) {
      std::fprintf(stderr, "cannot start %s\n", program.c_str());
      std::exit(1);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
  }
}

// The harness's report goes to /dev/null so that the terminal does not
// take part in the measurement.
int harness_run(const std::vector<std::string>& args) {
  std::fflush(stdout);
  const int saved = dup(1);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  close(null);
  const int status = harness::test_main_static(args, hardware_e2e::tests());
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  return status;
}

struct Figures {
  double median;
  double best;
};

Figures summarise(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], times.front()};
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
  // The stand-in exits at once only without its controls and jitter settings.
  for (char** entry = environ; *entry != nullptr;) {
    std::string name(*entry, std::string_view(*entry).find('='));
    if (name.starts_with("ZLU_STANDIN_") || name.starts_with("ZLU_TEST_HOST_WRITE_JITTER")) {
      unsetenv(name.c_str());
    } else {
      ++entry;
    }
  }
  const std::string runner = fmt::format("{}/{}", hardware_e2e::runner_dir(), hardware_e2e::HOST_RUNNER);
  const std::vector<std::string> serial = {"hardware_e2e", "--test-threads", "1", "--skip", "randomized",
                                           "--skip", "host_routes", "--skip", "blocked_gemm"};
  std::vector<std::string> parallel = serial;
  parallel.erase(parallel.begin() + 1, parallel.begin() + 3);

  bare_spawns(runner);
  if (harness_run(serial) != 0 || harness_run(parallel) != 0) {
    std::fprintf(stderr, "the fixed tests did not pass against %s\n", hardware_e2e::runner_dir().data());
    return 1;
  }

  std::vector<double> bare, harness_serial, harness_parallel;
  for (int round = 0; round < rounds; ++round) {
    auto start = Clock::now();
    bare_spawns(runner);
    bare.push_back(seconds_since(start));
    start = Clock::now();
    harness_run(serial);
    harness_serial.push_back(seconds_since(start));
    start = Clock::now();
    harness_run(parallel);
    harness_parallel.push_back(seconds_since(start));
  }

  // The host-wide lock comes last: a pool once installed stays for the run.
  std::string folder_template = (std::filesystem::temp_directory_path() / "hardware-e2e-bench-XXXXXX").string();
  const char* lock_dir = mkdtemp(folder_template.data());
  auto folder = lock_dir != nullptr ? hardware_e2e::LockFolder::open(lock_dir, false)
                                    : std::expected<hardware_e2e::LockFolder, std::string>(std::unexpected("mkdtemp"));
  if (!folder) {
    std::fprintf(stderr, "no lock folder: %s\n", folder.error().c_str());
    return 1;
  }
  hardware_e2e::install_device_pool(
      std::make_unique<hardware_e2e::CardPool>(std::vector<unsigned>{0}, std::move(*folder), false));
  std::vector<double> bare_again, harness_locked;
  for (int round = 0; round < rounds; ++round) {
    auto start = Clock::now();
    bare_spawns(runner);
    bare_again.push_back(seconds_since(start));
    start = Clock::now();
    harness_run(serial);
    harness_locked.push_back(seconds_since(start));
  }
  const std::string lock_file = fmt::format("{}/card-0.lock", lock_dir);
  unlink(lock_file.c_str());
  rmdir(lock_dir);

  const Figures b = summarise(bare), s = summarise(harness_serial), p = summarise(harness_parallel);
  const Figures b2 = summarise(bare_again), l = summarise(harness_locked);
  fmt::print("launch path, {} rounds of {} runner starts (median / best, ms per round; ratio to bare spawns)\n",
             rounds, FIXED_TESTS);
  fmt::print("  bare posix_spawn + waitpid        {:8.3f} / {:8.3f}\n", b.median * 1e3, b.best * 1e3);
  fmt::print("  harness, --test-threads 1         {:8.3f} / {:8.3f}   ratio {:.3f} / {:.3f}\n", s.median * 1e3,
             s.best * 1e3, s.median / b.median, s.best / b.best);
  fmt::print("  harness, default worker count     {:8.3f} / {:8.3f}   ratio {:.3f} / {:.3f}\n", p.median * 1e3,
             p.best * 1e3, p.median / b.median, p.best / b.best);
  fmt::print("  bare, again                       {:8.3f} / {:8.3f}\n", b2.median * 1e3, b2.best * 1e3);
  fmt::print("  harness, serial, host-wide lock   {:8.3f} / {:8.3f}   ratio {:.3f} / {:.3f}\n", l.median * 1e3,
             l.best * 1e3, l.median / b2.median, l.best / b2.best);
  fmt::print("  per runner start: bare {:.1f} us, harness serial {:.1f} us\n", b.median / FIXED_TESTS * 1e6,
             s.median / FIXED_TESTS * 1e6);
  return 0;
}
