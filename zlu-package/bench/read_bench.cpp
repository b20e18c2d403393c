// Benchmark of the profile reader on profiles of the size the card writes:
// all 1472 tiles, a few hundred samples each, with names and metadata.
// For each shape it prints the file size, then for a bare traversal of the
// message with the generated readers (which copies nothing), the reader,
// and the reader followed by the trace view written to a file as the tool
// writes it (streamed into a new file, flushed and renamed): the median
// wall and processor time over several rounds and the median peak resident
// memory. Every measurement runs in a fresh process, and each round runs the
// three in turn, so that a load on the machine falls on all of them alike;
// the ratios are medians of each round's own ratio.
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
#include <vector>

#include <capnp/message.h>
#include <capnp/serialize.h>
#include <fmt/format.h>
#include <kj/io.h>

#include "lib.hpp"
#include "profile.capnp.h"
#include "output.hpp"
#include "trace.hpp"

namespace {

constexpr std::uint32_t kTiles = 1472;
constexpr int kRounds = 7;

struct Shape {
  std::uint32_t samples_per_tile;
  // Metadata entries of sample `s`: `metadata` plus one more on every
  // `extra_every`-th sample (never, when 0).
  std::uint32_t metadata;
  std::uint32_t extra_every;
};

// Two metadata entries on every sample, the shape the reader's goals are
// set on; and the benchmark's earlier shape, with a third entry on every
// other sample.
constexpr Shape kShapes[] = {{300, 2, 0}, {240, 2, 2}};

const char* const kOperations[] = {"gemm_block_multiply", "exchange_rows", "sync_barrier", "idle_wait"};
const char* const kKernels[] = {"vertex_mac_f16_64x64", "vertex_copy_rows", "vertex_sync", "vertex_nop"};

void write_profile(const Shape& shape, const std::string& path) {
  capnp::MallocMessageBuilder message;
  auto profile = message.initRoot<profile_capnp::Profile>();
  profile.setSchemaVersion(3);
  profile.setClockHz(1'330'000'000);
  auto tiles = profile.initTiles(kTiles);
  for (std::uint32_t t = 0; t < kTiles; ++t) {
    tiles[t].setPhysicalTile(t);
    auto samples = tiles[t].initSamples(shape.samples_per_tile);
    std::uint32_t cycle = t * 7;
    for (std::uint32_t s = 0; s < shape.samples_per_tile; ++s) {
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
      auto metadata = step.initMetadata(shape.metadata + (shape.extra_every != 0 && s % shape.extra_every == shape.extra_every - 1 ? 1 : 0));
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

struct Measurement {
  double wall = 0;
  double cpu = 0;
  long peak_kib = 0;
  // Bytes of trace written ("trace" only).
  double output_bytes = 0;
};

// One reading of `mode` in this process: "none" only starts up, "bare" and
// "reader" read the profile, "trace" reads it and writes the trace view to
// `path` + ".json" as the tool writes it. Freeing what was read is not timed.
Measurement measure_here(std::string_view mode, const std::string& path) {
  const auto start = std::chrono::steady_clock::now();
  const double cpu_start = cpu_seconds();
  Measurement measured;
  std::uint64_t sink = 0;
  zlu_package::ProfileReport report;
  if (mode == "bare") sink = bare_traversal(path);
  if (mode == "reader" || mode == "trace") report = package_read(path);
  if (mode == "trace") {
    const std::string output = path + ".json";
    const auto written =
        zlu_profile::write_output(output, [&](std::ostream& out) { zlu_profile::write_trace(report, out); });
    if (!written) {
      fmt::print(stderr, "{}\n", written.error());
      std::exit(1);
    }
    measured.output_bytes = static_cast<double>(std::filesystem::file_size(output));
    std::filesystem::remove(output);
  }
  measured.cpu = cpu_seconds() - cpu_start;
  measured.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  measured.peak_kib = peak_resident_kib();
  volatile std::uint64_t kept = sink + report.tiles.size();
  (void)kept;
  return measured;
}

// `measure_here` in a fresh copy of this program.
Measurement measure_in_child(const char* self, const char* mode, const std::string& path) {
  int channel[2];
  if (::pipe(channel) != 0) std::exit(1);
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(channel[1], STDOUT_FILENO);
    ::execl(self, self, "--measure", mode, path.c_str(), static_cast<char*>(nullptr));
    std::_Exit(127);
  }
  ::close(channel[1]);
  char text[256] = {};
  std::size_t got = 0;
  for (ssize_t n = 1; n > 0 && got < sizeof text - 1; got += static_cast<std::size_t>(n)) {
    n = ::read(channel[0], text + got, sizeof text - 1 - got);
    if (n < 0) n = 0;
  }
  ::close(channel[0]);
  int status = 0;
  Measurement measured;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      std::sscanf(text, "%lf %lf %ld %lf", &measured.wall, &measured.cpu, &measured.peak_kib,
                  &measured.output_bytes) != 4) {
    fmt::print(stderr, "measuring {} failed\n", mode);
    std::exit(1);
  }
  return measured;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t half = values.size() / 2;
  return values.size() % 2 == 1 ? values[half] : (values[half - 1] + values[half]) / 2;
}

template <typename Field>
double median_of(const std::vector<Measurement>& runs, Field field) {
  std::vector<double> values;
  for (const Measurement& run : runs) values.push_back(field(run));
  return median(values);
}

void run_shape(const char* self, const Shape& shape) {
  const std::string path =
      (std::filesystem::temp_directory_path() / fmt::format("zlu-package-bench-{}.capnp", ::getpid())).string();
  write_profile(shape, path);
  const double file_bytes = static_cast<double>(std::filesystem::file_size(path));
  const double megabytes = file_bytes / 1e6;

  const char* const modes[] = {"bare", "reader", "trace"};
  std::vector<Measurement> runs[3];
  std::vector<double> wall_ratio;
  std::vector<double> cpu_ratio;
  std::vector<double> baseline_kib;
  for (int round = 0; round < kRounds; ++round) {
    baseline_kib.push_back(static_cast<double>(measure_in_child(self, "none", path).peak_kib));
    for (int m = 0; m < 3; ++m) runs[m].push_back(measure_in_child(self, modes[m], path));
    wall_ratio.push_back(runs[1].back().wall / runs[0].back().wall);
    cpu_ratio.push_back(runs[1].back().cpu / runs[0].back().cpu);
  }
  const double start_kib = median(baseline_kib);

  fmt::print("profile: {} tiles x {} samples, {}{} metadata entries, {:.1f} MB\n", kTiles, shape.samples_per_tile,
             shape.metadata, shape.extra_every == 0 ? "" : fmt::format(" (+1 on one sample in {})", shape.extra_every),
             megabytes);
  fmt::print("{:<16} {:>9} {:>9} {:>9} {:>13} {:>10}  {}\n", "", "wall ms", "MB/s", "cpu ms", "peak RSS MiB",
             "x file", "trace output MB/s");
  for (int m = 0; m < 3; ++m) {
    const double wall = median_of(runs[m], [](const Measurement& run) { return run.wall; });
    const double cpu = median_of(runs[m], [](const Measurement& run) { return run.cpu; });
    const double peak = median_of(runs[m], [](const Measurement& run) { return static_cast<double>(run.peak_kib); });
    const double peak_bytes = (peak - start_kib) * 1024.0;
    std::string output = "-";
    if (m == 2) {
      const double bytes = median_of(runs[m], [](const Measurement& run) { return run.output_bytes; });
      // The trace's own rate: its time less the reader's in the same round.
      std::vector<double> wall_rates;
      std::vector<double> cpu_rates;
      for (int round = 0; round < kRounds; ++round) {
        const double megabytes_out = runs[2][round].output_bytes / 1e6;
        wall_rates.push_back(megabytes_out / (runs[2][round].wall - runs[1][round].wall));
        cpu_rates.push_back(megabytes_out / (runs[2][round].cpu - runs[1][round].cpu));
      }
      output = fmt::format("{:.0f} / {:.0f} cpu ({:.0f} MB)", median(wall_rates), median(cpu_rates), bytes / 1e6);
    }
    fmt::print("{:<16} {:>9.1f} {:>9.0f} {:>9.1f} {:>13.1f} {:>10.2f}  {}\n",
               m == 0 ? "bare traversal" : m == 1 ? "package reader" : "reader + trace", wall * 1e3,
               megabytes / wall, cpu * 1e3, peak_bytes / (1024.0 * 1024.0), peak_bytes / file_bytes, output);
  }
  fmt::print("reader / bare: wall {:.2f}, cpu {:.2f}  (medians of {} interleaved rounds; start-up RSS {:.1f} MiB "
             "subtracted)\n\n",
             median(wall_ratio), median(cpu_ratio), kRounds, start_kib / 1024.0);
  std::filesystem::remove(path);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view first = argc > 1 ? argv[1] : "";
  if (argc == 3 && first == "--write-profile") {
    write_profile(kShapes[0], argv[2]);
    return 0;
  }
  if (argc == 4 && first == "--measure") {
    const Measurement measured = measure_here(argv[2], argv[3]);
    fmt::print("{} {} {} {}\n", measured.wall, measured.cpu, measured.peak_kib, measured.output_bytes);
    return 0;
  }
  if (argc != 1) {
    fmt::print(stderr, "usage: {} [--write-profile PATH]\n", argv[0]);
    return 2;
  }
  for (const Shape& shape : kShapes) run_shape(argv[0], shape);
  return 0;
}
