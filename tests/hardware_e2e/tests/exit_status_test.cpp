#include <gtest/gtest.h>

#include "launch/exit_status.hpp"
#include "harness/src/run/failure.hpp"
#include "system/os_error.hpp"

#include <cerrno>

namespace hardware_e2e {
namespace {

// Wait statuses as the kernel encodes them: exit code in bits 8 to 15,
// signal in bits 0 to 6, core flag 0x80.
ExitStatus waited(int wait_status) {
  ExitStatus status;
  status.wait_status = wait_status;
  return status;
}
ExitStatus exited(int code) { return waited(code << 8); }
ExitStatus killed(int signal, bool core = false) { return waited(signal | (core ? 0x80 : 0)); }

TEST(ExitStatus, RendersEveryKindOfEnding) {
  EXPECT_EQ(render_exit_status(exited(1)), "exit status: 1");
  EXPECT_EQ(render_exit_status(exited(255)), "exit status: 255");
  EXPECT_EQ(render_exit_status(killed(9)), "signal: 9 (SIGKILL)");
  EXPECT_EQ(render_exit_status(killed(11, true)), "signal: 11 (SIGSEGV) (core dumped)");
  EXPECT_EQ(render_exit_status(killed(34)), "signal: 34");
  EXPECT_EQ(render_exit_status(killed(31)), "signal: 31 (SIGSYS)");
  EXPECT_EQ(render_exit_status(killed(1)), "signal: 1 (SIGHUP)");
}

TEST(RequireSuccess, FailsWithTheCapabilityAndTheStatus) {
  EXPECT_NO_THROW(require_success("single-source multicast graph", exited(0)));
  try {
    require_success("all-tile reduction graph", killed(9));
    FAIL() << "a killed runner passed";
  } catch (const harness::TestFailure& failure) {
    EXPECT_EQ(failure.message(), "hardware capability \"all-tile reduction graph\" failed with signal: 9 (SIGKILL)");
  }
  try {
    require_success("a\"b\\c\n", exited(2));
    FAIL() << "a failed runner passed";
  } catch (const harness::TestFailure& failure) {
    EXPECT_EQ(failure.message(), "hardware capability \"a\\\"b\\\\c\\n\" failed with exit status: 2");
  }
}

TEST(OsError, NamesMessageNumberAndKind) {
  EXPECT_EQ(render_os_error(ENOENT), "No such file or directory (os error 2, kind NotFound)");
  EXPECT_EQ(render_os_error(EACCES), "Permission denied (os error 13, kind PermissionDenied)");
  EXPECT_EQ(os_error_kind(EHOSTDOWN), "Uncategorized");
}

}  // namespace
}  // namespace hardware_e2e
