#include "launch/runner_profile.hpp"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>
#include <kj/io.h>

#include "system/os_error.hpp"
#include "zlu-package/src/error.hpp"
#include "zlu-profile/src/summary.hpp"

namespace hardware_e2e {
namespace {

// The run's profile folder: made once, by whichever runner start comes first.
std::mutex folder_mutex;
std::string folder;
std::atomic<unsigned> profiles_named{0};

std::expected<std::string, int> profile_folder() {
  const std::lock_guard lock(folder_mutex);
  if (!folder.empty()) return folder;
  const char* tmpdir = std::getenv("TMPDIR");
  std::string pattern = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
  if (pattern.back() != '/') pattern += '/';
  pattern += "zlu-cycles-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return std::unexpected(errno);
  folder = std::move(pattern);
  return folder;
}

std::expected<harness::CycleSummary, std::string> read_summary(const std::string& path) {
  kj::AutoCloseFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  struct stat status {};
  if (fd.get() < 0 || fstat(fd.get(), &status) != 0) return std::unexpected(render_os_error(errno));
  if (!S_ISREG(status.st_mode)) return std::unexpected(std::string("not a regular file"));
  const int flags = fcntl(fd.get(), F_GETFL);
  if (flags < 0 || fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return std::unexpected(render_os_error(errno));
  auto profile = zlu_package::ProfileReport::read(kj::heap<kj::FdInputStream>(kj::mv(fd)));
  if (!profile) return std::unexpected(profile.error().debug());
  return cycle_summary(*profile);
}

}  // namespace

harness::CycleSummary cycle_summary(const zlu_package::ProfileReport& profile) {
  const zlu_profile::Summary summary = zlu_profile::summarize(profile, 0, "");
  harness::CycleSummary cycles{.cycles_by_kind = summary.statistics.kind_cycles,
                               .span = summary.statistics.span_cycles(),
                               .card = std::string(card_kind())};
  if (!summary.busiest.empty()) {
    // A profile of the card names only its tiles.
    cycles.busiest_tile = static_cast<std::uint16_t>(summary.busiest.front().physical_tile);
    cycles.busiest_tile_cycles = summary.busiest.front().busy_cycles;
  }
  return cycles;
}

std::expected<std::optional<std::string>, int> next_profile_path() {
  if (!harness::cycle_summaries_wanted()) return std::nullopt;
  auto made = profile_folder();
  if (!made) return std::unexpected(made.error());
  return fmt::format("{}/profile-{}.capnp", *made, profiles_named.fetch_add(1) + 1);
}

void collect_profile(const std::string& path, const ExitStatus& status) {
  if (status.success()) {
    if (access(path.c_str(), F_OK) == 0 || errno != ENOENT) {
      auto summary = read_summary(path);
      if (summary) {
        harness::add_cycle_summary(*summary);
      } else {
        harness::eprint(fmt::format("cycle profile {} not read: {}\n", path, summary.error()));
      }
    }
  }
  unlink(path.c_str());
}

void remove_profile_folder() {
  const std::lock_guard lock(folder_mutex);
  if (folder.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  folder.clear();
}

}  // namespace hardware_e2e
