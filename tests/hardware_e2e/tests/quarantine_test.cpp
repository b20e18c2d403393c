// Quarantine records in a lock folder of the test's own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include "cards/quarantine.hpp"

namespace hardware_e2e {
namespace {

namespace fs = std::filesystem;

class QuarantineFolder : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "quarantine-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  LockFolder folder() const { return std::move(*LockFolder::open(dir_.string(), false)); }
  std::string read(const fs::path& path) const {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
};

const QuarantineRecord RECORD{2,
                              "failed tests that passed on other cards",
                              {"direct_multicast_works, which passed on card 0", "all_tile_reduction_works, which "
                                                                                 "passed on card 3"},
                              "node-7",
                              "2026-12-09T05:31:07Z",
                              "gnu:5d41"};

TEST(QuarantineRecord, RendersOneLineAValueAndReadsBack) {
  const std::string text = render_quarantine(RECORD);
  EXPECT_EQ(text,
            "card: 2\nreason: failed tests that passed on other cards\n"
            "evidence: direct_multicast_works, which passed on card 0\n"
            "evidence: all_tile_reduction_works, which passed on card 3\n"
            "host: node-7\ntime: 2026-12-09T05:31:07Z\nbuild: gnu:5d41\n");
  const auto back = parse_quarantine(text);
  ASSERT_TRUE(back) << back.error();
  EXPECT_EQ(render_quarantine(*back), text);

  QuarantineRecord hostile = RECORD;
  hostile.reason = "bad\ncard: 9\r";
  EXPECT_EQ(parse_quarantine(render_quarantine(hostile))->reason, "bad card: 9 ");
  EXPECT_EQ(parse_quarantine(render_quarantine(hostile))->card, 2U);
}

TEST(QuarantineRecord, TextThatIsNoRecordIsRefusedNamingTheLine) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "no card line"},
      {"reason: r\n", "no card line"},
      {"card: 2\nreason r\n", "line 2 is not \"key: value\""},
      {"card: two\n", "line 1: \"two\" is not a card number"},
      {"card: \n", "line 1: \"\" is not a card number"},
      {"card: 2\nowner: me\n", "line 2: unknown key \"owner\""},
  };
  for (const auto& [text, error] : cases) {
    const auto record = parse_quarantine(text);
    ASSERT_FALSE(record) << text;
    EXPECT_EQ(record.error(), error) << text;
  }
}

TEST_F(QuarantineFolder, ARecordIsWrittenReadAndRemoved) {
  const LockFolder locks = folder();
  EXPECT_FALSE(is_quarantined(locks, 2));
  EXPECT_EQ(read_quarantine(locks, 2).value(), std::nullopt);
  ASSERT_TRUE(write_quarantine(locks, RECORD));
  EXPECT_TRUE(is_quarantined(locks, 2));
  EXPECT_FALSE(is_quarantined(locks, 3));
  EXPECT_EQ(read(dir_ / "card-2.quarantine"), render_quarantine(RECORD));
  EXPECT_EQ(render_quarantine(**read_quarantine(locks, 2)), render_quarantine(RECORD));
  EXPECT_EQ(remove_quarantine(locks, 2), true);
  EXPECT_EQ(remove_quarantine(locks, 2), false);
  EXPECT_FALSE(is_quarantined(locks, 2));
}

TEST_F(QuarantineFolder, ALinkAtTheRecordIsReplacedNeverWrittenThrough) {
  const LockFolder locks = folder();
  std::ofstream(dir_ / "victim") << "keep\n";
  fs::create_symlink(dir_ / "victim", dir_ / "card-2.quarantine");
  EXPECT_TRUE(is_quarantined(locks, 2)) << "anything standing there keeps the card out";
  EXPECT_EQ(read_quarantine(locks, 2).error(),
            "card 2 quarantine record \"" + (dir_ / "card-2.quarantine").string() +
                "\" cannot be used: a link stands there");
  ASSERT_TRUE(write_quarantine(locks, RECORD));
  EXPECT_EQ(read(dir_ / "victim"), "keep\n");
  EXPECT_FALSE(fs::is_symlink(dir_ / "card-2.quarantine"));
  EXPECT_EQ(read(dir_ / "card-2.quarantine"), render_quarantine(RECORD));
}

TEST_F(QuarantineFolder, WhatIsNoPlainRecordIsRefused) {
  const LockFolder locks = folder();
  ASSERT_EQ(::mkfifo((dir_ / "card-2.quarantine").c_str(), 0600), 0);
  EXPECT_NE(write_quarantine(locks, RECORD).error().find("not a plain file"), std::string::npos);
  EXPECT_NE(read_quarantine(locks, 2).error().find("not a plain file"), std::string::npos);
  std::ofstream(dir_ / "card-3.quarantine") << render_quarantine(RECORD);
  EXPECT_NE(read_quarantine(locks, 3).error().find("it names card 2"), std::string::npos);
  std::ofstream(dir_ / "card-4.quarantine") << std::string(70000, 'x');
  EXPECT_NE(read_quarantine(locks, 4).error().find("record's size"), std::string::npos);
}

}  // namespace
}  // namespace hardware_e2e
