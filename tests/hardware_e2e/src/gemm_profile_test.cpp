#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include <fmt/format.h>
#include <kj/io.h>

#include "catalogue.hpp"
#include "device.hpp"
#include "exit_status.hpp"
#include "gemm_profile.hpp"
#include "harness/src/lib.hpp"
#include "host_runner.hpp"
#include "os_error.hpp"
#include "runner_command.hpp"
#include "zlu-package/src/error.hpp"
#include "zlu-profile/src/check.hpp"

namespace hardware_e2e {

std::string gemm_profile_path(const char* tmpdir, pid_t pid) {
  std::string path = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
  if (path.back() != '/') path += '/';
  path += fmt::format("zlu-stack-gemm-profile-{}.capnp", pid);
  return path;
}

void blocked_gemm_with_cycle_profile_works() {
  auto _device = device();
  const std::string path = gemm_profile_path(std::getenv("TMPDIR"), getpid());

  RunnerCommand command = runner_command(GEMM_RUNNER);
  command.add_env("ZLU_GEMM_DIMENSION", "128");
  command.add_env("ZLU_PROFILE_OUTPUT", path);
  command.add_env("ZLU_GEMM_SRAM_CHECK_BLOCK", "1,1");
  configure_host_write_jitter(command);

  const ExitStatus status = run_or_fail(command, "launch profiled blocked GEMM hardware test runner");
  require_success("blocked GEMM with per-tile cycle profile", status);

  // The runner renames a regular file into place; a link found there was
  // planted by someone else at a predictable name, so it is not followed.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    const int error = errno;
    harness::fail(fmt::format("open cycle profile {}: {}", path, render_os_error(error)));
  }
  auto profile = zlu_package::ProfileReport::read(kj::heap<kj::FdInputStream>(kj::AutoCloseFd(fd)));
  if (!profile) harness::fail(fmt::format("read cycle profile {}: {}", path, profile.error().debug()));

  if (auto message = zlu_profile::check_profile(*profile)) harness::fail(std::move(*message));

  if (unlink(path.c_str()) != 0) {
    const int error = errno;
    harness::fail(fmt::format("remove cycle profile {}: {}", path, render_os_error(error)));
  }
}

}  // namespace hardware_e2e
