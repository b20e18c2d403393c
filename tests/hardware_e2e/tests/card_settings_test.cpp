#include <gtest/gtest.h>

#include <map>

#include "card_settings.hpp"

namespace hardware_e2e {
namespace {

TEST(CardList, NumbersAndRangesInTheOrderGiven) {
  EXPECT_EQ(parse_card_list("0-3"), (std::vector<unsigned>{0, 1, 2, 3}));
  EXPECT_EQ(parse_card_list("0,2,5"), (std::vector<unsigned>{0, 2, 5}));
  EXPECT_EQ(parse_card_list("7,2-3,4095"), (std::vector<unsigned>{7, 2, 3, 4095}));
  EXPECT_EQ(parse_card_list("4-4"), (std::vector<unsigned>{4}));
  for (std::string_view bad : {"4096", "1-", "-", "1-2-3", " 1", "1,", "+1", "0x1"}) {
    EXPECT_FALSE(parse_card_list(bad)) << bad;
  }
}

TEST(CardSettings, UnsetMeansCardZeroUnannouncedInTheSharedFolder) {
  std::map<std::string, std::string, std::less<>> variables;
  const SettingLookup lookup = [&](std::string_view name) -> std::optional<std::string> {
    auto found = variables.find(name);
    if (found == variables.end()) return std::nullopt;
    return found->second;
  };
  auto settings = read_card_settings(lookup);
  ASSERT_TRUE(settings);
  EXPECT_EQ(settings->cards, std::vector<unsigned>{0});
  EXPECT_FALSE(settings->cards_listed);
  EXPECT_EQ(settings->lock_dir, DEFAULT_LOCK_DIR);
  EXPECT_FALSE(settings->lock_dir_given);
  EXPECT_FALSE(settings->timeline);

  variables = {{"ZLU_TEST_CARDS", "0"}, {"ZLU_TEST_LOCK_DIR", "locks"}, {"ZLU_TEST_TIMELINE", "run.json"}};
  settings = read_card_settings(lookup);
  ASSERT_TRUE(settings);
  EXPECT_TRUE(settings->cards_listed) << "a listed card 0 is announced to runners";
  EXPECT_EQ(settings->lock_dir, "locks");
  EXPECT_EQ(settings->timeline, "run.json");

  variables = {{"ZLU_TEST_CARDS", "1\n"}};
  EXPECT_EQ(read_card_settings(lookup).error().find("ZLU_TEST_CARDS=\"1\\x0a\": "), 0u);
  variables = {{"ZLU_TEST_TIMELINE", ""}};
  EXPECT_EQ(read_card_settings(lookup).error(), "ZLU_TEST_TIMELINE=\"\": expected a file path");
}

}  // namespace
}  // namespace hardware_e2e
