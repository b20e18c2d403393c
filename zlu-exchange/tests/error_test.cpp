#include "lib.hpp"

#include <gtest/gtest.h>

namespace zlu_exchange {
namespace {

TEST(ExchangeError, RendersVariantNameAndPayload) {
  EXPECT_EQ(ExchangeError(ExchangeError::Tile{1472}).render(), "Tile(1472)");
  EXPECT_EQ(ExchangeError(ExchangeError::DuplicateTile{}).render(), "DuplicateTile");
  EXPECT_EQ(ExchangeError(ExchangeError::Count{4294967295u}).render(), "Count(4294967295)");
  EXPECT_EQ(ExchangeError(ExchangeError::ReceiverSet{}).render(), "ReceiverSet");
  EXPECT_EQ(ExchangeError(ExchangeError::Schedule{"cycle in phase order"}).render(),
            "Schedule(\"cycle in phase order\")");
  EXPECT_EQ(ExchangeError(ExchangeError::Address{0x80000}).render(), "Address(524288)");
  EXPECT_EQ(ExchangeError(ExchangeError::HostPacket{}).render(), "HostPacket");
  EXPECT_EQ(fmt::format("{}", ExchangeError(ExchangeError::Tile{3})), "Tile(3)");
}

TEST(ExchangeError, EscapesQuotesAndControlCharactersInText) {
  EXPECT_EQ(ExchangeError(ExchangeError::Schedule{"a \"b\"\\\n"}).render(),
            "Schedule(\"a \\\"b\\\"\\\\\\n\")");
}

TEST(ExchangeError, VariantOrderIsPartOfTheInterface) {
  EXPECT_EQ(ExchangeError(ExchangeError::Tile{0}).value().index(), 0u);
  EXPECT_EQ(ExchangeError(ExchangeError::Schedule{""}).value().index(), 4u);
  EXPECT_EQ(ExchangeError(ExchangeError::HostPacket{}).value().index(), 6u);
}

TEST(ExchangeError, EqualityComparesVariantAndPayload) {
  EXPECT_EQ(ExchangeError(ExchangeError::Count{4}), ExchangeError(ExchangeError::Count{4}));
  EXPECT_NE(ExchangeError(ExchangeError::Count{4}), ExchangeError(ExchangeError::Count{5}));
  EXPECT_NE(ExchangeError(ExchangeError::Count{4}), ExchangeError(ExchangeError::Address{4}));
  EXPECT_NE(ExchangeError(ExchangeError::ReceiverSet{}), ExchangeError(ExchangeError::HostPacket{}));
}

}  // namespace
}  // namespace zlu_exchange
