// The card's deterministic cycle model and the per-tile log of timed steps.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zlu_card {

// The four kinds of step a tile spends cycles in.
enum class StepKind : std::uint8_t { Exchange, Compute, Synchronization, Idle };

// Lower-case name of a kind: "exchange", "compute", "synchronization", "idle".
const char* step_kind_name(StepKind kind);

struct StepMetadata {
  // A metadata entry attached to a step, e.g. {"bytes", "256"}.

  std::string name;
  std::string value;
  friend bool operator==(const StepMetadata&, const StepMetadata&) = default;
};

struct StepRecord {
  // One timed step of one tile: [start_cycle, end_cycle) on the tile's clock.
  // `operation` names the program phase the step belongs to (the phase's name),
  // `kernel` the code the tile ran in it ("exchange", "sync", "idle" or the
  // compute kernel's name). `phase` counts the card's phases from 0, `epoch`
  // counts program invocations (see Card::begin_epoch), and `local_index`
  // counts the tile's own steps from 0.

  StepKind kind = StepKind::Idle;
  std::uint64_t start_cycle = 0;
  std::uint64_t end_cycle = 0;
  std::string operation;
  std::string kernel;
  std::uint32_t phase = 0;
  std::uint32_t epoch = 0;
  std::uint32_t local_index = 0;
  std::vector<StepMetadata> metadata;
};

struct CycleCosts {
  // Costs of the cycle model. The figures are not those of a real card; they
  // are fixed so that the same program always takes the same cycles, and they
  // grow with the work done.

  // Start-up of one message on the exchange, per sender and per receiver.
  std::uint64_t message_setup = 24;
  // Bytes the exchange moves per cycle into or out of a tile.
  std::uint64_t exchange_bytes_per_cycle = 4;
  // Start-up of a compute step.
  std::uint64_t compute_setup = 8;
  // Arithmetic operations a tile retires per cycle.
  std::uint64_t operations_per_cycle = 2;
  // Cost of the card-wide synchronisation once every tile has arrived.
  std::uint64_t synchronization = 16;
  // Start-up of one host packet (H2D or D2H) on the tile's host route.
  std::uint64_t host_packet_setup = 64;
};

// Cycles a tile spends sending `bytes_sent` in `messages_sent` messages and
// receiving `bytes_received` in `messages_received` messages in one phase.
std::uint64_t exchange_cycles(const CycleCosts& costs, std::uint64_t messages_sent, std::uint64_t bytes_sent,
                              std::uint64_t messages_received, std::uint64_t bytes_received);

// Cycles of a compute step that performs `operations` arithmetic operations.
std::uint64_t compute_cycles(const CycleCosts& costs, std::uint64_t operations);

// Cycles of one host packet of `bytes` bytes.
std::uint64_t host_packet_cycles(const CycleCosts& costs, std::uint64_t bytes);

}  // namespace zlu_card
