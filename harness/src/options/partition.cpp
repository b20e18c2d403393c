#include "options/partition.hpp"

#include <fmt/format.h>

#include "zlu-base/src/decimal.hpp"
#include "options/stable_hash.hpp"

namespace harness {

std::expected<Partition, std::string> parse_partition(std::string_view text) {
  const auto refused = [&] {
    return std::unexpected(fmt::format("{} is `{}`, should be count:K/N or hash:K/N with 1 <= K <= N.",
                                       PARTITION_VAR, text));
  };
  const std::size_t colon = text.find(':');
  const std::size_t slash = text.find('/');
  if (colon == std::string_view::npos || slash == std::string_view::npos || slash < colon) return refused();
  const std::string_view kind = text.substr(0, colon);
  Partition partition;
  if (kind == "count") {
    partition.kind = PartitionKind::Count;
  } else if (kind == "hash") {
    partition.kind = PartitionKind::Hash;
  } else {
    return refused();
  }
  const auto index = zlu_base::parse_decimal_u64(text.substr(colon + 1, slash - colon - 1));
  const auto count = zlu_base::parse_decimal_u64(text.substr(slash + 1));
  if (!index || !count || *index == 0 || *index > *count) return refused();
  partition.index = *index;
  partition.count = *count;
  return partition;
}

std::uint64_t hash_slice(std::string_view name, std::uint64_t count) {
  // FNV-1a's low bits depend on few input bits (its lowest is the parity of
  // the bytes' lowest bits), so the finaliser spreads them first.
  return splitmix64_mix(fnv1a(name)) % count;
}

}  // namespace harness
