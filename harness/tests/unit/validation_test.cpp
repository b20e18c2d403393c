#include <gtest/gtest.h>

#include "option_test_support.hpp"

namespace harness {
namespace {

using namespace std::chrono_literals;
using testing::Env;
using testing::gate_open;
using testing::parse;
using testing::refusal;

TEST(Validation, HelpWinsOverEveryLaterCheck) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--color", "sideways", "-h"}, {"--help", "--fail-fast"}, {"-Zbogus", "-h"}}) {
    const auto parsed = parse(args);
    ASSERT_FALSE(parsed.has_value());
    EXPECT_EQ(parsed.error().status, 0);
    EXPECT_TRUE(parsed.error().stdout_text.starts_with("Usage: ./hardware_e2e [OPTIONS] [FILTERS...]\n"));
    EXPECT_EQ(parsed.error().stderr_text, "");
  }
}

TEST(Validation, TheGateDecidesWhatZMayDo) {
  EXPECT_EQ(refusal({"-Z", "unstable-options"}), "error: the option `Z` is only accepted on the nightly compiler\n");
  EXPECT_EQ(refusal({"-Z", "stable-options"}, gate_open), "error: Unrecognized option to `Z`\n");
  const Env empty_gate{{"ZLU_TEST_BOOTSTRAP", ""}};
  EXPECT_EQ(refusal({"-Zunstable-options", "--fail-fast", "--exclude-should-panic", "--force-run-in-process"},
                    empty_gate),
            "<accepted>");
}

TEST(Validation, GatedFlagsNeedTheUnstableOptionsAndAreCheckedInOrder) {
  const std::string tail = "\" flag is only accepted on the nightly compiler with -Z unstable-options\n";
  EXPECT_EQ(refusal({"--fail-fast"}), "error: The \"fail-fast" + tail);
  EXPECT_EQ(refusal({"--fail-fast"}, gate_open), "error: The \"fail-fast" + tail);
  EXPECT_EQ(refusal({"--ensure-time", "--report-time", "--exclude-should-panic"}),
            "error: The \"exclude-should-panic" + tail);
  EXPECT_EQ(refusal({"--ensure-time", "--force-run-in-process"}), "error: The \"force-run-in-process" + tail);
  EXPECT_EQ(refusal({"--ensure-time", "--report-time"}), "error: The \"report-time" + tail);
  EXPECT_EQ(refusal({"--shuffle"}), "error: The \"shuffle" + tail);
  EXPECT_EQ(refusal({"--shuffle-seed", "x"}),
            "error: The \"shuffle-seed\" option is only accepted on the nightly compiler with -Z unstable-options\n");
  EXPECT_EQ(refusal({"--format", "json"}),
            "error: The \"json\" format is only accepted on the nightly compiler with -Z unstable-options\n");
  EXPECT_EQ(refusal({"--format=junit"}),
            "error: The \"junit\" format is only accepted on the nightly compiler with -Z unstable-options\n");
  // A gated flag is reported before a later check fails.
  EXPECT_EQ(refusal({"--test-threads=0", "--fail-fast"}), "error: The \"fail-fast" + tail);
}

TEST(Validation, TimeThresholdsComeFromTheirVariables) {
  const auto parsed = parse({"-Zunstable-options", "--ensure-time"},
                            {{"ZLU_TEST_BOOTSTRAP", "1"}, {"ZLU_TEST_TIME_INTEGRATION", "100,200"},
                             {"ZLU_TEST_TIME_UNIT", "7,7"}});
  ASSERT_TRUE(parsed.has_value());
  ASSERT_TRUE(parsed->opts.time_options.has_value());
  const TestTimeOptions& time = *parsed->opts.time_options;
  EXPECT_TRUE(time.error_on_excess);
  EXPECT_EQ(time.threshold(TestType::IntegrationTest).warn, 100ms);
  EXPECT_EQ(time.threshold(TestType::IntegrationTest).critical, 200ms);
  EXPECT_EQ(time.threshold(TestType::UnitTest).critical, 7ms);
  EXPECT_EQ(time.threshold(TestType::DocTest).warn, 500ms);

  const auto report_only = parse({"-Zunstable-options", "--report-time"}, gate_open);
  ASSERT_TRUE(report_only.has_value());
  ASSERT_TRUE(report_only->opts.time_options.has_value());
  EXPECT_FALSE(report_only->opts.time_options->error_on_excess);
  EXPECT_EQ(report_only->opts.time_options->threshold(TestType::UnitTest).warn, 50ms);
}

TEST(Validation, BadTimeVariablesAreNamedWithWhatWasWrong) {
  const auto refused = [](std::string variable, std::string value) {
    Env env = gate_open;
    env[variable] = value;
    return refusal({"-Zunstable-options", "--report-time"}, env);
  };
  EXPECT_EQ(refused("ZLU_TEST_TIME_UNIT", "5"),
            "error: Duration variable ZLU_TEST_TIME_UNIT expected to have 2 numbers separated by comma, but got 5\n");
  EXPECT_EQ(refused("ZLU_TEST_TIME_DOCTEST", "1,2,3"),
            "error: Duration variable ZLU_TEST_TIME_DOCTEST expected to have 2 numbers separated by comma, but got "
            "1,2,3\n");
  EXPECT_EQ(refused("ZLU_TEST_TIME_INTEGRATION", "5,x7"),
            "error: Duration value in variable ZLU_TEST_TIME_INTEGRATION is expected to be a number, but got x7\n");
  EXPECT_EQ(refused("ZLU_TEST_TIME_UNIT", ",5"),
            "error: Duration value in variable ZLU_TEST_TIME_UNIT is expected to be a number, but got \n");
  EXPECT_EQ(refused("ZLU_TEST_TIME_UNIT", "9,5"),
            "error: Test execution warn time should be less or equal to the critical time\n");
  // Unread unless times are measured.
  EXPECT_EQ(refusal({}, {{"ZLU_TEST_TIME_UNIT", "nonsense"}}), "<accepted>");
}

TEST(Validation, ShufflingNeedsTheGateAlsoFromTheEnvironment) {
  const Env shuffle_env{{"ZLU_TEST_SHUFFLE", "1"}, {"ZLU_TEST_SHUFFLE_SEED", "12"}};
  const auto closed = parse({}, shuffle_env);
  ASSERT_TRUE(closed.has_value());
  EXPECT_FALSE(closed->opts.shuffle);
  EXPECT_FALSE(closed->opts.shuffle_seed.has_value());

  Env open = shuffle_env;
  open.insert(gate_open.begin(), gate_open.end());
  const auto from_env = parse({"-Zunstable-options"}, open);
  ASSERT_TRUE(from_env.has_value());
  EXPECT_TRUE(from_env->opts.shuffle);
  EXPECT_EQ(from_env->opts.shuffle_seed, 12u);

  const auto command_line_wins = parse({"-Zunstable-options", "--shuffle-seed=18446744073709551615"}, open);
  ASSERT_TRUE(command_line_wins.has_value());
  EXPECT_EQ(command_line_wins->opts.shuffle_seed, 18446744073709551615u);

  open["ZLU_TEST_SHUFFLE"] = "0";
  const auto zero = parse({"-Zunstable-options"}, open);
  ASSERT_TRUE(zero.has_value());
  EXPECT_FALSE(zero->opts.shuffle);
}

TEST(Validation, SeedsMustBeNumbers) {
  EXPECT_EQ(refusal({"-Zunstable-options", "--shuffle-seed", "12a"}, gate_open),
            "error: argument for --shuffle-seed must be a number (error: invalid digit found in string)\n");
  EXPECT_EQ(refusal({"-Zunstable-options", "--shuffle-seed=18446744073709551616"}, gate_open),
            "error: argument for --shuffle-seed must be a number (error: number too large to fit in target type)\n");
  EXPECT_EQ(refusal({"-Zunstable-options"}, {{"ZLU_TEST_BOOTSTRAP", "1"}, {"ZLU_TEST_SHUFFLE_SEED", "-1"}}),
            "error: ZLU_TEST_SHUFFLE_SEED is `-1`, should be a number.\n");
}

TEST(Validation, IgnoredModesExcludeEachOther) {
  EXPECT_EQ(refusal({"--ignored", "--include-ignored"}),
            "error: the options --include-ignored and --ignored are mutually exclusive\n");
}

TEST(Validation, CaptureIsOffByFlagOrByAVariableOtherThanZero) {
  EXPECT_FALSE(parse({}, {{"ZLU_TEST_NOCAPTURE", "0"}})->opts.nocapture);
  EXPECT_TRUE(parse({}, {{"ZLU_TEST_NOCAPTURE", ""}})->opts.nocapture);
  EXPECT_TRUE(parse({"--no-capture"})->opts.nocapture);
  EXPECT_TRUE(parse({"--nocapture", "--no-capture"})->opts.nocapture);
}

TEST(Validation, TestThreadsMustBeAPositiveDecimal) {
  const std::string reason = "error: argument for --test-threads must be a number > 0 (error: ";
  EXPECT_EQ(refusal({"--test-threads=0"}), "error: argument for --test-threads must not be 0\n");
  EXPECT_EQ(refusal({"--test-threads", "x"}), reason + "invalid digit found in string)\n");
  EXPECT_EQ(refusal({"--test-threads", "-1"}), reason + "invalid digit found in string)\n");
  EXPECT_EQ(refusal({"--test-threads="}), reason + "cannot parse integer from empty string)\n");
  EXPECT_EQ(refusal({"--test-threads=99999999999999999999"}), reason + "number too large to fit in target type)\n");
  EXPECT_EQ(parse({"--test-threads", "007"})->opts.test_threads, 7u);
}

TEST(Validation, ColorAndFormatAcceptTheirWordsOnly) {
  EXPECT_EQ(refusal({"--color", "Always"}), "error: argument for --color must be auto, always, or never (was Always)\n");
  EXPECT_EQ(refusal({"--format", "xml"}),
            "error: argument for --format must be pretty, terse, json or junit (was xml)\n");
  EXPECT_EQ(parse({"-q", "--format", "pretty"})->opts.format, OutputFormat::Pretty);
  EXPECT_EQ(parse({"-Zunstable-options", "--format", "junit"}, gate_open)->opts.format, OutputFormat::Junit);
  // test-threads is checked before colour, colour before format.
  EXPECT_EQ(refusal({"--format=x", "--color=x", "--test-threads=0"}),
            "error: argument for --test-threads must not be 0\n");
  EXPECT_EQ(refusal({"--format=x", "--color=x"}), "error: argument for --color must be auto, always, or never (was x)\n");
}

TEST(Validation, LogfileWarnsWithoutLineEnd) {
  const auto parsed = parse({"--logfile", "run.log"});
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->opts.logfile, "run.log");
  EXPECT_EQ(parsed->warnings, "warning: `--logfile` is deprecated");
}

TEST(Validation, AStackSizeThatIsNoPositiveNumberIsRefused) {
  EXPECT_EQ(refusal({}, {{"ZLU_TEST_MIN_STACK", "2M"}}), "error: ZLU_TEST_MIN_STACK is `2M`, should be a positive integer.\n");
  EXPECT_EQ(refusal({}, {{"ZLU_TEST_MIN_STACK", "0"}}), "error: ZLU_TEST_MIN_STACK is `0`, should be a positive integer.\n");
  EXPECT_EQ(refusal({}, {{"ZLU_TEST_MIN_STACK", "4194304"}}), "<accepted>");
}

// Such a size would make every worker fail to start and every test run on
// the main thread instead.
TEST(Validation, AStackSizeNoThreadCanBeGivenIsRefused) {
  for (const std::string size : {"9223372036854775808", "18446744073709551615"})
    EXPECT_EQ(refusal({}, {{"ZLU_TEST_MIN_STACK", size}}),
              "error: ZLU_TEST_MIN_STACK is `" + size + "`, should be a stack size a thread can be given.\n");
}

TEST(Validation, RunnerOutputIsCaptureOrUnset) {
  struct Case {
    std::optional<std::string> value;
    std::string refusal;
    bool captured;
  };
  for (const Case& c : std::vector<Case>{
           {std::nullopt, "<accepted>", false},
           {"capture", "<accepted>", true},
           {"", "error: ZLU_TEST_RUNNER_OUTPUT is ``, should be `capture` or unset.\n", false},
           {"Capture", "error: ZLU_TEST_RUNNER_OUTPUT is `Capture`, should be `capture` or unset.\n", false},
           {"capture ", "error: ZLU_TEST_RUNNER_OUTPUT is `capture `, should be `capture` or unset.\n", false},
           {"0", "error: ZLU_TEST_RUNNER_OUTPUT is `0`, should be `capture` or unset.\n", false},
           {"inherit", "error: ZLU_TEST_RUNNER_OUTPUT is `inherit`, should be `capture` or unset.\n", false}}) {
    Env env;
    if (c.value) env.emplace("ZLU_TEST_RUNNER_OUTPUT", *c.value);
    EXPECT_EQ(refusal({}, env), c.refusal) << c.value.value_or("<unset>");
    const auto parsed = parse({}, env);
    EXPECT_EQ(parsed && parsed->opts.capture_runner_output, c.captured) << c.value.value_or("<unset>");
  }
  // Checked last: an earlier setting's refusal is the one reported.
  EXPECT_EQ(refusal({}, {{"ZLU_TEST_RETRIES", "x"}, {"ZLU_TEST_RUNNER_OUTPUT", "x"}}),
            "error: ZLU_TEST_RETRIES is `x`, should be a non-negative integer no larger than 1000.\n");
}

TEST(Validation, TheEventsFileIsAPathOrUnset) {
  struct Case {
    std::optional<std::string> value;
    std::string refusal;
  };
  for (const Case& c : std::vector<Case>{
           {std::nullopt, "<accepted>"},
           {"events.json", "<accepted>"},
           {" ", "<accepted>"},
           {"", "error: ZLU_TEST_EVENTS is ``, should be a file path or unset.\n"}}) {
    Env env;
    if (c.value) env.emplace("ZLU_TEST_EVENTS", *c.value);
    EXPECT_EQ(refusal({}, env), c.refusal) << c.value.value_or("<unset>");
    const auto parsed = parse({}, env);
    EXPECT_EQ(parsed.has_value(), c.refusal == "<accepted>");
    if (parsed) {
      EXPECT_EQ(parsed->opts.events_file, c.value);
    }
  }
}

}  // namespace
}  // namespace harness
