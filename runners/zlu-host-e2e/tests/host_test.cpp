#include <gtest/gtest.h>

#include <map>
#include <set>

#include "host_config.hpp"
#include "host_program.hpp"

namespace {

using Env = std::map<std::string, std::string>;
using zlu_host::HostMode;

zlu_runner::EnvLookup lookup(const Env& values) {
  return [values](std::string_view name) -> std::optional<std::string> {
    if (const auto it = values.find(std::string(name)); it != values.end()) return it->second;
    return std::nullopt;
  };
}

zlu_runner::Outcome run(const Env& env, zlu_card::CardFaults faults = {}) {
  const auto config = zlu_host::read_host_config(lookup(env));
  if (!config) return std::unexpected(config.error());
  zlu_card::CardOptions options;
  options.faults = faults;
  zlu_card::Card card(options);
  return zlu_host::run_host_program(*config, card);
}

// The tile list of the host-route coverage test: row 0 whole, then position
// 17 of rows 1 to 22, as logical numbers.
std::string endpoint_cover_list() {
  const auto topology = zlu_exchange::Topology::n700();
  std::vector<std::uint16_t> physical;
  for (std::uint16_t p = 0; p < 64; ++p) physical.push_back(p);
  for (std::uint16_t row = 1; row < 23; ++row) physical.push_back(static_cast<std::uint16_t>(row * 64 + 17));
  std::string list;
  for (const std::uint16_t p : physical) {
    for (std::uint16_t logical = 0; logical < topology.tile_count(); ++logical) {
      if (*topology.physical(logical) == p) {
        list += fmt::format("{}{}", list.empty() ? "" : ",", logical);
        break;
      }
    }
  }
  return list;
}

TEST(HostProgram, EveryConfigurationOfTheHardwareTestsPasses) {
  const std::vector<Env> configurations{
      {{"ZLU_HOST_TEST_D2H_ONLY", "1"}},
      {},
      {{"ZLU_HOST_TEST_RESIDENT_INPUT", "1"}},
      {{"ZLU_HOST_TEST_INVOCATIONS", "3"}},
      {{"ZLU_HOST_TEST_RESIDENT_INPUT", "1"}, {"ZLU_HOST_TEST_INVOCATIONS", "3"}},
      {{"ZLU_HOST_TEST_EXCHANGE", "1"}, {"ZLU_HOST_TEST_INITIALIZED_EXCHANGE", "1"}},
      {{"ZLU_HOST_TEST_EXCHANGE", "1"}, {"ZLU_HOST_TEST_BYTES", "2048"}},
      {{"ZLU_HOST_TEST_COMPUTE_RELAY", "1"}, {"ZLU_HOST_TEST_BYTES", "4"}},
      {{"ZLU_HOST_TEST_TILE", "1471"}, {"ZLU_HOST_TEST_BYTES", "8192"}},
      {{"ZLU_HOST_TEST_TILE", "100"}, {"ZLU_HOST_TEST_BYTES", "65536"}, {"ZLU_HOST_TEST_ADDRESS", "0x60000"}},
      {{"ZLU_HOST_TEST_REMOTE_D2H", "1"}, {"ZLU_HOST_TEST_TILE", "1471"}, {"ZLU_HOST_TEST_BYTES", "8192"}},
      {{"ZLU_HOST_TEST_TILES", "1471,274"}, {"ZLU_HOST_TEST_BYTES", "64"}},
      {{"ZLU_HOST_TEST_TILES", "34,71,144,956,1104,1157,1243,1300"}, {"ZLU_HOST_TEST_BYTES", "4"}},
      {{"ZLU_HOST_TEST_TILES", "11,19,108,451,536,647,846,958"}, {"ZLU_HOST_TEST_BYTES", "1024"}},
      {{"ZLU_HOST_TEST_TILES", "19,82,416,602,829,893,1065,1187"}, {"ZLU_HOST_TEST_BYTES", "8192"}},
      {{"ZLU_HOST_TEST_TILES", endpoint_cover_list()}, {"ZLU_HOST_TEST_BYTES", "64"}},
      {{"ZLU_HOST_TEST_ADDRESS", "0x7ff00"},
       {"ZLU_HOST_WRITE_JITTER_MAX_US", "20"},
       {"ZLU_HOST_WRITE_JITTER_SEED", "0x7"}},
  };
  for (const Env& env : configurations) {
    const auto outcome = run(env);
    std::string settings;
    for (const auto& [name, value] : env) settings += fmt::format("{}={} ", name, value);
    EXPECT_TRUE(outcome.has_value()) << settings << ": " << outcome.error().message;
  }
}

TEST(HostConfig, DefaultsAndModes) {
  const auto defaults = zlu_host::read_host_config(lookup({}));
  ASSERT_TRUE(defaults.has_value());
  EXPECT_EQ(defaults->tiles, std::vector<std::uint16_t>{0});
  EXPECT_EQ(defaults->bytes, 256u);
  EXPECT_EQ(defaults->address, 0u);
  EXPECT_EQ(defaults->invocations, 1u);
  EXPECT_EQ(defaults->mode, HostMode::RoundTrip);
  const auto remote = zlu_host::read_host_config(lookup({{"ZLU_HOST_TEST_REMOTE_D2H", "1"}}));
  ASSERT_TRUE(remote.has_value());
  EXPECT_EQ(remote->mode, HostMode::RemoteD2h);
  EXPECT_EQ(remote->tiles, std::vector<std::uint16_t>{1471});
}

TEST(HostConfig, BadOrConflictingSettingsNameTheVariableAndValue) {
  const std::vector<std::pair<Env, std::string>> cases{
      {{{"ZLU_HOST_TEST_TILE", "1472"}}, "ZLU_HOST_TEST_TILE=\"1472\""},
      {{{"ZLU_HOST_TEST_TILES", "5,1472"}}, "ZLU_HOST_TEST_TILES=\"5,1472\""},
      {{{"ZLU_HOST_TEST_TILES", "274,1471,274"}}, "ZLU_HOST_TEST_TILES=\"274,1471,274\""},
      {{{"ZLU_HOST_TEST_TILE", "1"}, {"ZLU_HOST_TEST_TILES", "2"}}, "ZLU_HOST_TEST_TILES=\"2\""},
      {{{"ZLU_HOST_TEST_ADDRESS", "0x7ff04"}}, "ZLU_HOST_TEST_ADDRESS=\"0x7ff04\""},
      {{{"ZLU_HOST_TEST_ADDRESS", "0x60000"}, {"ZLU_HOST_TEST_BYTES", "131076"}}, "ZLU_HOST_TEST_BYTES=\"131076\""},
      {{{"ZLU_HOST_TEST_ADDRESS", "0x2"}}, "ZLU_HOST_TEST_ADDRESS=\"0x2\""},
      {{{"ZLU_HOST_TEST_ADDRESS", "4096"}}, "ZLU_HOST_TEST_ADDRESS=\"4096\""},
      {{{"ZLU_HOST_TEST_BYTES", "0"}}, "ZLU_HOST_TEST_BYTES=\"0\""},
      {{{"ZLU_HOST_TEST_BYTES", "6"}}, "ZLU_HOST_TEST_BYTES=\"6\""},
      {{{"ZLU_HOST_TEST_INVOCATIONS", "0"}}, "ZLU_HOST_TEST_INVOCATIONS=\"0\""},
      {{{"ZLU_HOST_TEST_INITIALIZED_EXCHANGE", "1"}}, "ZLU_HOST_TEST_INITIALIZED_EXCHANGE=\"1\""},
      {{{"ZLU_HOST_TEST_EXCHANGE", "1"}, {"ZLU_HOST_TEST_D2H_ONLY", "1"}}, "ZLU_HOST_TEST_EXCHANGE=\"1\""},
      {{{"ZLU_HOST_TEST_RESIDENT_INPUT", "1"}, {"ZLU_HOST_TEST_COMPUTE_RELAY", "1"}},
       "ZLU_HOST_TEST_RESIDENT_INPUT=\"1\""},
      {{{"ZLU_HOST_TEST_EXCHANGE", "on"}}, "ZLU_HOST_TEST_EXCHANGE=\"on\""},
      {{{"ZLU_HOST_WRITE_JITTER_MAX_US", "abc"}}, "ZLU_HOST_WRITE_JITTER_MAX_US=\"abc\""},
  };
  for (const auto& [env, named] : cases) {
    const auto config = zlu_host::read_host_config(lookup(env));
    ASSERT_FALSE(config.has_value()) << named;
    EXPECT_EQ(config.error().code, zlu_runner::ExitCode::ConfigInvalid);
    EXPECT_NE(config.error().message.find(named), std::string::npos) << config.error().message;
  }
}

TEST(HostProgram, RelayPartnersAreFreeDistinctTiles) {
  const std::vector<std::uint16_t> tiles{0, 736, 1, 737};
  const auto partners = zlu_host::relay_partners(tiles, 1472);
  ASSERT_TRUE(partners.has_value());
  std::set<std::uint16_t> seen(tiles.begin(), tiles.end());
  for (const std::uint16_t partner : *partners) EXPECT_TRUE(seen.insert(partner).second) << partner;

  std::vector<std::uint16_t> too_many(737);
  for (std::uint16_t t = 0; t < too_many.size(); ++t) too_many[t] = t;
  EXPECT_EQ(zlu_host::relay_partners(too_many, 1472).error().code, zlu_runner::ExitCode::ConfigInvalid);
}

TEST(HostProgram, ABrokenCardFailsTheMatchingCheck) {
  zlu_card::CardFaults wrong_route, off_by_one;
  wrong_route.wrong_route = true;
  off_by_one.address_off_by_one = true;
  for (const auto& faults : {wrong_route, off_by_one}) {
    for (const Env& env : {Env{}, Env{{"ZLU_HOST_TEST_TILES", "1471,274"}},
                           Env{{"ZLU_HOST_TEST_EXCHANGE", "1"}, {"ZLU_HOST_TEST_INITIALIZED_EXCHANGE", "1"}},
                           Env{{"ZLU_HOST_TEST_COMPUTE_RELAY", "1"}, {"ZLU_HOST_TEST_BYTES", "4"}}}) {
      const auto outcome = run(env, faults);
      ASSERT_FALSE(outcome.has_value()) << *outcome;
      EXPECT_EQ(outcome.error().code, zlu_runner::ExitCode::CheckFailed);
      EXPECT_NE(outcome.error().message.find("tile "), std::string::npos) << outcome.error().message;
    }
  }
}

}  // namespace
