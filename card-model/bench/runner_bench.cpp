// Times the runners as the hardware tests launch them, and a whole run of the
// hardware test executable when it sits in the same folder. Prints figures;
// judges nothing.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "runners/common/contract.hpp"
#include "zlu-base/bench/timed_spawn.hpp"

namespace {

namespace fs = std::filesystem;

constexpr int REPEATS = 5;

// The 86 logical tiles that cover every host-route endpoint field.
constexpr const char* ENDPOINT_TILES =
    "0,90,1,91,92,182,93,183,184,274,185,275,276,366,277,367,368,458,369,459,460,550,461,551,552,642,553,643,644,"
    "734,645,735,736,826,737,827,828,918,829,919,920,1010,921,1011,1012,1102,1013,1103,1104,1194,1105,1195,1196,"
    "1286,1197,1287,1288,1378,1289,1379,1380,1470,1381,1471,456,454,452,450,448,446,444,442,440,438,436,434,432,"
    "430,428,426,424,422,420,418,416,414";

// One variable of a runner's environment block: "NAME=value".
std::string setting(std::string_view name, std::string_view value) { return fmt::format("{}={}", name, value); }

struct Scenario {
  std::string label;
  std::vector<std::string> env;
};

struct RunnerPlan {
  std::string runner;
  std::vector<Scenario> scenarios;
};

std::vector<RunnerPlan> plans(const std::string& profile_path) {
  using namespace zlu_contract;
  std::vector<Scenario> graph;
  for (const char* name :
       {"fanout", "reduction", "permutation", "reduction-permutation", "multicast", "compiler-segmented-add"}) {
    graph.push_back({name, {setting(GRAPH_TEST, name)}});
  }
  return {
      {GRAPH_RUNNER, graph},
      {HOST_RUNNER,
       {{"local", {}},
        {"d2h-only", {setting(HOST_TEST_D2H_ONLY, "1")}},
        {"resident", {setting(HOST_TEST_RESIDENT_INPUT, "1")}},
        {"repeated", {setting(HOST_TEST_INVOCATIONS, "3")}},
        {"resident-repeated", {setting(HOST_TEST_RESIDENT_INPUT, "1"), setting(HOST_TEST_INVOCATIONS, "3")}},
        {"initialized-relay", {setting(HOST_TEST_EXCHANGE, "1"), setting(HOST_TEST_INITIALIZED_EXCHANGE, "1")}},
        {"large-relay", {setting(HOST_TEST_EXCHANGE, "1"), setting(HOST_TEST_BYTES, "2048")}},
        {"compute-relay", {setting(HOST_TEST_COMPUTE_RELAY, "1"), setting(HOST_TEST_BYTES, "4")}},
        {"remote", {setting(HOST_TEST_TILE, "1471"), setting(HOST_TEST_BYTES, "8192")}},
        {"high-address",
         {setting(HOST_TEST_TILE, "100"), setting(HOST_TEST_BYTES, "65536"), setting(HOST_TEST_ADDRESS, "0x60000")}},
        {"remote-d2h",
         {setting(HOST_TEST_REMOTE_D2H, "1"), setting(HOST_TEST_TILE, "1471"), setting(HOST_TEST_BYTES, "8192")}},
        {"two-sources", {setting(HOST_TEST_TILES, "1471,274"), setting(HOST_TEST_BYTES, "64")}},
        {"random-8x4", {setting(HOST_TEST_TILES, "34,71,144,956,1104,1157,1243,1300"), setting(HOST_TEST_BYTES, "4")}},
        {"random-8x1024",
         {setting(HOST_TEST_TILES, "11,19,108,451,536,647,846,958"), setting(HOST_TEST_BYTES, "1024")}},
        {"random-8x8192",
         {setting(HOST_TEST_TILES, "19,82,416,602,829,893,1065,1187"), setting(HOST_TEST_BYTES, "8192")}},
        {"endpoint-cover", {setting(HOST_TEST_TILES, ENDPOINT_TILES), setting(HOST_TEST_BYTES, "64")}}}},
      {RANDOMIZED_RUNNER,
       {{"seed-1", {setting(RANDOM_SEED, "6506669214803444035")}},
        {"seed-2", {setting(RANDOM_SEED, "7640891576956012809")}},
        {"seed-3", {setting(RANDOM_SEED, "13503953896175478587")}}}},
      {GEMM_RUNNER,
       {{"dimension-128",
         {setting(GEMM_DIMENSION, "128"), setting(PROFILE_OUTPUT, profile_path),
          setting(GEMM_SRAM_CHECK_BLOCK, "1,1")}}}},
      {ATTENTION_RUNNER, {{"encoder-shapes", {}}}},
  };
}

std::pair<double, int> timed_run(const fs::path& program, const std::vector<std::string>& additions) {
  return zlu_bench::timed_spawn(program.string(), additions);
}

std::string describe(int status) {
  if (WIFEXITED(status)) return fmt::format("exit {}", WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return fmt::format("signal {}", WTERMSIG(status));
  return "not run";
}

}  // namespace

int main() {
  const fs::path folder = fs::read_symlink("/proc/self/exe").parent_path();
  const fs::path profile = fs::temp_directory_path() / fmt::format("zlu-runner-bench-profile-{}.capnp", getpid());
  fmt::print("runner timings, {} runs of each scenario, milliseconds per run (folder {})\n", REPEATS, folder.string());
  double all_runners = 0;
  for (const RunnerPlan& plan : plans(profile.string())) {
    const fs::path program = folder / plan.runner;
    if (!fs::exists(program)) {
      fmt::print("{:<24} not built yet, skipped\n", plan.runner);
      continue;
    }
    double runner_total = 0;
    for (const Scenario& scenario : plan.scenarios) {
      std::vector<double> times;
      int status = 0;
      for (int i = 0; i < REPEATS; ++i) {
        auto [ms, st] = timed_run(program, scenario.env);
        times.push_back(ms);
        status = st;
      }
      std::sort(times.begin(), times.end());
      double sum = 0;
      for (double t : times) sum += t;
      runner_total += sum / REPEATS;
      fmt::print("{:<24} {:<22} mean {:7.1f}  min {:7.1f}  max {:7.1f}  ({})\n", plan.runner, scenario.label,
                 sum / REPEATS, times.front(), times.back(), describe(status));
    }
    all_runners += runner_total;
    fmt::print("{:<24} {:<22} {:7.1f} ms for one invocation of each scenario\n", plan.runner, "total", runner_total);
  }
  std::error_code ignored;
  fs::remove(profile, ignored);
  fmt::print("all runner invocations of one hardware test run: {:.1f} ms (serial)\n", all_runners);

  const fs::path suite = folder / "hardware_e2e";
  if (!fs::exists(suite)) {
    fmt::print("hardware_e2e not built yet, whole-suite timing skipped\n");
    return 0;
  }
  for (int i = 0; i < 3; ++i) {
    auto [ms, status] = timed_run(suite, {});
    fmt::print("hardware_e2e whole run {}: {:.1f} ms ({})\n", i + 1, ms, describe(status));
  }
  return 0;
}
