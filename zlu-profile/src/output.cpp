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

}  // namespace

std::expected<void, std::string> write_output(const std::filesystem::path& path,
                                              const std::function<void(std::ostream&)>& write) {
  if (path == "-") {
    write(std::cout);
    std::cout.flush();
    if (!std::cout) {
      return std::unexpected(std::string{"standard output: write failed"});
    }
    return {};
  }
  // noreplace opens exclusively, so a file or link planted at the temporary
  // name is never written through.
  std::filesystem::path temporary;
  std::ofstream out;
  for (unsigned attempt = 0; attempt < 100 && !out.is_open(); ++attempt) {
    temporary = temporary_beside(path, attempt);
    errno = 0;
    out.open(temporary, std::ios::out | std::ios::binary | std::ios::noreplace);
    if (!out.is_open() && errno != EEXIST) {
      break;
    }
  }
  if (!out.is_open()) {
    return std::unexpected(fmt::format("{}: {}", path.string(), std::strerror(errno != 0 ? errno : EEXIST)));
  }
  write(out);
  out.flush();
  const bool written = static_cast<bool>(out);
  const int write_errno = errno;
  out.close();
  std::error_code error;
  if (!written || out.fail()) {
    std::filesystem::remove(temporary, error);
    return std::unexpected(fmt::format("{}: write failed: {}", path.string(), std::strerror(write_errno)));
  }
  std::filesystem::rename(temporary, path, error);
  if (error) {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    return std::unexpected(fmt::format("{}: {}", path.string(), error.message()));
  }
  return {};
}

}  // namespace zlu_profile
