#include "replacer_stream.hpp"

#include <string_view>

namespace zlu_profile {
namespace {

// Pieces from this size on are written without passing through the buffer.
constexpr std::size_t kDirectBytes = 16 * 1024;

}  // namespace

ReplacerStream::Buffer::Buffer(zlu_base::FileReplacer& replacer) : replacer_(replacer) {
  setp(bytes_.data(), bytes_.data() + bytes_.size());
}

bool ReplacerStream::Buffer::write(const char* bytes, std::size_t count) {
  if (failure) return false;
  if (auto written = replacer_.write(std::string_view(bytes, count)); !written) {
    failure = written.error();
    return false;
  }
  return true;
}

bool ReplacerStream::Buffer::drain() {
  const bool written = write(pbase(), static_cast<std::size_t>(pptr() - pbase()));
  setp(bytes_.data(), bytes_.data() + bytes_.size());
  return written;
}

ReplacerStream::Buffer::int_type ReplacerStream::Buffer::overflow(int_type c) {
  if (!drain()) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

std::streamsize ReplacerStream::Buffer::xsputn(const char* bytes, std::streamsize count) {
  // Small pieces are gathered; a large one, or one larger than what is
  // left, goes out at once after what the buffer holds, without a copy.
  const auto size = static_cast<std::size_t>(count);
  if (size < kDirectBytes && size <= static_cast<std::size_t>(epptr() - pptr())) {
    traits_type::copy(pptr(), bytes, size);
    pbump(static_cast<int>(count));
    return count;
  }
  if (!drain() || !write(bytes, size)) return 0;
  return count;
}

int ReplacerStream::Buffer::sync() { return drain() ? 0 : -1; }

ReplacerStream::ReplacerStream(zlu_base::FileReplacer& replacer) : std::ostream(nullptr), buffer_(replacer) {
  rdbuf(&buffer_);
}

std::expected<void, zlu_base::FileError> ReplacerStream::finish() {
  buffer_.drain();
  if (buffer_.failure) return std::unexpected(*buffer_.failure);
  return {};
}

}  // namespace zlu_profile
