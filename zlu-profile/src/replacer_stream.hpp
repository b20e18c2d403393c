// An output stream onto a file being replaced, so that a large view goes to
// its file as it is made instead of being held whole first.
#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <ostream>
#include <streambuf>
#include <vector>

#include "zlu-base/src/atomic_file.hpp"

namespace zlu_profile {

class ReplacerStream : public std::ostream {
  // Writes what is streamed into it to `replacer` in large pieces. The first
  // failed write ends the stream: it goes bad, whatever is streamed after it
  // is dropped, and `finish` returns the failure. The replacer is neither
  // committed nor dropped here: that stays with its owner.
 public:
  explicit ReplacerStream(zlu_base::FileReplacer& replacer);
  ReplacerStream(const ReplacerStream&) = delete;
  ReplacerStream& operator=(const ReplacerStream&) = delete;

  std::expected<void, zlu_base::FileError> finish();
  // Writes what is still buffered; the first failure of any write, if one
  // failed.

 private:
  class Buffer : public std::streambuf {
   public:
    explicit Buffer(zlu_base::FileReplacer& replacer);

    bool drain();
    // Writes the buffered bytes; false once any write has failed.

    std::optional<zlu_base::FileError> failure;

   protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* bytes, std::streamsize count) override;
    int sync() override;

   private:
    bool write(const char* bytes, std::size_t count);

    zlu_base::FileReplacer& replacer_;
    std::vector<char> bytes_ = std::vector<char>(256 * 1024);
  };

  Buffer buffer_;
};

}  // namespace zlu_profile
