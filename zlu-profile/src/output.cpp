#include "output.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <random>
#include <system_error>

#include <fmt/format.h>

namespace zlu_profile {
namespace {

std::filesystem::path temporary_beside(const std::filesystem::path& path, unsigned attempt) {
  std::filesystem::path temporary = path;
  temporary += fmt::format(".tmp-{}-{}", ::getpid(), attempt);
  return temporary;
}

// As many links as the system follows in one path.
constexpr int MAX_LINK_HOPS = 40;

// Devices and pipes cannot be replaced, only written.
std::expected<void, std::string> write_in_place(std::ostream& out, const std::string& name,
                                                const std::function<void(std::ostream&)>& write) {
  if (out) {
    write(out);
    out.flush();
  }
  if (!out) {
    return std::unexpected(fmt::format("{}: write failed: {}", name, std::strerror(errno)));
  }
  return {};
}

std::expected<void, std::string> replace_file(const std::filesystem::path& destination, const std::string& name,
                                              const std::function<void(std::ostream&)>& write) {
  // noreplace opens exclusively, so a file or link planted at the temporary
  // name is never written through.
  std::filesystem::path temporary;
  std::ofstream out;
  for (unsigned attempt = 0; attempt < 100 && !out.is_open(); ++attempt) {
    temporary = temporary_beside(destination, attempt);
    errno = 0;
    out.open(temporary, std::ios::out | std::ios::binary | std::ios::noreplace);
    if (!out.is_open() && errno != EEXIST) {
      break;
    }
  }
  if (!out.is_open()) {
    return std::unexpected(fmt::format("{}: {}", name, std::strerror(errno != 0 ? errno : EEXIST)));
  }
  write(out);
  out.flush();
  const bool written = static_cast<bool>(out);
  const int write_errno = errno;
  out.close();
  std::error_code error;
  if (!written || out.fail()) {
    std::filesystem::remove(temporary, error);
    return std::unexpected(fmt::format("{}: write failed: {}", name, std::strerror(write_errno)));
  }
  std::filesystem::rename(temporary, destination, error);
  if (error) {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    return std::unexpected(fmt::format("{}: {}", name, error.message()));
  }
  return {};
}

}  // namespace

std::expected<void, std::string> write_output(const std::filesystem::path& path,
                                              const std::function<void(std::ostream&)>& write) {
  if (path == "-") {
    return write_in_place(std::cout, "standard output", write);
  }
  const std::string name = path.string();
  std::error_code status_error;
  const std::filesystem::file_status target = std::filesystem::status(path, status_error);
  if (std::filesystem::is_character_file(target) || std::filesystem::is_fifo(target)) {
    std::ofstream device(path, std::ios::out | std::ios::binary);
    return write_in_place(device, name, write);
  }
  if (std::filesystem::is_directory(target)) {
    return std::unexpected(fmt::format("{}: {}", name, std::strerror(EISDIR)));
  }
  if (std::filesystem::exists(target) && !std::filesystem::is_regular_file(target)) {
    return std::unexpected(fmt::format("{}: not a regular file, a device or a pipe", name));
  }
  // Through a link the file it names is replaced, never the link: a link
  // such as /dev/stdout must stay what it is. A link may dangle: its target
  // is then created.
  std::filesystem::path destination = path;
  for (int hop = 0; std::filesystem::is_symlink(std::filesystem::symlink_status(destination, status_error)); ++hop) {
    const std::filesystem::path target_path = std::filesystem::read_symlink(destination, status_error);
    if (status_error || hop == MAX_LINK_HOPS) {
      return std::unexpected(fmt::format("{}: {}", name, status_error ? status_error.message() : std::strerror(ELOOP)));
    }
    destination = target_path.is_absolute() ? target_path : destination.parent_path() / target_path;
  }
  return replace_file(destination, name, write);
}

}  // namespace zlu_profile
