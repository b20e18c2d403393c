#include "framing.hpp"

#include <algorithm>
#include <new>

#include <kj/debug.h>

namespace zlu_package {

namespace {

// The library refuses messages with more segments than this; so do we.
constexpr std::uint64_t kMaxSegments = 512;

// The buffer starts at this many words and doubles as data arrives.
constexpr std::size_t kFirstChunkWords = 8 * 1024;

std::uint32_t little_endian(const kj::byte* bytes) {
  return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
         std::uint32_t{bytes[3]} << 24;
}

}  // namespace

FramedMessage read_framed_message(kj::InputStream& source) {
  kj::byte first[8];
  source.read(first, sizeof first);
  const std::uint64_t segment_count = std::uint64_t{little_endian(first)} + 1;
  KJ_REQUIRE(segment_count < kMaxSegments, "Message has too many segments.", segment_count);

  std::vector<std::uint64_t> sizes{little_endian(first + 4)};
  if (segment_count > 1) {
    // The table is padded to a whole word: with an even segment count one
    // unused entry follows the last size.
    std::vector<kj::byte> rest((segment_count & ~std::uint64_t{1}) * 4);
    source.read(rest.data(), rest.size());
    for (std::uint64_t i = 0; i + 1 < segment_count; ++i) sizes.push_back(little_endian(&rest[i * 4]));
  }
  std::uint64_t total_words = 0;
  for (std::uint64_t size : sizes) total_words += size;

  FramedMessage message;
  std::size_t capacity = 0;
  std::size_t filled = 0;
  while (filled < total_words) {
    if (filled == capacity) {
      capacity = std::min<std::uint64_t>(total_words, std::max(kFirstChunkWords, capacity * 2));
      void* grown = std::realloc(message.words.get(), capacity * sizeof(capnp::word));
      if (grown == nullptr) throw std::bad_alloc();
      message.words.release();
      message.words.reset(static_cast<capnp::word*>(grown));
    }
    source.read(message.words.get() + filled, (capacity - filled) * sizeof(capnp::word));
    filled = capacity;
  }

  std::size_t offset = 0;
  for (std::uint64_t size : sizes) {
    message.segments.emplace_back(message.words.get() + offset, size);
    offset += size;
  }
  return message;
}

}  // namespace zlu_package
