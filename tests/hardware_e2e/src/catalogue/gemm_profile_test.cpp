#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>
#include <kj/io.h>

#include "catalogue/catalogue.hpp"
#include "cards/device.hpp"
#include "launch/exit_status.hpp"
#include "catalogue/gemm_profile.hpp"
#include "harness/src/lib.hpp"
#include "launch/host_runner.hpp"
#include "system/os_error.hpp"
#include "launch/runner_command.hpp"
#include "zlu-package/src/error.hpp"
#include "zlu-profile/src/check.hpp"

namespace hardware_e2e {

std::string gemm_profile_path(const char* tmpdir, pid_t pid) {
  std::string path = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
  if (path.back() != '/') path += '/';
  path += fmt::format("zlu-stack-gemm-profile-{}.capnp", pid);
  return path;
}

namespace {

// Removes what an earlier run, or someone else, left at the predictable
// path, so that the file read after the launch can only be the runner's.
void remove_stale_profile(const std::string& path) {
  if (unlink(path.c_str()) == 0 || errno == ENOENT) return;
  const int error = errno;
  harness::fail(fmt::format("remove stale cycle profile {}: {}", path, render_os_error(error)));
}

// Opens the profile the runner wrote. The runner renames a regular file of
// this user into place; anything else was planted at the predictable name
// and is refused without waiting on it: a link is not followed, a FIFO or a
// device is opened without blocking and then rejected, and so is a file of
// another user.
kj::AutoCloseFd open_written_profile(const std::string& path) {
  kj::AutoCloseFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  struct stat status {};
  if (fd.get() < 0 || fstat(fd.get(), &status) != 0) {
    const int error = errno;
    harness::fail(fmt::format("open cycle profile {}: {}", path, render_os_error(error)));
  }
  if (!S_ISREG(status.st_mode)) harness::fail(fmt::format("open cycle profile {}: not a regular file", path));
  if (status.st_uid != geteuid()) {
    harness::fail(fmt::format("open cycle profile {}: owned by user {}, not by the suite's user {}", path,
                              status.st_uid, geteuid()));
  }
  const int flags = fcntl(fd.get(), F_GETFL);
  if (flags < 0 || fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    const int error = errno;
    harness::fail(fmt::format("open cycle profile {}: {}", path, render_os_error(error)));
  }
  return fd;
}

}  // namespace

void blocked_gemm_with_cycle_profile_works() {
  auto card = device();
  const std::string path = gemm_profile_path(std::getenv("TMPDIR"), getpid());
  remove_stale_profile(path);

  RunnerCommand command = runner_command(GEMM_RUNNER, card);
  command.add_env(zlu_contract::GEMM_DIMENSION, "128");
  command.add_env(zlu_contract::PROFILE_OUTPUT, path);
  command.add_env(zlu_contract::GEMM_SRAM_CHECK_BLOCK, "1,1");
  configure_host_write_jitter(command);

  const ExitStatus status = run_or_fail(command, "launch profiled blocked GEMM hardware test runner");
  require_success("blocked GEMM with per-tile cycle profile", status);

  auto profile = zlu_package::ProfileReport::read(kj::heap<kj::FdInputStream>(open_written_profile(path)));
  if (!profile) harness::fail(fmt::format("read cycle profile {}: {}", path, profile.error().debug()));

  // The profile stays where it is for a look with zlu-profile. Its path goes
  // to the test's own output, shown above the failure, so that the check's
  // message keeps its exact text.
  if (auto message = zlu_profile::check_profile(*profile)) {
    harness::eprint(fmt::format("cycle profile left for inspection at {}\n", path));
    harness::fail(std::move(*message));
  }
  harness::attach(cycle_summary(*profile));

  if (unlink(path.c_str()) != 0) {
    const int error = errno;
    harness::fail(fmt::format("remove cycle profile {}: {}", path, render_os_error(error)));
  }
}

}  // namespace hardware_e2e
