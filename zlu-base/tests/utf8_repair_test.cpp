#include <gtest/gtest.h>

#include <random>

#include "zlu-base/src/utf8.hpp"

namespace zlu_base {
namespace {

const std::string fffd = "\xEF\xBF\xBD";

TEST(DecodeUtf8Lossy, KeepsWellFormedTextOfEveryLength) {
  const std::string text = "a \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF";
  EXPECT_EQ(decode_utf8_lossy(text), text);
}

TEST(DecodeUtf8Lossy, ReplacesEachMaximalIllFormedSubpartOnce) {
  // A truncated sequence is one subpart, however many bytes it had.
  EXPECT_EQ(decode_utf8_lossy("\xF0\x9F\x98"), fffd);
  EXPECT_EQ(decode_utf8_lossy("\xE2\x82" "A"), fffd + "A");
  // Bytes that can never start a sequence, and lone continuations, are one each.
  EXPECT_EQ(decode_utf8_lossy("\xC0\xAF"), fffd + fffd);
  EXPECT_EQ(decode_utf8_lossy("\xFF\xFE"), fffd + fffd);
  EXPECT_EQ(decode_utf8_lossy("\x80x"), fffd + "x");
}

TEST(DecodeUtf8Lossy, RejectsSurrogatesOverlongFormsAndCodePointsBeyondTheRange) {
  EXPECT_EQ(decode_utf8_lossy("\xED\xA0\x80"), fffd + fffd + fffd);
  EXPECT_EQ(decode_utf8_lossy("\xE0\x80\xAF"), fffd + fffd + fffd);
  EXPECT_EQ(decode_utf8_lossy("\xF4\x90\x80\x80"), fffd + fffd + fffd + fffd);
  // A valid lead followed by a byte out of its range leaves that byte to be decoded anew.
  EXPECT_EQ(decode_utf8_lossy("\xE2" "a\xE2\x82\xAC"), fffd + "a\xE2\x82\xAC");
}

TEST(DecodeUtf8Lossy, ChangesExactlyTheTextsValidationRefuses) {
  // Repair and validation read sequences alike: a text comes back unchanged
  // exactly when it validates, and a repaired text always validates.
  std::mt19937 random(20261208);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> ascii_run(0, 20);
  for (int round = 0; round < 20000; ++round) {
    std::string text(static_cast<std::size_t>(ascii_run(random)), 'a');
    const int tail = round % 6;
    for (int i = 0; i < tail; ++i) text += static_cast<char>(byte(random));
    text.append(static_cast<std::size_t>(ascii_run(random)), 'z');
    const std::string repaired = decode_utf8_lossy(text);
    ASSERT_EQ(repaired == text, !validate_utf8(text).has_value()) << testing::PrintToString(text);
    ASSERT_FALSE(validate_utf8(repaired).has_value()) << testing::PrintToString(text);
  }
}

}  // namespace
}  // namespace zlu_base
