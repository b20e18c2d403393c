// The report page of a fleet run of many attempts: how long the page takes to
// render and how large it is. Writes the page to the path given, for the
// browser timing that follows (bench/page_scale).
//   page_scale_bench FILE [ATTEMPTS]
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include <fmt/format.h>

#include "page.hpp"
#include "zlu-base/src/splitmix64.hpp"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: page_scale_bench FILE [ATTEMPTS]\n", stderr);
    return 2;
  }
  const std::size_t wanted = argc > 2 ? std::stoul(argv[2]) : 100'000;
  constexpr std::size_t TESTS = 23;
  constexpr int CARDS = 4;
  report_page::RunData data;
  data.title = "a fleet run";
  for (std::size_t t = 0; t < TESTS; ++t) data.test_index(fmt::format("catalogue_test_{:02}_works", t));
  zlu_base::SplitMix64 random(0x5eed);
  // Per host and card every test once; about 2% fail with a message and the
  // runner's output, about 1% pass on a second try.
  for (std::size_t host = 0; data.attempts.size() < wanted; ++host) {
    const std::uint32_t host_index = data.host_index(fmt::format("node-{:04}", host));
    for (int card = 0; card < CARDS && data.attempts.size() < wanted; ++card) {
      double clock = 0;
      for (std::uint32_t t = 0; t < TESTS && data.attempts.size() < wanted; ++t) {
        const auto roll = random.next() % 100;
        const double length = 50.0 + static_cast<double>(random.next() % 2000);
        report_page::Attempt attempt{.test = t, .host = host_index, .card = card, .worker = card,
                                     .start_ms = clock, .duration_ms = length};
        clock += length;
        if (roll < 2) {
          attempt.outcome = report_page::Outcome::Failed;
          attempt.message = fmt::format("runner exited with status 1 on tile {}", random.next() % 1472);
          attempt.output = fmt::format("tile {} offset 0x{:x} held 0x{:08x}, expected 0x{:08x}\n{}",
                                       random.next() % 1472, random.next() % 65536, random.next() % 0xffffffff,
                                       random.next() % 0xffffffff, std::string(1500, 'x'));
        } else if (roll < 3) {
          report_page::Attempt failed_try = attempt;
          failed_try.outcome = report_page::Outcome::TryFailed;
          failed_try.message = "runner exited with status 1";
          data.attempts.push_back(failed_try);
          attempt.try_number = 2;
          attempt.flaky = true;
        }
        data.attempts.push_back(std::move(attempt));
      }
    }
  }
  const auto start = std::chrono::steady_clock::now();
  const std::string page = report_page::render_page(data);
  const auto rendered = std::chrono::steady_clock::now();
  std::ofstream(argv[1], std::ios::binary) << page;
  fmt::print("attempts {}  hosts {}  page {:.2f} MB  rendered in {:.0f} ms\n", data.attempts.size(), data.hosts.size(),
             static_cast<double>(page.size()) / 1e6,
             std::chrono::duration<double, std::milli>(rendered - start).count());
  return 0;
}
