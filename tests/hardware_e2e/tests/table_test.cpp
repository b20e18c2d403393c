#include <gtest/gtest.h>

#include <set>
#include <string>

#include "catalogue/table.hpp"

namespace hardware_e2e {
namespace {

TEST(TestTable, HoldsTwentyThreeUniqueTestsSortedByName) {
  const auto table = tests();
  ASSERT_EQ(table.size(), 23u);
  std::set<std::string_view> names;
  for (std::size_t i = 0; i < table.size(); ++i) {
    names.insert(table[i].desc.name);
    ASSERT_NE(table[i].testfn, nullptr);
    if (i > 0) {
      EXPECT_LT(table[i - 1].desc.name, table[i].desc.name);
    }
  }
  EXPECT_EQ(names.size(), 23u);
}

}  // namespace
}  // namespace hardware_e2e
