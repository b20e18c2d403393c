#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launch/output_pipe.hpp"

namespace hardware_e2e {
namespace {

std::string repeat(std::string_view piece, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += piece;
  return text;
}

TEST(BoundedOutput, KeepsUpToTheLimitWholeAndBeyondItTheHeadAndTailAtWholeLines) {
  struct Case {
    std::string written;
    std::string kept;
    bool cut;
  };
  const std::vector<Case> cases = {
      {"", "", false},
      {"abcdefghijklmnop", "abcdefghijklmnop", false},
      {"abcdefghijklmnopq", "abcdefgh\n" + cut_note(1) + "jklmnopq", true},
      // The window "ddd\neee\n" starts a line: kept whole.
      {"aaa\nbbb\nccc\nddd\neee\n", "aaa\nbbb\n" + cut_note(4) + "ddd\neee\n", true},
      // Both cuts fall inside lines: the partial lines go too.
      {"aaaa\nbbbb\ncccc\ndddd\neeee\n", "aaaa\n" + cut_note(15) + "eeee\n", true},
      // A line feed only at the window's end leaves the window as it is.
      {"aaaaaaaaaaaaaaaaaaaaaaaa\n", "aaaaaaaa\n" + cut_note(9) + "aaaaaaa\n", true},
      // Far past the limit, so that the tail is trimmed while it gathers.
      {repeat("0123456\n", 1000), "0123456\n" + cut_note(8000 - 16) + "0123456\n", true},
  };
  for (const auto& [written, kept, cut] : cases) {
    // In one piece and byte by byte, with the same result.
    for (const std::size_t piece : {written.size() + 1, std::size_t{1}}) {
      BoundedOutput output(16);
      for (std::size_t at = 0; at < written.size(); at += piece) output.append(std::string_view(written).substr(at, piece));
      const KeptOutput result = std::move(output).finish();
      EXPECT_EQ(result.text, kept) << written.size() << " bytes in pieces of " << piece;
      EXPECT_EQ(result.cut, cut) << written.size() << " bytes in pieces of " << piece;
    }
  }
}

TEST(BoundedOutput, CutNoteCountsTheBytesLeftOut) {
  EXPECT_EQ(cut_note(1), "[... 1 byte of runner output left out ...]\n");
  EXPECT_EQ(cut_note(98951424), "[... 98951424 bytes of runner output left out ...]\n");
}

}  // namespace
}  // namespace hardware_e2e
