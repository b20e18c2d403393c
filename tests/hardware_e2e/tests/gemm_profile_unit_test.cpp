#include <gtest/gtest.h>

#include "gemm_profile.hpp"

namespace hardware_e2e {
namespace {

TEST(GemmProfilePath, JoinsTheDirectoryWithOneSlashAndTakesAnEmptyOneAsUnset) {
  EXPECT_EQ(gemm_profile_path(nullptr, 4242), "/tmp/zlu-stack-gemm-profile-4242.capnp");
  EXPECT_EQ(gemm_profile_path("/var/tmp", 7), "/var/tmp/zlu-stack-gemm-profile-7.capnp");
  EXPECT_EQ(gemm_profile_path("/var/tmp/", 7), "/var/tmp/zlu-stack-gemm-profile-7.capnp");
  EXPECT_EQ(gemm_profile_path("", 7), "/tmp/zlu-stack-gemm-profile-7.capnp");
  EXPECT_EQ(gemm_profile_path("//", 7), "//zlu-stack-gemm-profile-7.capnp");
}

}  // namespace
}  // namespace hardware_e2e
