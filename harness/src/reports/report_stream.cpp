#include "reports/report_stream.hpp"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace harness {

std::expected<int, int> claim_report_stream(OutputFormat format) {
  if (format != OutputFormat::Json && format != OutputFormat::Junit) return 1;
  const int report = ::fcntl(1, F_DUPFD_CLOEXEC, 3);
  if (report < 0) return std::unexpected(errno);
  if (::dup2(2, 1) < 0) {
    const int error = errno;
    ::close(report);
    return std::unexpected(error);
  }
  return report;
}

}  // namespace harness
