// UTF-8 as this project reads it: one decoder of sequences, and on it the
// strict validation of profile texts and the lossy repair of captured bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zlu_base {

struct Utf8Sequence {
  // What starts at one position of a text.
  //
  // Well-formed: `length` (1 to 4) bytes of one character. Ill-formed:
  // `length` (1 to 3) bytes of the maximal ill-formed subpart there, and
  // `truncated` when the text merely ends inside a sequence valid so far.
  std::size_t length = 0;
  bool well_formed = false;
  bool truncated = false;
};

// The sequence at `bytes[at]` (at < bytes.size()). Overlong forms,
// surrogates (U+D800 to U+DFFF) and values above U+10FFFF are ill-formed; a
// zero byte is an ordinary character.
Utf8Sequence utf8_sequence_at(std::string_view bytes, std::size_t at);

struct Utf8Error {
  // Where and how a text stopped being valid UTF-8.
  //
  // `valid_up_to` counts the bytes of valid UTF-8 before the first bad
  // sequence. `error_len` is the length (1 to 3) of the maximal invalid prefix
  // that starts there, or empty when the text ends inside a sequence that was
  // valid so far and merely incomplete.

  std::size_t valid_up_to = 0;
  std::optional<std::uint8_t> error_len;

  bool operator==(const Utf8Error&) const = default;
};

// Empty when `bytes` is entirely well-formed UTF-8. Runs of ASCII, which
// dominate the texts it meets, are skipped eight bytes at a time.
std::optional<Utf8Error> validate_utf8(std::string_view bytes);

// Decodes `bytes` as UTF-8, replacing each maximal ill-formed subpart with
// U+FFFD, so that binary garbage still reads as text and what is built from
// it stays valid UTF-8.
std::string decode_utf8_lossy(std::string_view bytes);

// U+FFFD REPLACEMENT CHARACTER in UTF-8.
inline constexpr std::string_view UTF8_REPLACEMENT = "\xEF\xBF\xBD";

}  // namespace zlu_base
