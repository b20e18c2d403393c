// Fuzz target of the profile reader: any byte sequence must come back as a
// report or a PackageError, the same on every read, with the source
// released, and without the read ever holding more heap than fourteen times
// the input's size plus a fixed allowance.
#include <sanitizer/allocator_interface.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <kj/array.h>
#include <kj/io.h>

#include "lib.hpp"

namespace {

// The most heap one read may hold per input byte (the message itself and
// the model copied from it: up to ten times it in list elements, since a
// sample of one word becomes an 80-byte model sample, and three times it in
// texts and empty elements), and a fixed allowance for what any read needs
// (the reader's tables, error texts).
constexpr std::size_t kBytesPerInputByte = 14;
constexpr std::size_t kAllowanceBytes = 256 * 1024;

struct HeapMeter {
  bool active = false;
  std::size_t live = 0;
  std::size_t peak = 0;
  // Blocks made before the read, whose release must not count against it.
  const void* foreign[2] = {nullptr, nullptr};
};

HeapMeter meter;

void on_malloc(const volatile void*, std::size_t size) {
  if (!meter.active) return;
  meter.live += size;
  if (meter.live > meter.peak) meter.peak = meter.live;
}

void on_free(const volatile void* memory) {
  if (!meter.active || memory == nullptr) return;
  for (const void* block : meter.foreign) {
    if (block == const_cast<const void*>(memory)) return;
  }
  const std::size_t size = __sanitizer_get_allocated_size(const_cast<const void*>(memory));
  meter.live = size > meter.live ? 0 : meter.live - size;
}

class OwnedBytes final : public kj::InputStream {
  // The input copied into a stream that owns it, as an opened file would be.
 public:
  OwnedBytes(const std::uint8_t* data, std::size_t size, bool& released)
      : bytes_(kj::heapArray<kj::byte>(data, size)), stream_(bytes_), released_(released) {}
  ~OwnedBytes() override { released_ = true; }

  const void* bytes() const { return bytes_.begin(); }

  size_t tryRead(void* buffer, size_t min_bytes, size_t max_bytes) override {
    return stream_.tryRead(buffer, min_bytes, max_bytes);
  }

 private:
  kj::Array<kj::byte> bytes_;
  kj::ArrayInputStream stream_;
  bool& released_;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  __sanitizer_install_malloc_and_free_hooks(on_malloc, on_free);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  bool released = false;
  auto source = kj::heap<OwnedBytes>(data, size, released);
  meter = HeapMeter{true, 0, 0, {source.get(), source->bytes()}};
  auto report = zlu_package::ProfileReport::read(kj::mv(source));
  meter.active = false;

  if (!released) {
    std::fprintf(stderr, "the source was not released by read\n");
    std::abort();
  }
  if (meter.peak > kBytesPerInputByte * size + kAllowanceBytes) {
    std::fprintf(stderr, "read held %zu heap bytes for an input of %zu bytes\n", meter.peak, size);
    std::abort();
  }
  if (!report.has_value() && report.error().debug().empty()) {
    std::fprintf(stderr, "an error without a debug form\n");
    std::abort();
  }

  // The reader keeps no state, so a second read of the same bytes must
  // give the same outcome; a difference means it looked at memory it had
  // not read from the input.
  bool released_again = false;
  auto again = zlu_package::ProfileReport::read(kj::heap<OwnedBytes>(data, size, released_again));
  const bool same = report.has_value() ? again.has_value() && *again == *report
                                       : !again.has_value() && again.error().debug() == report.error().debug();
  if (!same) {
    std::fprintf(stderr, "two reads of the same input differ\n");
    std::abort();
  }
  return 0;
}
