#include "profile_writer.hpp"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <stdexcept>

#include "zlu-profile/tests/profile_builder.hpp"

namespace {

using Kind = zlu_package::ProfileStepKind;
constexpr std::array<Kind, 4> ALL_KINDS = {Kind::Exchange, Kind::Compute, Kind::Synchronization, Kind::Idle};
constexpr std::array<std::string_view, 4> KIND_NAMES = {"exchange", "compute", "synchronization", "idle"};

struct ProfileChoice {
  bool write = true;
  bool garbage = false;
  bool symlink = false;
  bool fifo = false;
  std::optional<uid_t> owner;
  std::uint32_t tiles = 1472;
  std::uint64_t clock_hz = 1'330'000'000;
  std::uint32_t version = 3;
  bool empty_tile = false;
  bool spread = false;
  std::array<bool, 4> without{};
};

std::optional<std::string> parse_choice(std::string_view choice, ProfileChoice& parsed) {
  while (!choice.empty()) {
    auto comma = choice.find(',');
    std::string_view item = choice.substr(0, comma);
    choice = comma == std::string_view::npos ? std::string_view{} : choice.substr(comma + 1);
    auto number = [&](std::string_view prefix) { return std::strtoull(std::string(item.substr(prefix.size())).c_str(), nullptr, 10); };
    if (item == "none") {
      parsed.write = false;
    } else if (item == "symlink") {
      parsed.symlink = true;
    } else if (item == "fifo") {
      parsed.fifo = true;
    } else if (item.starts_with("owner=")) {
      parsed.owner = static_cast<uid_t>(number("owner="));
    } else if (item == "garbage") {
      parsed.garbage = true;
    } else if (item == "empty-tile") {
      parsed.empty_tile = true;
    } else if (item == "spread") {
      parsed.spread = true;
    } else if (item.starts_with("tiles=")) {
      parsed.tiles = static_cast<std::uint32_t>(number("tiles="));
    } else if (item.starts_with("clock=")) {
      parsed.clock_hz = number("clock=");
    } else if (item.starts_with("version=")) {
      parsed.version = static_cast<std::uint32_t>(number("version="));
    } else if (item.starts_with("without=")) {
      bool known = false;
      for (std::size_t k = 0; k < KIND_NAMES.size(); ++k) {
        if (item.substr(8) == KIND_NAMES[k]) parsed.without[k] = known = true;
      }
      if (!known) return "unknown step kind in " + std::string(item);
    } else {
      return "unknown profile choice " + std::string(item);
    }
  }
  return std::nullopt;
}

// The kinds a tile's samples carry under `choice`.
std::vector<Kind> tile_kinds(const ProfileChoice& choice, std::uint32_t tile) {
  if (choice.empty_tile && tile == 5) return {};
  std::vector<Kind> kinds;
  if (choice.spread) {
    if (tile == 0) return {Kind::Exchange};
    if (tile == 1) return {Kind::Compute, Kind::Synchronization, Kind::Idle};
    return {Kind::Compute};
  }
  for (std::size_t k = 0; k < ALL_KINDS.size(); ++k) {
    if (!choice.without[k]) kinds.push_back(ALL_KINDS[k]);
  }
  return kinds;
}

std::optional<std::string> write_all(int fd, const void* data, std::size_t size) {
  if (write(fd, data, size) != static_cast<ssize_t>(size)) return std::string("write failed: ") + std::strerror(errno);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> write_chosen_profile(const char* path, std::string_view choice_text) {
  ProfileChoice choice;
  if (auto error = parse_choice(choice_text, choice)) return error;
  if (!choice.write) return std::nullopt;

  const std::string target = choice.symlink ? std::string(path) + ".target" : std::string(path);
  if (choice.symlink && ::symlink(target.c_str(), path) != 0) {
    return std::string("cannot link ") + path + ": " + std::strerror(errno);
  }
  if (choice.fifo) {
    if (mkfifo(path, 0600) != 0) return std::string("cannot make a FIFO at ") + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  if (choice.garbage) {
    int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return "cannot create " + target + ": " + std::strerror(errno);
    static constexpr std::string_view not_a_message = "not a cycle profile";
    std::optional<std::string> error = write_all(fd, not_a_message.data(), not_a_message.size());
    close(fd);
    return error;
  }
  zlu_profile::testing::ProfileShape shape{.schema_version = choice.version, .clock_hz = choice.clock_hz, .tiles = {}};
  for (std::uint32_t t = 0; t < choice.tiles; ++t) {
    zlu_profile::testing::TileSpec tile{.physical_tile = t, .samples = {}};
    const auto kinds = tile_kinds(choice, t);
    for (std::uint32_t s = 0; s < kinds.size(); ++s) {
      tile.samples.push_back(
          {.kind = kinds[s], .start_cycle = s * 100, .end_cycle = s * 100 + 50, .operation = "stand-in",
           .kernel = "stand-in", .metadata = {}});
    }
    shape.tiles.push_back(std::move(tile));
  }
  try {
    zlu_profile::testing::write_profile(shape, target);
  } catch (const std::runtime_error& error) {
    return std::string(error.what());
  }
  if (choice.owner && chown(target.c_str(), *choice.owner, static_cast<gid_t>(-1)) != 0) {
    return "cannot give " + target + " to user " + std::to_string(*choice.owner) + ": " + std::strerror(errno);
  }
  return std::nullopt;
}
