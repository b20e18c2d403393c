#include <gtest/gtest.h>

#include "run/execute.hpp"

namespace harness {
namespace {

void records_properties() {
  record_property("card", "n700-0");
  record_property("waited_for_card_ms", "3");
  record_property("waited_for_card_ms", "12");
}

TestDescAndFn make_test(TestFn fn) {
  TestDesc desc;
  desc.name = "records";
  return {desc, fn};
}

TEST(RecordProperty, PropertiesTravelWithTheResultAndARecordedNameKeepsItsPlace) {
  const CompletedTest completed = execute_test(0, make_test(records_properties), {});
  EXPECT_EQ(completed.properties, (TestProperties{{"card", "n700-0"}, {"waited_for_card_ms", "12"}}));
}

TEST(RecordProperty, OutsideATestBodyNothingIsRecordedForTheNextTest) {
  record_property("stray", "value");
  const CompletedTest completed = execute_test(1, make_test([] {}), {});
  EXPECT_TRUE(completed.properties.empty());
}

}  // namespace
}  // namespace harness
