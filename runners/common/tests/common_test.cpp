#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <sys/wait.h>
#include <unistd.h>

#include "runner.hpp"

namespace {

using zlu_runner::ExitCode;

zlu_runner::EnvLookup lookup(std::map<std::string, std::string> values) {
  return [values = std::move(values)](std::string_view name) -> std::optional<std::string> {
    if (const auto it = values.find(std::string(name)); it != values.end()) return it->second;
    return std::nullopt;
  };
}

bool accepts_profile(std::string_view action) { return action.starts_with("profile-"); }

TEST(Environment, FlagsAcceptOnlyOneAndZero) {
  EXPECT_FALSE(*zlu_runner::parse_flag("F", std::nullopt));
  EXPECT_FALSE(*zlu_runner::parse_flag("F", "0"));
  EXPECT_TRUE(*zlu_runner::parse_flag("F", "1"));
  for (const char* bad : {"", "true", "01", " 1", "2"}) {
    const auto parsed = zlu_runner::parse_flag("ZLU_X_FLAG", std::string(bad));
    ASSERT_FALSE(parsed.has_value()) << bad;
    EXPECT_EQ(parsed.error().code, ExitCode::ConfigInvalid);
    EXPECT_NE(parsed.error().message.find(fmt::format("ZLU_X_FLAG=\"{}\"", bad)), std::string::npos)
        << parsed.error().message;
  }
}

TEST(Environment, NumbersAreDecimalOrPrefixedHexWithinRange) {
  EXPECT_EQ(*zlu_runner::parse_unsigned("N", "0", 10, false), 0u);
  EXPECT_EQ(*zlu_runner::parse_unsigned("N", "18446744073709551615", UINT64_MAX, false), UINT64_MAX);
  EXPECT_EQ(*zlu_runner::parse_unsigned("N", "0x5a4c552d53544143", UINT64_MAX, true), 0x5a4c552d53544143u);
  EXPECT_EQ(*zlu_runner::parse_hex("N", "0x60000", 0x7ffff), 0x60000u);
  for (const char* bad : {"", "-1", "+1", " 1", "1 ", "11", "0x", "18446744073709551616", "1e3"}) {
    EXPECT_FALSE(zlu_runner::parse_unsigned("N", bad, 10, true).has_value()) << bad;
  }
  EXPECT_FALSE(zlu_runner::parse_unsigned("N", "0x10", 100, false).has_value());
  EXPECT_FALSE(zlu_runner::parse_hex("N", "60000", 0x7ffff).has_value());
  EXPECT_FALSE(zlu_runner::parse_hex("N", "0x80000", 0x7ffff).has_value());
}

TEST(Environment, TileListsAreDistinctInRangeAndWithoutBlanks) {
  EXPECT_EQ(*zlu_runner::parse_tile_list("T", "1471,274", 1472), (std::vector<std::uint16_t>{1471, 274}));
  EXPECT_EQ(*zlu_runner::parse_tile_list("T", "0", 1472), (std::vector<std::uint16_t>{0}));
  for (const char* bad : {"", "1472", "1,1472", "3,4,3", "3, 4", "3,", ",3", "3,,4", "a"}) {
    const auto parsed = zlu_runner::parse_tile_list("ZLU_T", bad, 1472);
    ASSERT_FALSE(parsed.has_value()) << bad;
    EXPECT_NE(parsed.error().message.find(fmt::format("ZLU_T=\"{}\"", bad)), std::string::npos)
        << parsed.error().message;
  }
  EXPECT_NE(zlu_runner::parse_tile_list("T", "3,4,3", 1472).error().message.find("tile 3 is named twice"),
            std::string::npos);
}

TEST(Environment, MessagesEscapeBytesThatWouldBreakTheLine) {
  const auto failure = zlu_runner::invalid_value("V", "a\nb\"\xff", "x");
  EXPECT_EQ(failure.message, "V=\"a\\x0ab\\\"\\xff\": expected x");
}

TEST(SimFault, OnlyItemsNamingTheRunnerApply) {
  const auto plan = zlu_runner::parse_sim_fault(
      "zlu-gemm-e2e", "zlu-host-e2e:exit=3,zlu-gemm-e2e:profile-tiles=5,zlu-other:whatever,zlu-gemm-e2e:no-profile",
      [](std::string_view a) { return accepts_profile(a) || a == "no-profile"; });
  ASSERT_TRUE(plan.has_value()) << plan.error().message;
  EXPECT_FALSE(plan->exit_code);
  EXPECT_FALSE(plan->signal);
  EXPECT_EQ(plan->runner_actions, (std::vector<std::string>{"profile-tiles=5", "no-profile"}));

  const auto both = zlu_runner::parse_sim_fault("r", "r:signal=9,r:exit=4", zlu_runner::no_runner_actions);
  ASSERT_TRUE(both.has_value());
  EXPECT_EQ(both->signal, 9);
  EXPECT_EQ(both->exit_code, 4);
  EXPECT_TRUE(both->signal_first);
}

TEST(SimFault, SlowExchangeReachesTheCardOfTheRunnerItNames) {
  for (const auto& [value, percent] : {std::pair{"r:slow-exchange=10", 10u}, std::pair{"r:slow-exchange=0", 0u},
                                       std::pair{"r:slow-exchange=1000", 1000u},
                                       std::pair{"other:slow-exchange=50", 0u}}) {
    const auto faults = zlu_runner::take_sim_faults(
        "r", [&](std::string_view) { return std::optional<std::string>(value); }, zlu_runner::no_runner_actions);
    ASSERT_TRUE(faults.has_value()) << value << ": " << faults.error().message;
    EXPECT_EQ(faults->card.exchange_slowdown_percent, percent) << value;
    EXPECT_TRUE(faults->runner_actions.empty()) << value;
  }
}

TEST(SimFault, UnknownActionsAndMalformedItemsAreConfigurationErrors) {
  for (const char* bad :
       {"r:bogus", "r:exit=256", "r:exit=", "r:exit=-1", "r:signal=0", "r:signal=65", "r:signal=SEGV", "r:signal=19",
        "r:signal=20", "r:signal=17", "r:signal=32", "r", "r:", ":exit=1", "r:exit=1,", "other:x,,r:exit=1",
        "r:slow-exchange=1001", "r:slow-exchange=", "r:slow-exchange=-1", "r:slow-exchange=0x10"}) {
    const auto plan = zlu_runner::parse_sim_fault("r", bad, zlu_runner::no_runner_actions);
    ASSERT_FALSE(plan.has_value()) << bad;
    EXPECT_EQ(plan.error().code, ExitCode::ConfigInvalid);
    EXPECT_NE(plan.error().message.find("ZLU_SIM_FAULT="), std::string::npos) << plan.error().message;
  }
  const auto empty = zlu_runner::parse_sim_fault("r", "", zlu_runner::no_runner_actions);
  ASSERT_TRUE(empty.has_value());
  EXPECT_FALSE(empty->exit_code || empty->signal || !empty->runner_actions.empty());
  // Another runner's actions are not judged here, only their form.
  EXPECT_TRUE(zlu_runner::parse_sim_fault("r", "other:bogus", zlu_runner::no_runner_actions).has_value());
}

TEST(CardFault, TheStuckBitAppliesOnlyToTheNamedCard) {
  using zlu_card::StuckBit;
  struct Case {
    std::optional<unsigned> card;
    const char* value;
    std::optional<StuckBit> stuck;
  };
  const Case cases[] = {
      {2, "2:tile=117:stuck-bit=5", StuckBit{117, 5}},
      {1, "2:tile=117:stuck-bit=5", std::nullopt},
      {std::nullopt, "2:tile=117:stuck-bit=5", std::nullopt},
      {3, "0:tile=0:stuck-bit=0,3:tile=1471:stuck-bit=31", StuckBit{1471, 31}},
      {0, "0:tile=0:stuck-bit=0,3:tile=1471:stuck-bit=31", StuckBit{0, 0}},
      {4095, "4095:tile=9:stuck-bit=1", StuckBit{9, 1}},
      {2, "", std::nullopt},
  };
  for (const Case& c : cases) {
    const auto stuck = zlu_runner::parse_card_fault(c.card, c.value);
    ASSERT_TRUE(stuck.has_value()) << c.value << ": " << stuck.error().message;
    EXPECT_EQ(*stuck, c.stuck) << c.value;
  }
}

TEST(CardFault, MalformedValuesAreRefusedWhicheverCardTheyName) {
  for (const char* bad :
       {"2", "2:tile=117", "2:tile=1472:stuck-bit=5", "2:tile=117:stuck-bit=32", "4096:tile=1:stuck-bit=1",
        "x:tile=1:stuck-bit=1", "2:stuck-bit=5:tile=117", "2:tile=117:stuck-bit=5:", "2:tile=117:stuck-bit=5,",
        "2:tile=1:stuck-bit=1,2:tile=2:stuck-bit=2", "2:tile= 1:stuck-bit=1", "-2:tile=1:stuck-bit=1"}) {
    const auto stuck = zlu_runner::parse_card_fault(0, bad);
    ASSERT_FALSE(stuck.has_value()) << bad;
    EXPECT_EQ(stuck.error().code, ExitCode::ConfigInvalid);
    EXPECT_TRUE(stuck.error().message.starts_with("ZLU_SIM_CARD_FAULT=")) << stuck.error().message;
  }
  const auto bad_card = zlu_runner::with_card_fault({}, lookup({{"ZLU_SIM_CARD_FAULT", "2:tile=1:stuck-bit=1"},
                                                         {"ZLU_CARD_ID", "two"}}));
  ASSERT_FALSE(bad_card.has_value());
  EXPECT_TRUE(bad_card.error().message.starts_with("ZLU_CARD_ID=")) << bad_card.error().message;
  const auto applied = zlu_runner::with_card_fault({}, lookup({{"ZLU_SIM_CARD_FAULT", "2:tile=1:stuck-bit=1"},
                                                        {"ZLU_CARD_ID", "2"}}));
  ASSERT_TRUE(applied.has_value());
  EXPECT_EQ(applied->faults.stuck_bit, (zlu_card::StuckBit{1, 1}));
}

// Runs `plan` in a child and returns its raw wait status.
int wait_status_of(const zlu_runner::FaultPlan& plan) {
  const pid_t child = fork();
  if (child == 0) {
    zlu_runner::apply_process_faults(plan);
    _exit(99);
  }
  int status = 0;
  EXPECT_EQ(waitpid(child, &status, 0), child);
  return status;
}

TEST(SimFault, ExitAndSignalAreSeenByTheParent) {
  zlu_runner::FaultPlan exit_plan;
  exit_plan.exit_code = 42;
  const int exited = wait_status_of(exit_plan);
  ASSERT_TRUE(WIFEXITED(exited));
  EXPECT_EQ(WEXITSTATUS(exited), 42);

  zlu_runner::FaultPlan signal_plan;
  signal_plan.signal = SIGTERM;
  signal_plan.exit_code = 3;
  signal_plan.signal_first = true;
  const int killed = wait_status_of(signal_plan);
  ASSERT_TRUE(WIFSIGNALED(killed));
  EXPECT_EQ(WTERMSIG(killed), SIGTERM);

  // A signal the test process ignores still ends the runner: its default
  // disposition is restored first.
  zlu_runner::FaultPlan ignored;
  ignored.signal = SIGUSR1;
  const pid_t child = fork();
  if (child == 0) {
    std::signal(SIGUSR1, SIG_IGN);
    zlu_runner::apply_process_faults(ignored);
    _exit(99);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGUSR1);

  EXPECT_EQ(WEXITSTATUS(wait_status_of({})), 99);
}

TEST(Jitter, SettingsAreCheckedAndDelaysRepeatFromTheSeed) {
  const auto defaults = zlu_runner::read_jitter_settings(lookup({}));
  ASSERT_TRUE(defaults.has_value());
  EXPECT_EQ(defaults->max_us, 0u);
  EXPECT_EQ(defaults->seed, 0u);

  for (const auto& [name, value] :
       std::vector<std::pair<std::string, std::string>>{{"ZLU_HOST_WRITE_JITTER_MAX_US", ""},
                                                        {"ZLU_HOST_WRITE_JITTER_MAX_US", "1000001"},
                                                        {"ZLU_HOST_WRITE_JITTER_MAX_US", "0x10"},
                                                        {"ZLU_HOST_WRITE_JITTER_SEED", ""},
                                                        {"ZLU_HOST_WRITE_JITTER_SEED", "0xg"},
                                                        {"ZLU_HOST_WRITE_JITTER_SEED", "12abc"}}) {
    const auto settings = zlu_runner::read_jitter_settings(lookup({{name, value}}));
    ASSERT_FALSE(settings.has_value()) << name << "=" << value;
    EXPECT_NE(settings.error().message.find(fmt::format("{}=\"{}\"", name, value)), std::string::npos);
  }

  const auto settings = zlu_runner::read_jitter_settings(
      lookup({{"ZLU_HOST_WRITE_JITTER_MAX_US", "1000000"}, {"ZLU_HOST_WRITE_JITTER_SEED", "0x2a"}}));
  ASSERT_TRUE(settings.has_value());
  EXPECT_EQ(settings->seed, 42u);
  zlu_runner::HostWriteJitter first(*settings), second(*settings), other({1000000, 43});
  bool differs = false;
  for (int i = 0; i < 32; ++i) {
    const auto delay = first.next_delay_us();
    EXPECT_LE(delay, 1000000u);
    EXPECT_EQ(delay, second.next_delay_us());
    differs |= delay != other.next_delay_us();
  }
  EXPECT_TRUE(differs);
  zlu_runner::HostWriteJitter none({0, 42});
  EXPECT_EQ(none.next_delay_us(), 0u);
}

}  // namespace
