#include "profile_writer.hpp"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <capnp/message.h>
#include <capnp/serialize.h>
#include <fmt/format.h>
#include <kj/exception.h>

#include "profile.capnp.h"

namespace zlu_card {
namespace {

profile_capnp::StepKind wire_kind(StepKind kind) {
  switch (kind) {
    case StepKind::Exchange:
      return profile_capnp::StepKind::EXCHANGE;
    case StepKind::Compute:
      return profile_capnp::StepKind::COMPUTE;
    case StepKind::Synchronization:
      return profile_capnp::StepKind::SYNCHRONIZATION;
    case StepKind::Idle:
      return profile_capnp::StepKind::IDLE;
  }
  return profile_capnp::StepKind::IDLE;
}

// A segment table that announces one segment of 65536 words, followed by far
// fewer bytes: a reader of the stream framing runs out of data.
std::vector<std::byte> garbage_bytes() {
  std::vector<std::byte> bytes(8, std::byte{0});
  bytes[6] = std::byte{1};
  for (const char c : std::string_view("not a cycle profile\n")) bytes.push_back(static_cast<std::byte>(c));
  return bytes;
}

bool kept(const StepRecord& step, const ProfileFaults& faults) {
  return !faults.without_kind || step.kind != *faults.without_kind;
}

std::expected<void, ProfileWriteError> fill_samples(capnp::List<profile_capnp::CycleSample>::Builder samples,
                                                    const std::vector<StepRecord>& steps, std::uint16_t physical,
                                                    const ProfileFaults& faults) {
  constexpr std::uint64_t cycle_limit = std::numeric_limits<std::uint32_t>::max();
  unsigned index = 0;
  for (const StepRecord& step : steps) {
    if (!kept(step, faults)) continue;
    if (step.end_cycle > cycle_limit) {
      return std::unexpected(
          ProfileWriteError{fmt::format("tile {} step {} ends at cycle {}, past the profile's 32-bit cycle counter",
                                        physical, step.local_index, step.end_cycle)});
    }
    auto sample = samples[index++];
    sample.setStartCycle(static_cast<std::uint32_t>(step.start_cycle));
    sample.setEndCycle(static_cast<std::uint32_t>(step.end_cycle));
    auto wire = sample.initStep();
    wire.setLocalIndex(step.local_index);
    wire.setPhase(step.phase);
    wire.setEpoch(step.epoch);
    wire.setOperation(step.operation);
    wire.setKind(wire_kind(step.kind));
    wire.setKernel(step.kernel);
    auto metadata = wire.initMetadata(static_cast<unsigned>(step.metadata.size()));
    for (unsigned m = 0; m < step.metadata.size(); ++m) {
      metadata[m].setName(step.metadata[m].name);
      metadata[m].setValue(step.metadata[m].value);
    }
  }
  return {};
}

std::expected<std::vector<std::byte>, ProfileWriteError> build_message(const Card& card, const ProfileFaults& faults) {
  const std::uint32_t tile_count = card.tile_count();
  const std::uint32_t written = faults.tile_limit ? std::min(*faults.tile_limit, tile_count) : tile_count;

  // A first segment large enough for a typical run keeps the message in one
  // segment and spares the builder repeated growth.
  capnp::MallocMessageBuilder message(1u << 18);
  auto profile = message.initRoot<profile_capnp::Profile>();
  profile.setSchemaVersion(faults.version.value_or(PROFILE_SCHEMA_VERSION));
  profile.setClockHz(faults.zero_clock ? 0 : card.clock_hz());
  auto tiles = profile.initTiles(written);
  for (std::uint32_t p = 0; p < written; ++p) {
    const auto physical = static_cast<std::uint16_t>(p);
    const std::vector<StepRecord>& steps = card.steps(physical);
    const bool emptied = faults.empty_tile && p + 1 == written;
    const auto count =
        emptied ? 0
                : std::count_if(steps.begin(), steps.end(), [&](const StepRecord& step) { return kept(step, faults); });
    auto tile = tiles[p];
    tile.setPhysicalTile(p);
    auto samples = tile.initSamples(static_cast<unsigned>(count));
    if (emptied) continue;
    if (auto filled = fill_samples(samples, steps, physical, faults); !filled) return std::unexpected(filled.error());
  }

  const kj::Array<capnp::word> words = capnp::messageToFlatArray(message);
  const kj::ArrayPtr<const kj::byte> bytes = words.asBytes();
  const auto* first = reinterpret_cast<const std::byte*>(bytes.begin());
  return std::vector<std::byte>(first, first + bytes.size());
}

class FileDescriptor {
  // Closes a descriptor on every path out of replace_file.
public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  // Closes now and returns close's result, which can carry a late write error.
  int close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

private:
  int fd_;
};

ProfileWriteError os_error(std::string_view operation, const std::filesystem::path& path, int error) {
  return ProfileWriteError{fmt::format("{} {}: {}", operation, path.string(), std::strerror(error))};
}

std::expected<void, ProfileWriteError> write_all(int fd, std::span<const std::byte> bytes,
                                                 const std::filesystem::path& path) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(os_error("write", path, errno));
    }
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return {};
}

// Creates a new file beside `target` that no one else can have opened: a
// name of its own and O_EXCL, so an existing file or link is never reused.
std::expected<std::pair<FileDescriptor, std::filesystem::path>, ProfileWriteError> create_beside(
    const std::filesystem::path& target) {
  static std::atomic<unsigned> serial{0};
  const std::filesystem::path directory = target.parent_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate =
        directory / fmt::format(".{}.{}-{}.tmp", target.filename().string(), ::getpid(), serial++);
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) return std::pair{FileDescriptor(fd), candidate};
    if (errno != EEXIST) return std::unexpected(os_error("create", candidate, errno));
  }
  return std::unexpected(
      ProfileWriteError{fmt::format("create a new file beside {}: every name tried exists", target.string())});
}

}  // namespace

std::expected<std::vector<std::byte>, ProfileWriteError> encode_profile(const Card& card, const ProfileFaults& faults) {
  if (faults.garbage) return garbage_bytes();
  try {
    return build_message(card, faults);
  } catch (const kj::Exception& exception) {
    return std::unexpected(ProfileWriteError{fmt::format("encode profile: {}", exception.getDescription().cStr())});
  }
}

std::expected<void, ProfileWriteError> write_profile(const Card& card, const std::filesystem::path& target,
                                                     const ProfileFaults& faults) {
  if (faults.skip_file) return {};
  auto bytes = encode_profile(card, faults);
  if (!bytes) return std::unexpected(bytes.error());
  return replace_file(target, *bytes);
}

std::expected<void, ProfileWriteError> replace_file(const std::filesystem::path& target,
                                                    std::span<const std::byte> bytes) {
  if (target.filename().empty()) {
    return std::unexpected(ProfileWriteError{fmt::format("profile path {} names no file", target.string())});
  }
  auto created = create_beside(target);
  if (!created) return std::unexpected(created.error());
  auto& [file, temporary] = *created;

  const auto fail = [&](ProfileWriteError error) -> std::expected<void, ProfileWriteError> {
    ::unlink(temporary.c_str());
    return std::unexpected(std::move(error));
  };
  // The mode is set outright: the process umask must not narrow it.
  if (::fchmod(file.get(), 0644) != 0) return fail(os_error("set the mode of", temporary, errno));
  if (auto written = write_all(file.get(), bytes, temporary); !written) return fail(written.error());
  if (::fsync(file.get()) != 0) return fail(os_error("flush", temporary, errno));
  if (file.close() != 0) return fail(os_error("close", temporary, errno));
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    return fail(os_error(fmt::format("rename {} to", temporary.string()), target, errno));
  }
  return {};
}

}  // namespace zlu_card
