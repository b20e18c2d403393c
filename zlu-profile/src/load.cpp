#include "load.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include <capnp/serialize.h>
#include <fmt/format.h>
#include <kj/io.h>

#include "profile.capnp.h"

namespace zlu_profile {
namespace {

// A read-only mapping of a whole file, released with the value. An empty
// file maps to no bytes.
class MappedFile {
public:
  static std::expected<MappedFile, int> open(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      return std::unexpected(errno);
    }
    kj::AutoCloseFd closer(fd);
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
      return std::unexpected(errno);
    }
    if (S_ISDIR(status.st_mode)) {
      return std::unexpected(EISDIR);
    }
    if (!S_ISREG(status.st_mode)) {
      return std::unexpected(EINVAL);
    }
    const auto size = static_cast<std::size_t>(status.st_size);
    if (size == 0) {
      return MappedFile(nullptr, 0);
    }
    void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (data == MAP_FAILED) {
      return std::unexpected(errno);
    }
    return MappedFile(data, size);
  }

  MappedFile(MappedFile&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
  MappedFile& operator=(MappedFile&&) = delete;
  ~MappedFile() {
    if (data_ != nullptr) {
      ::munmap(data_, size_);
    }
  }

  kj::ArrayPtr<const kj::byte> bytes() const { return {static_cast<const kj::byte*>(data_), size_}; }

private:
  MappedFile(void* data, std::size_t size) : data_(data), size_(size) {}

  void* data_;
  std::size_t size_;
};

std::string one_line(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') {
      c = ' ';
    }
  }
  return text;
}

// The version of a message that the package reader has already accepted, so
// the root is known to be sound. Page alignment of the mapping makes the
// bytes word-aligned as the flat reader needs.
std::uint32_t accepted_format_version(const MappedFile& file) {
  const kj::ArrayPtr<const kj::byte> bytes = file.bytes();
  const kj::ArrayPtr<const capnp::word> words(reinterpret_cast<const capnp::word*>(bytes.begin()),
                                              bytes.size() / sizeof(capnp::word));
  capnp::FlatArrayMessageReader message(words, zlu_package::capnp_reader_options());
  return message.getRoot<profile_capnp::Profile>().getSchemaVersion();
}

}  // namespace

std::expected<LoadedProfile, std::string> load_profile(const std::filesystem::path& path) {
  std::expected<MappedFile, int> file = MappedFile::open(path);
  if (!file) {
    return std::unexpected(fmt::format("{}: {}", path.string(), std::strerror(file.error())));
  }
  auto report = zlu_package::ProfileReport::read(kj::heap<kj::ArrayInputStream>(file->bytes()));
  if (!report) {
    return std::unexpected(fmt::format("{}: {}", path.string(), one_line(report.error().debug())));
  }
  return LoadedProfile{.report = std::move(*report), .format_version = accepted_format_version(*file)};
}

}  // namespace zlu_profile
