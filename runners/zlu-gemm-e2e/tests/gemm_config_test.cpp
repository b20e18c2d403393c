#include "gemm_config.hpp"

#include <map>

#include <gtest/gtest.h>

namespace zlu_gemm {
namespace {

zlu_runner::EnvLookup env_of(std::map<std::string, std::string> values) {
  return [values = std::move(values)](std::string_view name) -> std::optional<std::string> {
    const auto found = values.find(std::string(name));
    if (found == values.end()) return std::nullopt;
    return found->second;
  };
}

std::expected<GemmConfig, zlu_runner::Failure> read(std::map<std::string, std::string> values,
                                                    std::vector<std::string> actions = {}) {
  return read_gemm_config(env_of(std::move(values)), actions, zlu_exchange::N700_TILES);
}

TEST(ReadGemmConfig, TakesTheTestsValues) {
  const auto config = read({{"ZLU_GEMM_DIMENSION", "128"},
                            {"ZLU_GEMM_SRAM_CHECK_BLOCK", "1,1"},
                            {"ZLU_PROFILE_OUTPUT", "/somewhere/zlu-stack-gemm-profile-1.capnp"}});
  ASSERT_TRUE(config) << config.error().message;
  EXPECT_EQ(config->dimension, 128u);
  EXPECT_EQ(config->check_block, (BlockCoordinate{1, 1}));
  EXPECT_EQ(config->profile_output, std::filesystem::path("/somewhere/zlu-stack-gemm-profile-1.capnp"));
  EXPECT_EQ(config->profile_faults, zlu_card::ProfileFaults{});

  const auto largest = read({{"ZLU_GEMM_DIMENSION", "608"}, {"ZLU_GEMM_SRAM_CHECK_BLOCK", "37,0"}});
  ASSERT_TRUE(largest) << largest.error().message;
  EXPECT_EQ(largest->check_block, (BlockCoordinate{37, 0}));
}

TEST(ReadGemmConfig, BadValuesAreConfigurationErrorsNamingVariableAndValue) {
  const std::vector<std::pair<std::string, std::string>> bad{
      {"ZLU_GEMM_DIMENSION", "0"},
      {"ZLU_GEMM_DIMENSION", "100"},
      {"ZLU_GEMM_DIMENSION", "624"},
      {"ZLU_GEMM_DIMENSION", ""},
      {"ZLU_GEMM_DIMENSION", "+128"},
      {"ZLU_GEMM_DIMENSION", "128 "},
      {"ZLU_GEMM_SRAM_CHECK_BLOCK", "1"},
      {"ZLU_GEMM_SRAM_CHECK_BLOCK", "1,"},
      {"ZLU_GEMM_SRAM_CHECK_BLOCK", "1,1,1"},
      {"ZLU_GEMM_SRAM_CHECK_BLOCK", "-1,1"},
      {"ZLU_GEMM_SRAM_CHECK_BLOCK", "8,0"},
      {"ZLU_GEMM_SRAM_CHECK_BLOCK", "0,8"},
      {"ZLU_PROFILE_OUTPUT", ""},
      {"ZLU_PROFILE_OUTPUT", "/var/tmp/"},
      {"ZLU_HOST_WRITE_JITTER_MAX_US", "ten"},
  };
  for (const auto& [name, value] : bad) {
    std::map<std::string, std::string> values{{"ZLU_GEMM_DIMENSION", "128"}};
    values[name] = value;
    const auto config = read(values);
    ASSERT_FALSE(config) << name << "=" << value;
    EXPECT_EQ(config.error().code, zlu_runner::ExitCode::ConfigInvalid);
    EXPECT_NE(config.error().message.find(name + "=\"" + value + "\""), std::string::npos) << config.error().message;
  }
}

TEST(ReadGemmConfig, ABlockOutsideTheMatrixSaysHowLargeTheMatrixIs) {
  const auto config = read({{"ZLU_GEMM_DIMENSION", "64"}, {"ZLU_GEMM_SRAM_CHECK_BLOCK", "4,1"}});
  ASSERT_FALSE(config);
  EXPECT_NE(config.error().message.find("4x4 blocks"), std::string::npos) << config.error().message;
}

TEST(ProfileActions, EachActionSetsItsFault) {
  const auto config =
      read({}, {"profile-tiles=1471", "profile-clock=0", "profile-empty-tile", "profile-without=synchronization",
                "profile-version=4", "profile-garbage", "no-profile"});
  ASSERT_TRUE(config) << config.error().message;
  const zlu_card::ProfileFaults& faults = config->profile_faults;
  EXPECT_EQ(faults.tile_limit, 1471u);
  EXPECT_TRUE(faults.zero_clock);
  EXPECT_TRUE(faults.empty_tile);
  EXPECT_EQ(faults.without_kind, zlu_card::StepKind::Synchronization);
  EXPECT_EQ(faults.version, 4u);
  EXPECT_TRUE(faults.garbage);
  EXPECT_TRUE(faults.skip_file);
}

TEST(ProfileActions, MalformedActionsAreNotTheRunnersOwn) {
  for (const char* action :
       {"profile-tiles=", "profile-tiles=1473", "profile-tiles=x", "profile-clock=1", "profile-without=kernel",
        "profile-without=", "profile-version=-1", "profile-version=4294967296", "no-profile=1", "profile", "exit=1"}) {
    EXPECT_FALSE(is_gemm_action(action)) << action;
  }
  EXPECT_TRUE(is_gemm_action("profile-tiles=0"));
  EXPECT_TRUE(is_gemm_action("profile-version=4294967295"));
}

}  // namespace
}  // namespace zlu_gemm
