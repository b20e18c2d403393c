#include <gtest/gtest.h>

#include <set>
#include <string>

#include "table.hpp"

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

TEST(TestTable, DescriptorsSpanTheNameOnItsLine) {
  for (const auto& test : tests()) {
    const auto& desc = test.desc;
    EXPECT_EQ(desc.source_path, "tests/hardware_e2e");
    EXPECT_EQ(desc.start_col, 4u);
    EXPECT_EQ(desc.end_line, desc.start_line);
    EXPECT_EQ(desc.end_col, 4u + desc.name.size()) << desc.name;
    EXPECT_EQ(desc.test_type, harness::TestType::IntegrationTest);
    EXPECT_FALSE(desc.ignore);
    EXPECT_EQ(desc.should_panic.kind, harness::ShouldPanicKind::No);
  }
  EXPECT_EQ(tests()[0].desc.start_line, 235u);
  EXPECT_EQ(tests()[22].desc.start_line, 223u);
}

}  // namespace
}  // namespace hardware_e2e
