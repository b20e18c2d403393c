#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <kj/io.h>

#include "gemm_card.hpp"
#include "zlu-package/src/lib.hpp"
#include "zlu-profile/tests/profile_builder.hpp"

extern char** environ;

namespace zlu_gemm {
namespace {

namespace fs = std::filesystem;
using zlu_profile::testing::contents;
using zlu_profile::testing::read_profile_file;
using zlu_profile::testing::ScratchDirectory;

struct RunnerResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// Runs the built runner with the test's environment plus `additions`, as the
// hardware tests start it, and collects its exit code and output.
RunnerResult run_runner(const ScratchDirectory& dir, const std::map<std::string, std::string>& additions) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    if (!additions.contains(std::string(text.substr(0, text.find('='))))) entries.emplace_back(text);
  }
  for (const auto& [name, value] : additions) entries.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);

  const fs::path out = dir.path() / "stdout";
  const fs::path err = dir.path() / "stderr";
  const pid_t child = ::fork();
  if (child == 0) {
    const int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out_fd, 1);
    ::dup2(err_fd, 2);
    char* argv[] = {const_cast<char*>(ZLU_GEMM_RUNNER), nullptr};
    ::execve(ZLU_GEMM_RUNNER, argv, envp.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, contents(out), contents(err)};
}

// The checks the GEMM hardware test makes of a profile, in its order: the
// name of the first one that fails, or "" when all hold.
std::string first_failed_check(const fs::path& path) {
  if (!fs::exists(path)) return "file exists";
  const auto profile = read_profile_file(path);
  if (!profile) return "read: " + profile.error().debug();
  if (profile->tiles.size() != 1472) return "1472 tiles";
  if (profile->clock_hz == 0) return "clock";
  for (const auto& tile : profile->tiles)
    if (tile.samples.empty()) return "samples on every tile";
  using Kind = zlu_package::ProfileStepKind;
  for (const auto& [kind, name] :
       {std::pair{Kind::Exchange, "Exchange"}, std::pair{Kind::Compute, "Compute"},
        std::pair{Kind::Synchronization, "Synchronization"}, std::pair{Kind::Idle, "Idle"}}) {
    bool found = false;
    for (const auto& tile : profile->tiles)
      for (const auto& sample : tile.samples) found = found || sample.step.kind == kind;
    if (!found) return std::string("some ") + name;
  }
  return "";
}

std::map<std::string, std::string> test_environment(const fs::path& profile) {
  return {
      {"ZLU_GEMM_DIMENSION", "128"}, {"ZLU_PROFILE_OUTPUT", profile.string()}, {"ZLU_GEMM_SRAM_CHECK_BLOCK", "1,1"}};
}

TEST(GemmRunner, WritesAProfileThatPassesEveryCheckOfTheHardwareTest) {
  const ScratchDirectory dir;
  const fs::path profile = dir.path() / "zlu-stack-gemm-profile-1.capnp";
  const RunnerResult result = run_runner(dir, test_environment(profile));
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_TRUE(result.out.starts_with("zlu-gemm-e2e: ok: scenario=gemm-128 ")) << result.out;
  EXPECT_EQ(first_failed_check(profile), "");

  const auto report = read_profile_file(profile);
  ASSERT_TRUE(report);
  for (std::size_t p = 0; p < report->tiles.size(); ++p) ASSERT_EQ(report->tiles[p].physical_tile, p);
  std::size_t with_metadata = 0;
  for (const auto& tile : report->tiles)
    for (const auto& sample : tile.samples) {
      ASSERT_FALSE(sample.step.operation.empty());
      ASSERT_FALSE(sample.step.kernel.empty());
      ASSERT_LE(sample.start_cycle, sample.end_cycle);
      with_metadata += sample.step.metadata.empty() ? 0 : 1;
    }
  EXPECT_GT(with_metadata, 0u);
}

TEST(GemmRunner, EachProfileFaultFailsTheCheckItNames) {
  const ScratchDirectory dir;
  const fs::path profile = dir.path() / "profile.capnp";
  const std::vector<std::pair<std::string, std::string>> cases{
      {"no-profile", "file exists"},
      {"profile-tiles=1471", "1472 tiles"},
      {"profile-clock=0", "clock"},
      {"profile-empty-tile", "samples on every tile"},
      {"profile-without=exchange", "some Exchange"},
      {"profile-without=compute", "some Compute"},
      {"profile-without=synchronization", "some Synchronization"},
      {"profile-without=idle", "some Idle"},
      {"profile-version=4", "read: Invalid(\"unsupported profile schema version 4\")"},
  };
  for (const auto& [action, failed] : cases) {
    fs::remove(profile);
    auto environment = test_environment(profile);
    environment["ZLU_SIM_FAULT"] = "zlu-hardware-e2e:exit=3,zlu-gemm-e2e:" + action;
    const RunnerResult result = run_runner(dir, environment);
    ASSERT_EQ(result.exit_code, 0) << action << ": " << result.err;
    EXPECT_EQ(first_failed_check(profile), failed) << action;
  }

  fs::remove(profile);
  auto environment = test_environment(profile);
  environment["ZLU_SIM_FAULT"] = "zlu-gemm-e2e:profile-garbage";
  ASSERT_EQ(run_runner(dir, environment).exit_code, 0);
  EXPECT_TRUE(first_failed_check(profile).starts_with("read: Capnp(")) << first_failed_check(profile);
}

TEST(GemmRunner, BadConfigurationExitsTwoNamingVariableAndValue) {
  const ScratchDirectory dir;
  const fs::path profile = dir.path() / "profile.capnp";
  const std::vector<std::pair<std::string, std::string>> cases{
      {"ZLU_GEMM_DIMENSION", "100"},
      {"ZLU_GEMM_SRAM_CHECK_BLOCK", "8,8"},
      {"ZLU_GEMM_SRAM_CHECK_BLOCK", "one,one"},
      {"ZLU_SIM_FAULT", "zlu-gemm-e2e:profile-sideways"},
  };
  for (const auto& [name, value] : cases) {
    auto environment = test_environment(profile);
    environment[name] = value;
    const RunnerResult result = run_runner(dir, environment);
    EXPECT_EQ(result.exit_code, 2) << name << "=" << value;
    EXPECT_TRUE(result.err.starts_with("zlu-gemm-e2e: ")) << result.err;
    EXPECT_NE(result.err.find(name + "=\""), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(value), std::string::npos) << result.err;
    EXPECT_TRUE(result.out.empty()) << result.out;
    EXPECT_FALSE(fs::exists(profile)) << name << "=" << value;
  }
}

TEST(GemmRunner, NeverReplacesADeviceOrADirectoryAtTheProfilePath) {
  const ScratchDirectory dir;
  // A null device of the scratch folder's own: written in place, it stays a device.
  const fs::path device = dir.path() / "null";
  ASSERT_EQ(::mknod(device.c_str(), S_IFCHR | 0666, ::makedev(1, 3)), 0) << std::strerror(errno);
  const RunnerResult written = run_runner(dir, test_environment(device));
  EXPECT_EQ(written.exit_code, 0) << written.err;
  struct stat node {};
  ASSERT_EQ(::lstat(device.c_str(), &node), 0);
  EXPECT_TRUE(S_ISCHR(node.st_mode));
  EXPECT_EQ(node.st_rdev, ::makedev(1, 3));

  const fs::path folder = dir.path() / "folder";
  fs::create_directory(folder);
  const RunnerResult refused = run_runner(dir, test_environment(folder));
  EXPECT_EQ(refused.exit_code, 2) << refused.err;
  EXPECT_NE(refused.err.find(folder.string()), std::string::npos) << refused.err;
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_TRUE(fs::is_empty(folder));
}

TEST(RunGemm, ABrokenCardFailsTheCheck) {
  for (const bool off_by_one : {false, true}) {
    zlu_card::CardOptions options;
    options.faults.wrong_route = !off_by_one;
    options.faults.address_off_by_one = off_by_one;
    zlu_card::Card card(options);
    zlu_runner::HostWriteJitter jitter({});
    const auto outcome = run_gemm(card, GemmConfig{}, jitter);
    ASSERT_FALSE(outcome) << "off by one: " << off_by_one;
    EXPECT_EQ(outcome.error().code, zlu_runner::ExitCode::CheckFailed);
    EXPECT_NE(outcome.error().message.find("expected"), std::string::npos) << outcome.error().message;
  }
}

TEST(CheckSramBlock, ACorruptedByteFailsNamingTileRouteAndAddress) {
  zlu_card::Card card;
  zlu_runner::HostWriteJitter jitter({});
  const GemmConfig config;
  ASSERT_TRUE(run_gemm(card, config, jitter));
  const GemmLayout layout = GemmLayout::for_dimension(config.dimension, card.tile_count());
  const std::vector<Element> reference =
      reference_product(make_operand(config.dimension, OPERAND_SEED, 0),
                        make_operand(config.dimension, OPERAND_SEED, 1), config.dimension);
  ASSERT_TRUE(check_sram_block(card, layout, {1, 1}, reference));

  const std::uint16_t tile = layout.tile_of({1, 1});
  const auto route = card.host_route(tile);
  ASSERT_TRUE(route);
  const std::byte corrupt[4] = {std::byte{0xde}, std::byte{0xad}, std::byte{0xbe}, std::byte{0xef}};
  ASSERT_TRUE((*card.sram(tile))->write(C_BLOCK + 0x40, corrupt));
  ASSERT_TRUE(check_sram_block(card, layout, {0, 1}, reference)) << "another block is untouched";
  const auto failed = check_sram_block(card, layout, {1, 1}, reference);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().code, zlu_runner::ExitCode::CheckFailed);
  const std::string& message = failed.error().message;
  EXPECT_NE(message.find(fmt::format("tile {} (row {}, position {})", tile, route->row, route->position)),
            std::string::npos)
      << message;
  EXPECT_NE(message.find(fmt::format("{:#x}", C_BLOCK + 0x40)), std::string::npos) << message;
}

TEST(RunGemm, DrawsOneJitterDelayBeforeEachHostWrite) {
  const zlu_runner::JitterSettings settings{3, 0x5eed};
  zlu_card::Card card;
  GemmConfig config;
  config.dimension = 64;
  config.jitter = settings;
  zlu_runner::HostWriteJitter jitter(settings);
  ASSERT_TRUE(run_gemm(card, config, jitter));

  zlu_runner::HostWriteJitter replay(settings);
  const std::uint32_t host_writes = 2 * (64 / GEMM_BLOCK) * (64 / GEMM_BLOCK);
  for (std::uint32_t i = 0; i < host_writes; ++i) replay.next_delay_us();
  for (int i = 0; i < 12; ++i) EXPECT_EQ(jitter.next_delay_us(), replay.next_delay_us()) << i;
}

}  // namespace
}  // namespace zlu_gemm
