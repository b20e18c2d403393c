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

// An open profile file and a read-only mapping of it, both released with
// the value. The mapping is only for the few words of the root that the
// model does not keep; the reader gets its own descriptor of the same open
// file, so the bytes are read once and the mapping's pages stay untouched.
class ProfileFile {
public:
  static std::expected<ProfileFile, int> open(const std::filesystem::path& path) {
    kj::AutoCloseFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
      return std::unexpected(errno);
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
      return std::unexpected(errno);
    }
    if (S_ISDIR(status.st_mode)) {
      return std::unexpected(EISDIR);
    }
    if (!S_ISREG(status.st_mode)) {
      return std::unexpected(EINVAL);
    }
    const auto size = static_cast<std::size_t>(status.st_size);
    void* data = nullptr;
    if (size > 0) {
      data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd.get(), 0);
      if (data == MAP_FAILED) {
        return std::unexpected(errno);
      }
    }
    return ProfileFile(kj::mv(fd), data, size);
  }

  ProfileFile(ProfileFile&& other) noexcept
      : fd_(kj::mv(other.fd_)), data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
  ProfileFile& operator=(ProfileFile&&) = delete;
  ~ProfileFile() {
    if (data_ != nullptr) {
      ::munmap(data_, size_);
    }
  }

  // A stream over the file from its start, for the reader to take over.
  std::expected<kj::Own<kj::InputStream>, int> stream() const {
    kj::AutoCloseFd copy(::fcntl(fd_.get(), F_DUPFD_CLOEXEC, 0));
    if (copy.get() < 0) {
      return std::unexpected(errno);
    }
    return kj::Own<kj::InputStream>(kj::heap<kj::FdInputStream>(kj::mv(copy)));
  }

  kj::ArrayPtr<const kj::byte> bytes() const { return {static_cast<const kj::byte*>(data_), size_}; }

private:
  ProfileFile(kj::AutoCloseFd fd, void* data, std::size_t size) : fd_(kj::mv(fd)), data_(data), size_(size) {}

  kj::AutoCloseFd fd_;
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
std::uint32_t accepted_format_version(const ProfileFile& file) {
  const kj::ArrayPtr<const kj::byte> bytes = file.bytes();
  const kj::ArrayPtr<const capnp::word> words(reinterpret_cast<const capnp::word*>(bytes.begin()),
                                              bytes.size() / sizeof(capnp::word));
  capnp::FlatArrayMessageReader message(words, zlu_package::capnp_reader_options());
  return message.getRoot<profile_capnp::Profile>().getSchemaVersion();
}

}  // namespace

std::expected<LoadedProfile, std::string> load_profile(const std::filesystem::path& path) {
  const auto system_error = [&path](int error) {
    return std::unexpected(fmt::format("{}: {}", path.string(), std::strerror(error)));
  };
  std::expected<ProfileFile, int> file = ProfileFile::open(path);
  if (!file) {
    return system_error(file.error());
  }
  auto stream = file->stream();
  if (!stream) {
    return system_error(stream.error());
  }
  auto report = zlu_package::ProfileReport::read(kj::mv(*stream));
  if (!report) {
    return std::unexpected(fmt::format("{}: {}", path.string(), one_line(report.error().debug())));
  }
  return LoadedProfile{.report = std::move(*report), .format_version = accepted_format_version(*file)};
}

}  // namespace zlu_profile
