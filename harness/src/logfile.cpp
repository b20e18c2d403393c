#include "logfile.hpp"

#include <cerrno>
#include <fcntl.h>
#include <fmt/format.h>
#include <unistd.h>

#include "io_error.hpp"
#include "time_format.hpp"

namespace harness {

std::expected<LogFile, int> LogFile::create(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return std::unexpected(errno);
  return LogFile(fd);
}

LogFile::LogFile(LogFile&& other) noexcept : fd_(other.fd_), error_(other.error_) { other.fd_ = -1; }

LogFile::~LogFile() {
  if (fd_ >= 0) ::close(fd_);
}

void LogFile::write(std::string_view text) {
  if (error_ != 0) return;
  error_ = write_all(fd_, text);
}

std::string render_log_line(const CompletedTest& test) {
  std::string word;
  switch (test.result.kind) {
    case TestResult::Kind::Ok: word = "ok"; break;
    case TestResult::Kind::Failed: word = "failed"; break;
    case TestResult::Kind::FailedWithNote: word = "failed: " + test.result.note; break;
    case TestResult::Kind::Ignored:
      word = test.desc.ignore_message ? fmt::format("ignored: {}", *test.desc.ignore_message) : "ignored";
      break;
    case TestResult::Kind::Bench: word = "bench"; break;
    case TestResult::Kind::TimeLimitExceeded: word = "failed (time limit exceeded)"; break;
  }
  const std::string time = test.exec_time ? fmt::format(" <{}>", render_exec_time(*test.exec_time)) : "";
  return fmt::format("{} {}{}\n", word, test.desc.name, time);
}

}  // namespace harness
