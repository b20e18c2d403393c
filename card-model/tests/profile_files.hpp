// Test support for code that writes profile files: a scratch directory and
// reading files back, shared by the profile writer's and the GEMM runner's
// tests.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <expected>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include <kj/io.h>

#include "zlu-package/src/lib.hpp"

namespace zlu_card::testing {

class ScratchDirectory {
  // A fresh directory under the system's temporary directory, removed with
  // everything in it when the value goes.
public:
  ScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zlu-profile-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a scratch directory");
    path_ = pattern;
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  ~ScratchDirectory() { std::filesystem::remove_all(path_); }

  const std::filesystem::path& path() const { return path_; }

private:
  std::filesystem::path path_;
};

inline std::string contents(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Reads the profile at `path` with the reader the hardware tests use.
inline std::expected<zlu_package::ProfileReport, zlu_package::PackageError> read_profile_file(
    const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path.string());
  return zlu_package::ProfileReport::read(kj::heap<kj::FdInputStream>(kj::AutoCloseFd(fd)));
}

}  // namespace zlu_card::testing
