#include <gtest/gtest.h>

#include "option_test_support.hpp"

namespace harness {
namespace {

using testing::gate_open;
using testing::parse;
using testing::refusal;

TEST(ParseErrors, NameTheOffendingOptionAsWritten) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
      {{"--frobnicate"}, "error: Unrecognized option: 'frobnicate'\n"},
      {{"--lis"}, "error: Unrecognized option: 'lis'\n"},
      {{"--frobnicate=3"}, "error: Unrecognized option: 'frobnicate'\n"},
      {{"-x"}, "error: Unrecognized option: 'x'\n"},
      {{"-qx"}, "error: Unrecognized option: 'x'\n"},
      {{"tile", "--test-threads"}, "error: Argument to option 'test-threads' missing\n"},
      {{"-Z"}, "error: Argument to option 'Z' missing\n"},
      {{"--exact", "--exact"}, "error: Option 'exact' given more than once\n"},
      {{"-q", "--quiet"}, "error: Option 'quiet' given more than once\n"},
      {{"-qq"}, "error: Option 'q' given more than once\n"},
      {{"--color=never", "--color", "never"}, "error: Option 'color' given more than once\n"},
      {{"--list=yes"}, "error: Option 'list' does not take an argument\n"},
      {{"--help="}, "error: Option 'help' does not take an argument\n"},
  };
  for (const auto& [args, message] : cases) EXPECT_EQ(refusal(args), message) << args.front();
}

TEST(ParseErrors, ComeBeforeTheHelp) {
  EXPECT_EQ(refusal({"-h", "--bogus"}), "error: Unrecognized option: 'bogus'\n");
}

TEST(ParseErrors, InvalidUtf8IsAnUnrecognisedOptionEvenAsAFilter) {
  EXPECT_EQ(refusal({"tile\xff"}), "error: Unrecognized option: 'tile\xEF\xBF\xBD'\n");
  EXPECT_EQ(refusal({"--", "\xc3"}), "error: Unrecognized option: '\xEF\xBF\xBD'\n");
  EXPECT_EQ(refusal({"--logfile", "log\xfe"}), "error: Unrecognized option: 'log\xEF\xBF\xBD'\n");
}

TEST(ParseRules, FiltersMixWithOptionsAndDashesEndTheOptions) {
  const auto parsed = parse({"tile", "--exact", "-", "--", "-q", "--list"});
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->opts.filters, (std::vector<std::string>{"tile", "-", "-q", "--list"}));
  EXPECT_TRUE(parsed->opts.filter_exact);
  EXPECT_FALSE(parsed->opts.list);
  EXPECT_EQ(parsed->opts.format, OutputFormat::Pretty);
}

TEST(ParseRules, ArgumentsComeAttachedOrAsTheNextArgument) {
  const auto parsed = parse({"--test-threads=3", "--logfile", "--list", "--skip", "a", "--skip=b", "--color", "never"});
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->opts.test_threads, 3u);
  EXPECT_EQ(parsed->opts.logfile, "--list");
  EXPECT_FALSE(parsed->opts.list);
  EXPECT_EQ(parsed->opts.skip, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(parsed->opts.color, ColorConfig::Never);
}

TEST(ParseRules, ShortOptionsGroupAndTheOneWithAnArgumentTakesTheRest) {
  const auto attached = parse({"-qZunstable-options", "--fail-fast"}, gate_open);
  ASSERT_TRUE(attached.has_value());
  EXPECT_EQ(attached->opts.format, OutputFormat::Terse);
  EXPECT_TRUE(attached->opts.fail_fast);

  const auto next = parse({"-qZ", "unstable-options", "--fail-fast"}, gate_open);
  ASSERT_TRUE(next.has_value());
  EXPECT_TRUE(next->opts.fail_fast);
}

TEST(ParseRules, FlagsSetTheirFields) {
  const auto parsed = parse({"--list", "--bench", "--show-output", "--include-ignored", "--nocapture"});
  ASSERT_TRUE(parsed.has_value());
  const TestOpts& opts = parsed->opts;
  EXPECT_TRUE(opts.list);
  EXPECT_TRUE(opts.bench_benchmarks);
  EXPECT_FALSE(opts.run_tests);
  EXPECT_TRUE(opts.show_output);
  EXPECT_EQ(opts.run_ignored, RunIgnored::Yes);
  EXPECT_TRUE(opts.nocapture);
  EXPECT_FALSE(opts.time_options.has_value());
  EXPECT_FALSE(opts.shuffle_seed.has_value());

  const auto both = parse({"--bench", "--test", "--ignored"});
  ASSERT_TRUE(both.has_value());
  EXPECT_TRUE(both->opts.run_tests);
  EXPECT_EQ(both->opts.run_ignored, RunIgnored::Only);
}

}  // namespace
}  // namespace harness
