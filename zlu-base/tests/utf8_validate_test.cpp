#include <gtest/gtest.h>

#include "zlu-base/src/utf8.hpp"

namespace zlu_base {
namespace {

struct Utf8Case {
  const char* name;
  std::string_view bytes;
  std::optional<Utf8Error> expected;
};

using namespace std::string_view_literals;

const Utf8Case kCases[] = {
    {"empty", ""sv, std::nullopt},
    {"ascii with a zero byte", "matmul\0tile"sv, std::nullopt},
    {"every length at its limits", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"sv,
     std::nullopt},
    {"last code points before and after the surrogates", "\xED\x9F\xBF\xEE\x80\x80"sv, std::nullopt},
    {"lone continuation byte", "a\x80"sv, Utf8Error{1, 1}},
    {"byte 0xFF", "a\xFF"sv, Utf8Error{1, 1}},
    {"overlong two-byte lead C0", "\xC0\xAF"sv, Utf8Error{0, 1}},
    {"overlong two-byte lead C1", "ab\xC1\xBF"sv, Utf8Error{2, 1}},
    {"overlong three-byte form", "\xE0\x9F\xBF"sv, Utf8Error{0, 1}},
    {"overlong four-byte form", "\xF0\x8F\xBF\xBF"sv, Utf8Error{0, 1}},
    {"high surrogate", "x\xED\xA0\x80"sv, Utf8Error{1, 1}},
    {"low surrogate", "\xED\xBF\xBF"sv, Utf8Error{0, 1}},
    {"above U+10FFFF", "\xF4\x90\x80\x80"sv, Utf8Error{0, 1}},
    {"lead byte F5", "\xF5\x80\x80\x80"sv, Utf8Error{0, 1}},
    {"two-byte sequence cut by ascii", "\xC3("sv, Utf8Error{0, 1}},
    {"three-byte sequence bad third byte", "\xE2\x82("sv, Utf8Error{0, 2}},
    {"four-byte sequence bad fourth byte", "\xF0\x9F\x98("sv, Utf8Error{0, 3}},
    {"four-byte sequence bad third byte", "\xF0\x9F("sv, Utf8Error{0, 2}},
    {"ends in a two-byte lead", "kernel\xC3"sv, Utf8Error{6, std::nullopt}},
    {"ends inside a three-byte sequence", "\xE2\x82"sv, Utf8Error{0, std::nullopt}},
    {"ends inside a four-byte sequence", "ok\xF0\x9F\x98"sv, Utf8Error{2, std::nullopt}},
    {"ends in surrogate lead with valid-so-far second byte", "\xED\x9F"sv, Utf8Error{0, std::nullopt}},
    {"first bad sequence wins over a later one", "\xC3\xA9\xFF\xC3"sv, Utf8Error{2, 1}},
    {"fault after a long ascii run", "abcdefghijklmnopq\x80"sv, Utf8Error{17, 1}},
    {"multi-byte after a long ascii run", "abcdefghijklmnop\xE2\x82\xAC"sv, std::nullopt},
};

TEST(Utf8, ValidatesFromTheDefinition) {
  for (const Utf8Case& c : kCases) {
    EXPECT_EQ(validate_utf8(c.bytes), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace zlu_base
