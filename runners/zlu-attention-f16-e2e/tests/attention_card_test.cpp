#include "attention_card.hpp"

#include <set>

#include <gtest/gtest.h>

#include "broken_kernels.hpp"

namespace zlu_attention {
namespace {

const std::vector<AttentionShape> SMALL_SHAPES{{1, 64, 64}, {2, 64, 128}};

TEST(RunAttention, EveryEncoderShapePassesAndIsNamedInTheSummary) {
  zlu_card::Card card;
  const auto outcome = run_attention(card, encoder_shapes());
  ASSERT_TRUE(outcome) << outcome.error().message;
  for (const AttentionShape& shape : encoder_shapes()) {
    EXPECT_NE(outcome->find("[" + shape.name() + " max_abs_error="), std::string::npos) << *outcome;
  }
  std::set<std::uint32_t> dims, batches, sequences;
  for (const AttentionShape& shape : encoder_shapes()) {
    dims.insert(shape.head_dim);
    batches.insert(shape.batch);
    sequences.insert(shape.sequence);
  }
  EXPECT_EQ(dims, (std::set<std::uint32_t>{64, 128}));
  EXPECT_EQ(batches, (std::set<std::uint32_t>{1, 2, 4}));
  EXPECT_EQ(sequences, (std::set<std::uint32_t>{64, 128, 256}));
}

TEST(RunAttention, AKernelWithoutTheRescaleFailsNamingShapeAndElement) {
  zlu_card::Card card;
  const auto outcome = run_attention(card, SMALL_SHAPES, testing::update_without_rescale);
  ASSERT_FALSE(outcome);
  EXPECT_EQ(outcome.error().code, zlu_runner::ExitCode::CheckFailed);
  EXPECT_NE(outcome.error().message.find("shape batch=1 seq=64 dim=64: output[batch 0][row "), std::string::npos)
      << outcome.error().message;
  EXPECT_NE(outcome.error().message.find(", expected "), std::string::npos) << outcome.error().message;
}

TEST(RunAttention, ABrokenCardIsCaught) {
  for (const bool off_by_one : {false, true}) {
    zlu_card::CardOptions options;
    options.faults.wrong_route = !off_by_one;
    options.faults.address_off_by_one = off_by_one;
    zlu_card::Card card(options);
    const auto outcome = run_attention(card, SMALL_SHAPES);
    ASSERT_FALSE(outcome) << "off by one: " << off_by_one;
    EXPECT_EQ(outcome.error().code, zlu_runner::ExitCode::CheckFailed) << outcome.error().message;
  }
}

TEST(RunShape, AShapeThatDoesNotFitIsAConfigurationError) {
  zlu_card::Card card;
  for (const AttentionShape shape :
       {AttentionShape{1, 48, 64}, AttentionShape{1, 64, 256}, AttentionShape{1, 512, 128}}) {
    const auto result = run_shape(card, shape, 0, flash_block_update);
    ASSERT_FALSE(result) << shape.name();
    EXPECT_EQ(result.error().code, zlu_runner::ExitCode::ConfigInvalid) << shape.name();
    EXPECT_NE(result.error().message.find(shape.name()), std::string::npos) << result.error().message;
  }
  const auto past_the_card = run_shape(card, {4, 256, 64}, 1440, flash_block_update);
  ASSERT_FALSE(past_the_card);
  EXPECT_EQ(past_the_card.error().code, zlu_runner::ExitCode::ConfigInvalid);
}

}  // namespace
}  // namespace zlu_attention
