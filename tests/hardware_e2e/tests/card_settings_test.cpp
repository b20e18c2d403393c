#include <gtest/gtest.h>

#include <map>

#include <fmt/format.h>

#include "cards/card_settings.hpp"

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

using Variables = std::map<std::string, std::string, std::less<>>;

SettingLookup lookup_in(const Variables& variables) {
  return [&variables](std::string_view name) -> std::optional<std::string> {
    auto found = variables.find(name);
    if (found == variables.end()) return std::nullopt;
    return found->second;
  };
}

TEST(CardSettings, UnsetMeansCardZeroUnannouncedInTheSharedFolder) {
  Variables variables;
  const SettingLookup lookup = lookup_in(variables);
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

TEST(CardSettings, AnInheritedCardIdIsThePoolUnlessCardsAreListed) {
  struct Case {
    Variables variables;
    std::vector<unsigned> cards;
  };
  const std::vector<Case> cases = {
      {{{"ZLU_CARD_ID", "7"}}, {7}},
      {{{"ZLU_CARD_ID", "0"}}, {0}},
      {{{"ZLU_CARD_ID", "4095"}}, {4095}},
      {{{"ZLU_CARD_ID", "007"}}, {7}},
      {{{"ZLU_CARD_ID", "7"}, {"ZLU_TEST_CARDS", "0-1"}}, {0, 1}},
      {{{"ZLU_CARD_ID", "x"}, {"ZLU_TEST_CARDS", "2"}}, {2}},
  };
  for (const auto& [variables, cards] : cases) {
    const auto settings = read_card_settings(lookup_in(variables));
    ASSERT_TRUE(settings) << settings.error();
    EXPECT_EQ(settings->cards, cards) << variables.begin()->second;
    EXPECT_TRUE(settings->cards_listed) << "the runner is told the card it holds";
  }

  const std::string expected = "ZLU_CARD_ID=\"{}\": expected the number of the card to run on (or ZLU_TEST_CARDS to "
                               "list cards): ";
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"", "empty card number"},
      {"x", "\"x\" is not a card number"},
      {"-1", "\"-1\" is not a card number"},
      {"1,2", "\"1,2\" is not a card number"},
      {"4096", "card 4096 is past the largest card number 4095"},
  };
  for (const auto& [value, why] : refused) {
    const Variables variables = {{"ZLU_CARD_ID", value}};
    const auto settings = read_card_settings(lookup_in(variables));
    ASSERT_FALSE(settings) << value;
    EXPECT_EQ(settings.error(), fmt::format(fmt::runtime(expected), value) + why);
  }
}

TEST(CardSettings, QuarantineIsOnOrOffAndOffUnlessSet) {
  struct Case {
    std::optional<std::string> value;
    std::optional<bool> quarantine;  // empty: refused
  };
  const std::vector<Case> cases = {
      {std::nullopt, false}, {"off", false}, {"on", true}, {"", std::nullopt}, {"ON", std::nullopt},
      {"1", std::nullopt},   {"on ", std::nullopt}, {"yes", std::nullopt},
  };
  for (const Case& c : cases) {
    Variables variables;
    if (c.value) variables.emplace("ZLU_TEST_QUARANTINE", *c.value);
    const auto settings = read_card_settings(lookup_in(variables));
    if (c.quarantine) {
      ASSERT_TRUE(settings) << *c.value;
      EXPECT_EQ(settings->quarantine, *c.quarantine);
    } else {
      ASSERT_FALSE(settings) << *c.value;
      EXPECT_EQ(settings.error(), fmt::format("ZLU_TEST_QUARANTINE=\"{}\": expected on or off", *c.value));
    }
  }
}

}  // namespace
}  // namespace hardware_e2e
