#include "cycle_model.hpp"

namespace zlu_card {
namespace {

std::uint64_t ceil_div(std::uint64_t value, std::uint64_t divisor) { return (value + divisor - 1) / divisor; }

}  // namespace

const char* step_kind_name(StepKind kind) {
  switch (kind) {
    case StepKind::Exchange: return "exchange";
    case StepKind::Compute: return "compute";
    case StepKind::Synchronization: return "synchronization";
    case StepKind::Idle: return "idle";
  }
  return "unknown";
}

std::uint64_t exchange_cycles(const CycleCosts& costs, std::uint64_t messages_sent, std::uint64_t bytes_sent,
                              std::uint64_t messages_received, std::uint64_t bytes_received) {
  // A tile's exchange port sends and receives at once, so the longer of the
  // two directions decides.
  const std::uint64_t out = messages_sent * costs.message_setup + ceil_div(bytes_sent, costs.exchange_bytes_per_cycle);
  const std::uint64_t in =
      messages_received * costs.message_setup + ceil_div(bytes_received, costs.exchange_bytes_per_cycle);
  return out > in ? out : in;
}

std::uint64_t compute_cycles(const CycleCosts& costs, std::uint64_t operations) {
  return costs.compute_setup + ceil_div(operations, costs.operations_per_cycle);
}

std::uint64_t host_packet_cycles(const CycleCosts& costs, std::uint64_t bytes) {
  return costs.host_packet_setup + ceil_div(bytes, costs.exchange_bytes_per_cycle);
}

}  // namespace zlu_card
