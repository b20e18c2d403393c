// What the report looks like on different outputs: colour on terminals and
// pipes, time reports, the log file and an output that cannot be written.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

#include "child_process.hpp"

namespace harness_e2e {
namespace {

// The xterm-256color entry's setaf for green, red and yellow, and its sgr0.
const std::string green = "\x1b[32m";
const std::string red = "\x1b[31m";
const std::string yellow = "\x1b[33m";
const std::string reset = "\x1b(B\x1b[m";

const std::map<std::string, std::string> xterm = {{"TERM", "xterm-256color"}};

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A folder of its own under the system's temporary folder, removed after.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "harness-e2e-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempFolder() { std::filesystem::remove_all(path_); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

TEST(ConsoleOutput, ColourComesFromTheTerminalDescriptionWhenAskedFor) {
  const ChildRun always = run_demo({"--color", "always", "--test-threads", "1", "passes_quietly"}, xterm);
  EXPECT_NE(always.stdout_text.find("test passes_quietly ... " + green + "ok" + reset + "\n"), std::string::npos)
      << always.stdout_text;
  EXPECT_NE(always.stdout_text.find("\ntest result: " + green + "ok" + reset + ". 1 passed;"), std::string::npos);

  const ChildRun failed = run_demo({"--color", "always", "--test-threads", "1", "fails_via_fail"}, xterm);
  EXPECT_NE(failed.stdout_text.find("... " + red + "FAILED" + reset + "\n"), std::string::npos);

  for (const auto& env : {std::map<std::string, std::string>{},
                          std::map<std::string, std::string>{{"TERM", "no-such-terminal-type"}}}) {
    const ChildRun plain = run_demo({"--color", "always", "passes_quietly"}, env);
    EXPECT_EQ(plain.stdout_text.find('\x1b'), std::string::npos) << plain.stdout_text;
    EXPECT_EQ(plain.exit_status, 0);
  }
  const ChildRun never = run_demo({"--color", "never", "passes_quietly"}, xterm, StdoutKind::Terminal);
  EXPECT_EQ(never.stdout_text.find('\x1b'), std::string::npos);
}

TEST(ConsoleOutput, AutomaticColourNeedsATerminalAndCapture) {
  const ChildRun terminal = run_demo({"passes_quietly"}, xterm, StdoutKind::Terminal);
  EXPECT_NE(terminal.stdout_text.find(green + "ok" + reset), std::string::npos) << terminal.stdout_text;
  const ChildRun pipe = run_demo({"passes_quietly"}, xterm, StdoutKind::Pipe);
  EXPECT_EQ(pipe.stdout_text.find('\x1b'), std::string::npos);
  const ChildRun uncaptured = run_demo({"--no-capture", "passes_quietly"}, xterm, StdoutKind::Terminal);
  EXPECT_EQ(uncaptured.stdout_text.find('\x1b'), std::string::npos);
}

TEST(ConsoleOutput, ReportTimeAddsTheTimeColouredByTheThresholds) {
  const ChildRun quick = run_demo({"-Z", "unstable-options", "--report-time", "--test-threads", "1", "passes_quietly"},
                                  {{"ZLU_TEST_BOOTSTRAP", "1"}});
  EXPECT_NE(quick.stdout_text.find("test passes_quietly ... ok <0.000s>\n"), std::string::npos) << quick.stdout_text;

  const std::map<std::string, std::string> env = {
      {"ZLU_TEST_BOOTSTRAP", "1"}, {"TERM", "xterm-256color"}, {"ZLU_TEST_TIME_INTEGRATION", "1,2"}};
  const ChildRun slow = run_demo(
      {"-Z", "unstable-options", "--report-time", "--color", "always", "--test-threads", "1", "sleeps_then_passes"}, env);
  EXPECT_EQ(slow.exit_status, 0);
  EXPECT_NE(without_times(slow.stdout_text).find(green + "ok" + reset + " " + red + "<T>" + reset + "\n"),
            std::string::npos)
      << slow.stdout_text;

  const ChildRun warned = run_demo(
      {"-Z", "unstable-options", "--report-time", "--color", "always", "--test-threads", "1", "sleeps_then_passes"},
      {{"ZLU_TEST_BOOTSTRAP", "1"}, {"TERM", "xterm-256color"}, {"ZLU_TEST_TIME_INTEGRATION", "1,60000"}});
  EXPECT_NE(without_times(warned.stdout_text).find(" " + yellow + "<T>" + reset + "\n"), std::string::npos)
      << warned.stdout_text;
}

TEST(ConsoleOutput, EnsureTimeFailsATestOverItsCriticalTime) {
  TempFolder folder;
  const std::string log = (folder.path() / "run.log").string();
  const ChildRun run =
      run_demo({"-Z", "unstable-options", "--ensure-time", "--test-threads", "1", "--logfile", log, "pass"},
               {{"ZLU_TEST_BOOTSTRAP", "1"}, {"ZLU_TEST_TIME_INTEGRATION", "10,20"}});
  EXPECT_EQ(run.exit_status, 101);
  const std::string text = without_times(run.stdout_text);
  EXPECT_NE(text.find("test sleeps_then_passes ... FAILED (time limit exceeded) <T>\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nfailures (time limit exceeded):\n\nfailures (time limit exceeded):\n    sleeps_then_passes\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\ntest result: FAILED. 2 passed; 1 failed; 0 ignored;"), std::string::npos);
  EXPECT_EQ(without_times(read_file(log)),
            "ok passes_quietly <T>\nok prints_and_passes <T>\nfailed (time limit exceeded) sleeps_then_passes <T>\n");
}

TEST(ConsoleOutput, LogFileGetsALinePerResultAndAListedTestLine) {
  TempFolder folder;
  const std::string log = (folder.path() / "run.log").string();
  std::ofstream(log) << "old content that the run must truncate\n";
  const ChildRun run = run_demo({"--logfile", log, "--test-threads", "1", "fails_via_fail", "ignored", "quietly"});
  EXPECT_EQ(run.exit_status, 101);
  EXPECT_EQ(run.stderr_text, "warning: `--logfile` is deprecated");
  EXPECT_EQ(read_file(log), "failed fails_via_fail\nignored: needs a card ignored_with_message\nok passes_quietly\n");

  const ChildRun listed = run_demo({"--list", "--logfile", log, "throws"});
  EXPECT_EQ(listed.exit_status, 0);
  EXPECT_EQ(read_file(log), "test throws_non_exception\ntest throws_runtime_error\n");

  const ChildRun unwritable = run_demo({"--logfile", (folder.path() / "missing" / "run.log").string()});
  EXPECT_EQ(unwritable.exit_status, 101);
  EXPECT_EQ(unwritable.stderr_text,
            "warning: `--logfile` is deprecated"
            "error: io error when listing tests: No such file or directory (os error 2)\n");
  EXPECT_EQ(unwritable.stdout_text, "");
}

TEST(ConsoleOutput, ClosedStandardOutputEndsTheRunWithAnIoError) {
  const ChildRun run = run_demo({"passes_quietly"}, {}, StdoutKind::ClosedPipe);
  EXPECT_EQ(run.signal, 0) << "killed by a signal instead of reporting the error";
  EXPECT_EQ(run.exit_status, 101);
  EXPECT_EQ(run.stderr_text, "error: io error when listing tests: Broken pipe (os error 32)\n");
  const ChildRun listing = run_demo({"--list"}, {}, StdoutKind::ClosedPipe);
  EXPECT_EQ(listing.exit_status, 101);
  EXPECT_EQ(listing.stderr_text, "error: io error when listing tests: Broken pipe (os error 32)\n");
}

TEST(ConsoleOutput, ClosedStandardOutputIsTheSameErrorWithALogFileAndTheLogHoldsOnlyLogLines) {
  TempFolder folder;
  const std::string log = (folder.path() / "run.log").string();
  const std::string closed_error = "error: io error when listing tests: Bad file descriptor (os error 9)\n";
  EXPECT_EQ(run_demo({"passes_quietly"}, {}, StdoutKind::Closed).stderr_text, closed_error);

  for (const std::vector<std::string>& args : {std::vector<std::string>{"passes_quietly"}, {"--list", "quietly"}}) {
    std::vector<std::string> logged = {"--logfile", log};
    logged.insert(logged.end(), args.begin(), args.end());
    const ChildRun run = run_demo(logged, {}, StdoutKind::Closed);
    EXPECT_EQ(run.exit_status, 101) << args.front();
    EXPECT_EQ(run.stderr_text, "warning: `--logfile` is deprecated" + closed_error);
    EXPECT_EQ(read_file(log), "") << args.front();
  }
}

TEST(ConsoleOutput, MachineFormatsStayBehindTheGate) {
  for (const std::string format : {"json", "junit"}) {
    const ChildRun closed = run_demo({"--format", format, "passes_quietly"});
    EXPECT_EQ(closed.exit_status, 101);
    EXPECT_EQ(closed.stderr_text, "error: The \"" + format +
                                      "\" format is only accepted on the nightly compiler with -Z unstable-options\n");
    EXPECT_EQ(closed.stdout_text, "");
  }
}

}  // namespace
}  // namespace harness_e2e
