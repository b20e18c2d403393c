#include "reports/logfile.hpp"

#include <cerrno>
#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include "reports/io_error.hpp"
#include "run/outcome.hpp"
#include "reports/time_format.hpp"

namespace harness {

namespace {

// Whether `path` names a FIFO, as the open that failed with ENXIO found it.
bool is_fifo(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISFIFO(status.st_mode);
}

}  // namespace

std::expected<LogFile, std::string> LogFile::create(const std::string& path) {
  // Without O_NONBLOCK the open of a FIFO would wait for a reader, before any
  // test starts; with it, a FIFO without one fails with ENXIO.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0 && errno == ENXIO && is_fifo(path)) {
    return std::unexpected(
        fmt::format("error: --logfile is `{}`, a FIFO that no process reads; start its reader first.\n", path));
  }
  if (fd < 0) return std::unexpected(io_error_message(errno));
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    const int error = errno;
    ::close(fd);
    return std::unexpected(io_error_message(error));
  }
  if (fd > 2) return LogFile(fd);
  // A standard stream was closed and the file took its number: move it
  // above them, so that the report meant for that stream cannot end up in
  // the log and a closed stream stays the error it is.
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  const int error = errno;
  ::close(fd);
  if (moved < 0) return std::unexpected(io_error_message(error));
  return LogFile(moved);
}

LogFile::LogFile(LogFile&& other) noexcept : fd_(other.fd_), error_(other.error_) { other.fd_ = -1; }

LogFile::~LogFile() {
  if (fd_ >= 0) ::close(fd_);
}

void LogFile::write(std::string_view text) {
  if (error_ != 0) return;
  error_ = write_all(fd_, text);
}

std::string render_listed_line(const TestDesc& desc) { return fmt::format("test {}\n", desc.name); }

std::string render_log_line(const CompletedTest& test) {
  std::string word;
  const Outcome outcome = outcome_of(test.result());
  switch (outcome.verdict) {
    case Verdict::Passed: word = "ok"; break;
    case Verdict::Failed:
      if (!outcome.reason.empty()) {
        word = fmt::format("failed ({})", outcome.reason);
      } else {
        word = outcome.note ? fmt::format("failed: {}", *outcome.note) : "failed";
      }
      break;
    case Verdict::Ignored:
      word = test.desc.ignore_message ? fmt::format("ignored: {}", *test.desc.ignore_message) : "ignored";
      break;
    case Verdict::Measured: word = "bench"; break;
  }
  const std::optional<TestExecTime>& exec_time = test.last_try().exec_time;
  const std::string time = exec_time ? fmt::format(" <{}>", render_exec_time(*exec_time)) : "";
  const std::string note = retry_note(test);
  const std::string flaky = note.empty() ? "" : fmt::format(" ({})", note);
  return fmt::format("{} {}{}{}\n", word, test.desc.name, time, flaky);
}

}  // namespace harness
