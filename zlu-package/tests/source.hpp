// Test sources for the profile reader: owned in-memory streams that record
// how far they were read and when they were released, and functions that
// frame built messages and read them back.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <expected>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include <capnp/message.h>
#include <capnp/serialize.h>
#include <kj/io.h>
#include <kj/memory.h>

#include "lib.hpp"
#include "profile.capnp.h"

namespace zlu_package::testing {

struct SourceLog {
  // What a `RecordingSource` saw; outlives the source itself.
  std::size_t bytes_read = 0;
  bool released = false;
};

class RecordingSource final : public kj::InputStream {
  // An in-memory stream that owns its bytes, counts what is read from it and
  // notes its destruction in a log the test keeps.
 public:
  RecordingSource(std::vector<kj::byte> bytes, SourceLog& log) : bytes_(std::move(bytes)), log_(log) {}
  ~RecordingSource() override { log_.released = true; }

  size_t tryRead(void* buffer, size_t min_bytes, size_t max_bytes) override {
    (void)min_bytes;
    const std::size_t n = std::min(max_bytes, bytes_.size() - log_.bytes_read);
    if (n > 0) std::memcpy(buffer, bytes_.data() + log_.bytes_read, n);
    log_.bytes_read += n;
    return n;
  }

 private:
  std::vector<kj::byte> bytes_;
  SourceLog& log_;
};

inline std::vector<kj::byte> to_bytes(capnp::MessageBuilder& message) {
  kj::VectorOutputStream output;
  capnp::writeMessage(output, message);
  auto written = output.getArray();
  return {written.begin(), written.end()};
}

// Little-endian 32-bit words, for hand-made framing and segments.
inline std::vector<kj::byte> words32(std::initializer_list<std::uint32_t> values) {
  std::vector<kj::byte> bytes;
  for (std::uint32_t value : values) {
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<kj::byte>(value >> shift));
  }
  return bytes;
}

inline std::expected<ProfileReport, PackageError> read_bytes(std::vector<kj::byte> bytes) {
  SourceLog log;
  return ProfileReport::read(kj::heap<RecordingSource>(std::move(bytes), log));
}

inline std::expected<ProfileReport, PackageError> read_message(capnp::MessageBuilder& message) {
  return read_bytes(to_bytes(message));
}

}  // namespace zlu_package::testing
