// The tool as its users run it: exit codes, error lines and outputs.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "check.hpp"
#include "profile_builder.hpp"
#include "tool.hpp"

namespace zlu_profile {
namespace {

using testing::run_tool;
using testing::ScratchDir;

int line_count(const std::string& text) { return static_cast<int>(std::ranges::count(text, '\n')); }

TEST(Cli, UnreadableOrInvalidProfilesFailWithOneLineNamingTheFile) {
  const ScratchDir scratch;
  const std::string missing = (scratch / "missing.capnp").string();
  const std::string garbage = (scratch / "garbage.capnp").string();
  const std::string future = (scratch / "future.capnp").string();
  std::ofstream(garbage) << "this is not a message";
  testing::ProfileShape shape = testing::card_profile(1);
  shape.schema_version = 4;
  testing::write_profile(shape, future);

  for (const std::string command : {"summary", "check", "svg", "trace"}) {
    std::vector<std::string> output_option;
    if (command == "svg" || command == "trace") {
      output_option = {"-o", (scratch / "out").string()};
    }
    const auto with = [&](const std::string& file) {
      std::vector<std::string> arguments{command, file};
      arguments.insert(arguments.end(), output_option.begin(), output_option.end());
      return run_tool(arguments);
    };
    const auto absent = with(missing);
    EXPECT_EQ(absent.exit_code, 2) << command;
    EXPECT_EQ(absent.err, "zlu-profile: " + missing + ": No such file or directory\n") << command;

    const auto bad = with(garbage);
    EXPECT_EQ(bad.exit_code, 2) << command;
    EXPECT_EQ(bad.err.rfind("zlu-profile: " + garbage + ": Capnp(", 0), 0u) << bad.err;
    EXPECT_EQ(line_count(bad.err), 1) << bad.err;

    const auto newer = with(future);
    EXPECT_EQ(newer.exit_code, 2) << command;
    EXPECT_EQ(newer.err,
              "zlu-profile: " + future + ": Invalid(\"unsupported profile schema version 4\")\n") << command;
    EXPECT_FALSE(std::filesystem::exists(scratch / "out")) << command;
  }
  const auto folder = run_tool({"summary", scratch.path().string()});
  EXPECT_EQ(folder.exit_code, 2);
  EXPECT_EQ(folder.err, "zlu-profile: " + scratch.path().string() + ": Is a directory\n");
}

TEST(Cli, InputsThatAreNoRegularFileAreRefusedWithoutBlocking) {
  const ScratchDir scratch;
  // Nobody ever opens the pipe for writing: opening it to read would wait forever.
  const std::filesystem::path fifo = scratch / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string command : {"summary", "check", "svg"}) {
    std::vector<std::string> arguments{command, fifo.string()};
    if (command == "svg") {
      arguments.insert(arguments.end(), {"-o", (scratch / "out.svg").string()});
    }
    const auto run = run_tool(arguments);
    EXPECT_EQ(run.exit_code, 2) << command;
    EXPECT_EQ(run.err, "zlu-profile: " + fifo.string() + ": not a regular file\n") << command;
  }
  EXPECT_FALSE(std::filesystem::exists(scratch / "out.svg"));
}

TEST(Cli, LostStandardOutputFailsWithExitTwo) {
  const ScratchDir scratch;
  testing::write_profile(testing::card_profile(1), scratch / "p.capnp");
  testing::ProfileShape shape = testing::card_profile(1);
  shape.clock_hz = 0;
  testing::write_profile(shape, scratch / "failing.capnp");
  const testing::UnwritableSink sink;
  const std::string good = (scratch / "p.capnp").string();
  const std::vector<std::vector<std::string>> runs = {
      {"summary", good}, {"summary", good, "--json"}, {"check", good}, {"check", (scratch / "failing.capnp").string()}};
  for (const auto& arguments : runs) {
    const auto run = run_tool(arguments, sink.fd());
    EXPECT_EQ(run.exit_code, 2) << arguments[0] << " " << arguments.back();
    EXPECT_EQ(run.err.rfind("zlu-profile: standard output: ", 0), 0u) << run.err;
    EXPECT_EQ(line_count(run.err), 1) << run.err;
  }
}

// As in `zlu-profile trace p.capnp -o - | head -c 1`: the reader is gone,
// and the tool, started with SIGPIPE at its default, must not die of it.
TEST(Cli, APipeWhoseReaderLeftFailsWithExitTwo) {
  const ScratchDir scratch;
  const std::string good = (scratch / "p.capnp").string();
  testing::write_profile(testing::card_profile(1), good);
  const std::vector<std::pair<std::vector<std::string>, std::string>> runs = {
      {{"trace", good, "-o", "-"}, "standard output: write failed: Broken pipe"},
      {{"svg", good, "-o", "-"}, "standard output: write failed: Broken pipe"},
      {{"summary", good}, "standard output: Broken pipe"},
      {{"check", good}, "standard output: Broken pipe"},
  };
  for (const auto& [arguments, message] : runs) {
    SCOPED_TRACE(arguments[0]);
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    ::close(ends[0]);
    const auto run = run_tool(arguments, ends[1]);
    ::close(ends[1]);
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(run.err, "zlu-profile: " + message + "\n");
  }
}

TEST(Cli, UsageErrorsExitTwoWithAShortUsageAndHelpExitsZero) {
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{}, {"draw", "f"}, {"summary"}, {"svg", "f"}, {"check", "f", "--bogus"}}) {
    const auto run = run_tool(arguments);
    EXPECT_EQ(run.exit_code, 2) << fmt::format("{}", fmt::join(arguments, " "));
    EXPECT_NE(run.err.find("usage: zlu-profile summary FILE"), std::string::npos) << run.err;
  }
  for (const std::string command : {"summary", "check", "trace", "svg"}) {
    const auto help = run_tool({command, "--help"});
    EXPECT_EQ(help.exit_code, 0) << command;
    EXPECT_NE(help.out.find(command), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("FILE"), std::string::npos) << help.out;
  }
  const auto trace_help = run_tool({"trace", "--help"});
  EXPECT_NE(trace_help.out.find("--output"), std::string::npos) << trace_help.out;
}

TEST(Cli, CheckExitsByTheVerdictAndPrintsTheTestsMessage) {
  const ScratchDir scratch;
  testing::write_profile(testing::card_profile(1), scratch / "good.capnp");
  const auto good = run_tool({"check", (scratch / "good.capnp").string()});
  EXPECT_EQ(good.exit_code, 0) << good.out << good.err;

  testing::ProfileShape shape = testing::card_profile(1);
  for (auto& tile : shape.tiles) {
    std::erase_if(tile.samples, [](const auto& sample) {
      return sample.kind == zlu_package::ProfileStepKind::Synchronization;
    });
  }
  testing::write_profile(shape, scratch / "bad.capnp");
  const auto bad = run_tool({"check", (scratch / "bad.capnp").string()});
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_EQ(bad.out, check_profile(testing::decode(shape)).value() + "\n");
}

TEST(Cli, SummaryJsonCarriesTheFigures) {
  const ScratchDir scratch;
  testing::write_profile(testing::card_profile(2), scratch / "p.capnp");
  const auto run = run_tool({"summary", (scratch / "p.capnp").string(), "--json"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const nlohmann::json summary = nlohmann::json::parse(run.out);
  EXPECT_EQ(summary["format_version"], 3);
  EXPECT_EQ(summary["clock_hz"], 1'330'000'000);
  EXPECT_EQ(summary["tiles"], 1472);
  EXPECT_EQ(summary["samples"], 1472 * 8);
  EXPECT_EQ(summary["kinds"][2]["kind"], "synchronization");
  EXPECT_EQ(summary["kinds"][2]["cycles"], 1472 * 2 * 20);
  EXPECT_EQ(summary["span"]["cycles"], 800);
  EXPECT_EQ(summary["busiest_tiles"].size(), 5u);
  EXPECT_EQ(summary["missing_tiles"], nlohmann::json::array());
  EXPECT_EQ(summary["absent_kinds"], nlohmann::json::array());

  const auto text = run_tool({"summary", (scratch / "p.capnp").string()});
  ASSERT_EQ(text.exit_code, 0) << text.err;
  EXPECT_NE(text.out.find("tiles without samples: none\n"), std::string::npos) << text.out;

  // The version comes from the file, which the model does not keep.
  testing::write_profile({.schema_version = 1, .clock_hz = 5, .tiles = {}}, scratch / "v1.capnp");
  const auto first = run_tool({"summary", (scratch / "v1.capnp").string(), "--json"});
  ASSERT_EQ(first.exit_code, 0) << first.err;
  EXPECT_EQ(nlohmann::json::parse(first.out)["format_version"], 1);
}

TEST(Cli, FailedWriteLeavesTheOldFileAndNoDebris) {
  const ScratchDir scratch;
  testing::write_profile(testing::card_profile(1), scratch / "p.capnp");
  const auto nowhere = run_tool({"svg", (scratch / "p.capnp").string(), "-o", (scratch / "no/such/p.svg").string()});
  EXPECT_EQ(nowhere.exit_code, 2);
  EXPECT_EQ(nowhere.err.rfind("zlu-profile: " + (scratch / "no/such/p.svg").string() + ": ", 0), 0u) << nowhere.err;

  std::filesystem::create_directory(scratch / "taken");
  const auto onto_folder = run_tool({"svg", (scratch / "p.capnp").string(), "-o", (scratch / "taken").string()});
  EXPECT_EQ(onto_folder.exit_code, 2);
  EXPECT_EQ(onto_folder.err, "zlu-profile: " + (scratch / "taken").string() + ": Is a directory\n");
  EXPECT_TRUE(std::filesystem::is_directory(scratch / "taken"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path()), {}), 2) << "temporary file left";
}

TEST(Cli, PipesAreWrittenInPlaceAndLinksKept) {
  const ScratchDir scratch;
  testing::write_profile(testing::card_profile(1), scratch / "p.capnp");
  const auto piped = run_tool({"svg", (scratch / "p.capnp").string(), "-o", "-"});
  EXPECT_EQ(piped.exit_code, 0) << piped.err;
  EXPECT_EQ(piped.out.rfind("<?xml", 0), 0u);

  // Holding both ends keeps the pipe open whatever the tool does, and the
  // reader gives up after a quiet spell instead of hanging.
  const std::filesystem::path fifo = scratch / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int fd = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  std::string received;
  std::thread reader([&] {
    char buffer[65536];
    pollfd poll_fd{.fd = fd, .events = POLLIN, .revents = 0};
    while (::poll(&poll_fd, 1, 3000) > 0) {
      const ssize_t count = ::read(fd, buffer, sizeof buffer);
      if (count <= 0) break;
      received.append(buffer, static_cast<std::size_t>(count));
      if (received.ends_with("</svg>\n")) break;
    }
  });
  const auto through_fifo = run_tool({"svg", (scratch / "p.capnp").string(), "-o", fifo.string()});
  reader.join();
  ::close(fd);
  EXPECT_EQ(through_fifo.exit_code, 0) << through_fifo.err;
  EXPECT_EQ(std::filesystem::status(fifo).type(), std::filesystem::file_type::fifo);
  EXPECT_EQ(received, piped.out);

  std::filesystem::create_symlink("real.svg", scratch / "link.svg");
  const auto linked = run_tool({"svg", (scratch / "p.capnp").string(), "-o", (scratch / "link.svg").string()});
  EXPECT_EQ(linked.exit_code, 0) << linked.err;
  EXPECT_TRUE(std::filesystem::is_symlink(scratch / "link.svg"));
  EXPECT_EQ(testing::read_file(scratch / "real.svg"), piped.out);
}

TEST(Cli, ReplacingAFileKeepsItsMode) {
  const ScratchDir scratch;
  testing::write_profile(testing::card_profile(1), scratch / "p.capnp");
  namespace fs = std::filesystem;
  std::ofstream(scratch / "read-only.svg") << "old";
  fs::permissions(scratch / "read-only.svg", fs::perms(0444));
  std::ofstream(scratch / "private.svg") << "old";
  fs::permissions(scratch / "private.svg", fs::perms(0600));
  fs::create_symlink("private.svg", scratch / "link.svg");

  for (const char* name : {"read-only.svg", "link.svg"}) {
    const auto run = run_tool({"svg", (scratch / "p.capnp").string(), "-o", (scratch / name).string()});
    EXPECT_EQ(run.exit_code, 0) << run.err;
  }
  EXPECT_EQ(fs::status(scratch / "read-only.svg").permissions(), fs::perms(0444));
  EXPECT_EQ(fs::status(scratch / "private.svg").permissions(), fs::perms(0600));
  EXPECT_TRUE(fs::is_symlink(scratch / "link.svg"));
  EXPECT_EQ(testing::read_file(scratch / "private.svg").rfind("<?xml", 0), 0u);
  EXPECT_EQ(testing::read_file(scratch / "read-only.svg").rfind("<?xml", 0), 0u);
}

}  // namespace
}  // namespace zlu_profile
