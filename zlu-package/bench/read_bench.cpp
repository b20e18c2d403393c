// Benchmark of the profile reader on a profile of the size the card writes:
// all 1472 tiles, a few hundred samples each, with names and metadata.
// Prints the file size, then for the reader and for a bare traversal of the
// same message with the generated readers (which copies nothing) the best
// throughput over several runs and the peak resident memory of a fresh
// process doing one read.
//
//   zlu_package_bench                      run the benchmark
//   zlu_package_bench --write-profile PATH only write the large profile
#include <fcntl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include <capnp/message.h>
#include <capnp/serialize.h>
#include <fmt/format.h>
#include <kj/io.h>

#include "lib.hpp"
#include "profile.capnp.h"

namespace {

constexpr std::uint32_t kTiles = 1472;
constexpr std::uint32_t kSamplesPerTile = 240;
constexpr int kRuns = 5;

const char* const kOperations[] = {"gemm_block_multiply", "exchange_rows", "sync_barrier", "idle_wait"};
const char* const kKernels[] = {"vertex_mac_f16_64x64", "vertex_copy_rows", "vertex_sync", "vertex_nop"};

void write_profile(const std::string& path) {
  capnp::MallocMessageBuilder message;
  auto profile = message.initRoot<profile_capnp::Profile>();
  profile.setSchemaVersion(3);
  profile.setClockHz(1'330'000'000);
  auto tiles = profile.initTiles(kTiles);
  for (std::uint32_t t = 0; t < kTiles; ++t) {
    tiles[t].setPhysicalTile(t);
    auto samples = tiles[t].initSamples(kSamplesPerTile);
    std::uint32_t cycle = t * 7;
    for (std::uint32_t s = 0; s < kSamplesPerTile; ++s) {
      const std::uint32_t kind = (s + t) % 4;
      auto sample = samples[s];
      sample.setStartCycle(cycle);
      cycle += 100 + (s * 37 + t) % 900;
      sample.setEndCycle(cycle);
      auto step = sample.initStep();
      step.setLocalIndex(s);
      step.setPhase(s / 16);
      step.setEpoch(s / 64);
      step.setOperation(kOperations[kind]);
      step.setKind(static_cast<profile_capnp::StepKind>(kind));
      step.setKernel(kKernels[kind]);
      auto metadata = step.initMetadata(2 + s % 2);
      metadata[0].setName("block_row");
      metadata[0].setValue(std::to_string(s % 8));
      metadata[1].setName("block_column");
      metadata[1].setValue(std::to_string(t % 8));
      if (metadata.size() == 3) {
        metadata[2].setName("bytes");
        metadata[2].setValue(std::to_string(4096 + s));
      }
    }
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    std::perror(path.c_str());
    std::exit(1);
  }
  capnp::writeMessageToFd(fd, message);
  ::close(fd);
}

kj::Own<kj::InputStream> open_source(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::perror(path.c_str());
    std::exit(1);
  }
  return kj::heap<kj::FdInputStream>(kj::AutoCloseFd(fd));
}

// The cost floor: the library's own stream reader and a walk over every
// field and text of the message, copying nothing.
std::uint64_t bare_traversal(const std::string& path) {
  auto source = open_source(path);
  capnp::InputStreamMessageReader reader(*source, zlu_package::capnp_reader_options());
  const auto profile = reader.getRoot<profile_capnp::Profile>();
  std::uint64_t sum = profile.getSchemaVersion() + profile.getClockHz();
  for (const auto tile : profile.getTiles()) {
    sum += tile.getPhysicalTile();
    for (const auto sample : tile.getSamples()) {
      const auto step = sample.getStep();
      sum += step.getLocalIndex() + step.getPhase() + step.getEpoch() + static_cast<std::uint16_t>(step.getKind());
      sum += step.getOperation().size() + step.getKernel().size();
      for (const auto entry : step.getMetadata()) sum += entry.getName().size() + entry.getValue().size();
      sum += sample.getStartCycle() + sample.getEndCycle();
    }
  }
  return sum;
}

zlu_package::ProfileReport package_read(const std::string& path) {
  auto report = zlu_package::ProfileReport::read(open_source(path));
  if (!report) {
    fmt::print(stderr, "read failed: {}\n", report.error());
    std::exit(1);
  }
  return std::move(*report);
}

double cpu_seconds() {
  timespec now{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct Timing {
  double wall = 1e300;
  double cpu = 1e300;
};

// Best wall-clock and best processor time over the runs of `reading`: on a
// shared machine the processor time is the steadier of the two. What
// `reading` returns is released after the clock stops.
template <typename Reading>
Timing best_of_runs(Reading reading, const std::string& path) {
  Timing best;
  for (int run = 0; run < kRuns; ++run) {
    const auto start = std::chrono::steady_clock::now();
    const double cpu_start = cpu_seconds();
    auto result = reading(path);
    best.cpu = std::min(best.cpu, cpu_seconds() - cpu_start);
    best.wall = std::min(best.wall, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    volatile const void* sink = &result;
    (void)sink;
  }
  return best;
}

// The high-water mark of this process's resident memory, in KiB. Unlike
// getrusage's figure it starts afresh at exec, so a child measures only
// its own work.
long peak_resident_kib() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return -1;
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1) break;
  }
  std::fclose(status);
  return kib;
}

// Peak resident memory, in KiB, of a fresh copy of this program that does
// one reading of `mode` ("none" only starts up).
long child_peak_kib(const char* self, const char* mode, const std::string& path) {
  int channel[2];
  if (::pipe(channel) != 0) std::exit(1);
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(channel[1], STDOUT_FILENO);
    ::execl(self, self, "--measure", mode, path.c_str(), static_cast<char*>(nullptr));
    std::_Exit(127);
  }
  ::close(channel[1]);
  char text[64] = {};
  const ssize_t got = ::read(channel[0], text, sizeof text - 1);
  ::close(channel[0]);
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      got <= 0) {
    fmt::print(stderr, "measuring {} failed\n", mode);
    std::exit(1);
  }
  return std::atol(text);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view first = argc > 1 ? argv[1] : "";
  if (argc == 3 && first == "--write-profile") {
    write_profile(argv[2]);
    return 0;
  }
  if (argc == 4 && first == "--measure") {
    const std::string_view mode = argv[2];
    if (mode == "reader") package_read(argv[3]);
    if (mode == "bare") bare_traversal(argv[3]);
    fmt::print("{}\n", peak_resident_kib());
    return 0;
  }
  if (argc != 1) {
    fmt::print(stderr, "usage: {} [--write-profile PATH]\n", argv[0]);
    return 2;
  }

  const std::string path =
      (std::filesystem::temp_directory_path() / fmt::format("zlu-package-bench-{}.capnp", ::getpid())).string();
  write_profile(path);
  const double megabytes = static_cast<double>(std::filesystem::file_size(path)) / 1e6;

  const Timing bare = best_of_runs(bare_traversal, path);
  const Timing reader = best_of_runs(package_read, path);
  const long baseline_kib = child_peak_kib(argv[0], "none", path);
  const long bare_kib = child_peak_kib(argv[0], "bare", path);
  const long reader_kib = child_peak_kib(argv[0], "reader", path);

  fmt::print("profile: {} tiles x {} samples, {:.1f} MB\n", kTiles, kSamplesPerTile, megabytes);
  fmt::print("{:<16} {:>9} {:>9} {:>9} {:>9} {:>13}\n", "", "wall ms", "MB/s", "cpu ms", "MB/s",
             "peak RSS MiB");
  const auto row = [&](const char* name, Timing timing, long kib) {
    fmt::print("{:<16} {:>9.1f} {:>9.0f} {:>9.1f} {:>9.0f} {:>13.1f}\n", name, timing.wall * 1e3,
               megabytes / timing.wall, timing.cpu * 1e3, megabytes / timing.cpu, (kib - baseline_kib) / 1024.0);
  };
  row("bare traversal", bare, bare_kib);
  row("package reader", reader, reader_kib);
  {
    auto report = package_read(path);
    const auto start = std::chrono::steady_clock::now();
    report = {};
    fmt::print("freeing the reader's model afterwards (not counted above): {:.1f} ms\n",
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() * 1e3);
  }
  fmt::print("reader / bare: wall {:.2f}, cpu {:.2f}  (best of {} runs; start-up RSS {:.1f} MiB subtracted)\n",
             reader.wall / bare.wall, reader.cpu / bare.cpu, kRuns, baseline_kib / 1024.0);
  std::filesystem::remove(path);
  return 0;
}
