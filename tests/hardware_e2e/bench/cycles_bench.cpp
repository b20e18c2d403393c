// What the cycle gate costs: whole runs of the suite against the card
// model's runners without it, with summaries only (ZLU_TEST_CYCLES=on) and
// against a baseline, in interleaved rounds; then the parts of one profile's
// cost: the runner writing it, and the suite reading and summarising it.
// Prints figures; judges nothing.
//
//   hardware_e2e_cycles_bench [ROUNDS]   (default 10)
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <kj/io.h>

#include "launch/runner_profile.hpp"
#include "runners/common/contract.hpp"
#include "zlu-base/bench/timed_spawn.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// One run of `program`, warning when it did not pass; milliseconds.
double timed_run(const std::string& program, const std::vector<std::string>& additions,
                 const std::string& out = "/dev/null") {
  const auto [ms, status] = zlu_bench::timed_spawn(program, additions, out);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) fmt::print("  warning: {} ended with status {:#x}\n", program, status);
  return ms;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// How many runners a run started: each model runner that passes says "ok:".
int runner_starts(const fs::path& output) {
  std::ifstream in(output);
  int starts = 0;
  for (std::string line; std::getline(in, line);) starts += line.find(": ok: scenario=") != std::string::npos;
  return starts;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  const fs::path folder = fs::read_symlink("/proc/self/exe").parent_path();
  const std::string suite = (folder / "hardware_e2e").string();
  const fs::path scratch = fs::temp_directory_path() / fmt::format("zlu-cycles-bench-{}", getpid());
  fs::create_directories(scratch);
  const std::string locks = "ZLU_TEST_LOCK_DIR=" + (scratch / "locks").string();
  const std::string baseline = (scratch / "cycles.json").string();

  timed_run(suite, {locks, "ZLU_TEST_CYCLE_BLESS=" + baseline}, (scratch / "blessed.txt").string());
  const int profiles = runner_starts(scratch / "blessed.txt");
  const std::map<std::string, std::vector<std::string>> setups = {
      {"1 without the gate", {locks}},
      {"2 summaries only", {locks, "ZLU_TEST_CYCLES=on"}},
      {"3 against a baseline", {locks, "ZLU_TEST_CYCLE_BASELINE=" + baseline}},
  };
  std::map<std::string, std::vector<double>> times;
  for (int round = 0; round < rounds; ++round)
    for (const auto& [label, additions] : setups) times[label].push_back(timed_run(suite, additions));

  fmt::print("hardware_e2e on the card model, {} interleaved rounds, {} runner starts (one profile each) per run\n",
             rounds, profiles);
  const double plain = median(times.begin()->second);
  for (const auto& [label, samples] : times) {
    const double middle = median(samples);
    fmt::print("  {:<22} median {:7.1f} ms  min {:7.1f}  max {:7.1f}  {:+6.1f} ms over the plain run, {:+.2f} ms "
               "per profile\n",
               label.substr(2), middle, *std::min_element(samples.begin(), samples.end()),
               *std::max_element(samples.begin(), samples.end()), middle - plain,
               (middle - plain) / std::max(profiles, 1));
  }

  // The parts of one profile: the GEMM runner (the largest profile) and the
  // graph runner's multicast with and without writing it, and the suite's
  // reading and summarising of the file in process.
  const fs::path profile = scratch / "profile.capnp";
  const std::string output = std::string(zlu_contract::PROFILE_OUTPUT) + "=" + profile.string();
  for (const auto& [runner, scenario] :
       {std::pair{zlu_contract::GEMM_RUNNER, std::string("ZLU_GEMM_DIMENSION=128")},
        std::pair{zlu_contract::GRAPH_RUNNER, std::string(zlu_contract::GRAPH_TEST) + "=multicast"}}) {
    const std::string program = (folder / runner).string();
    std::vector<double> without;
    std::vector<double> with;
    for (int round = 0; round < rounds; ++round) {
      without.push_back(timed_run(program, {scenario}));
      with.push_back(timed_run(program, {scenario, output}));
    }
    std::vector<double> reading;
    for (int round = 0; round < rounds; ++round) {
      const auto start = Clock::now();
      kj::AutoCloseFd fd(open(profile.c_str(), O_RDONLY | O_CLOEXEC));
      auto report = zlu_package::ProfileReport::read(kj::heap<kj::FdInputStream>(kj::mv(fd)));
      if (report) (void)hardware_e2e::cycle_summary(*report);
      reading.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    fmt::print("  {:<22} profile of {:7} bytes: runner {:6.1f} ms without it, {:6.1f} ms writing it; read and "
               "summarised in {:5.1f} ms\n",
               runner, fs::file_size(profile), median(without), median(with), median(reading));
  }
  fs::remove_all(scratch);
  return 0;
}
