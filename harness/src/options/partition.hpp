// Partitions: one of N slices of the selected tests, so that N hosts each run
// their own slice and together run every selected test exactly once.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace harness {

inline constexpr std::string_view PARTITION_VAR = "ZLU_TEST_PARTITION";

enum class PartitionKind {
  Count,  // the selected tests dealt round-robin in table order
  Hash,   // each test placed by a stable hash of its name alone
};

struct Partition {
  // The `index`-th (from 1) of `count` slices.

  PartitionKind kind = PartitionKind::Count;
  std::uint64_t index = 1;
  std::uint64_t count = 1;

  bool operator==(const Partition&) const = default;
};

std::expected<Partition, std::string> parse_partition(std::string_view text);
// "count:K/N" or "hash:K/N" with 1 <= K <= N, in decimal; anything else is
// refused with a message naming the variable and the value.

std::uint64_t hash_slice(std::string_view name, std::uint64_t count);
// The slice (from 0) that a hash partition of `count` slices puts `name` in:
// the name's FNV-1a hash, mixed so that every bit of it counts, modulo count.

}  // namespace harness
