// The programs the card runs: compute phases and exchange phases.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <string>
#include <vector>

#include "zlu-exchange/src/lib.hpp"

#include "cycle_model.hpp"
#include "sram.hpp"

namespace zlu_card {

struct Destination {
  // Where a message lands: a logical tile and an SRAM address on it.

  std::uint16_t tile = 0;
  std::uint32_t address = 0;
  friend bool operator==(const Destination&, const Destination&) = default;
};

struct Transfer {
  // One message of an exchange phase: `bytes` bytes read from `source_address`
  // on logical tile `source_tile`, delivered to every receiver (one receiver is a
  // plain send, several a multicast). `bytes` is a positive multiple of 4.

  std::uint16_t source_tile = 0;
  std::uint32_t source_address = 0;
  std::uint32_t bytes = 0;
  std::vector<Destination> receivers;
};

struct ExchangePhase {
  // An exchange phase: every send reads its source as it was when the phase
  // began and every receive lands when it ends, so a tile may receive and send
  // in the same phase. Receives on one tile must not overlap.

  std::string name;
  std::vector<Transfer> transfers;
};

struct ComputeWork {
  // What a compute kernel reports: the arithmetic operations it performed (for
  // the cycle model) and metadata to attach to its step.

  std::uint64_t operations = 0;
  std::vector<StepMetadata> metadata;
};

// A kernel runs on one tile's SRAM. It returns its work, or an error (usually
// ExchangeError::Address from a bad SRAM access) that stops the phase.
using Kernel = std::function<std::expected<ComputeWork, zlu_exchange::ExchangeError>(TileSram&)>;

struct ComputeTask {
  // The code one logical tile runs in a compute phase.

  std::uint16_t tile = 0;
  std::string kernel_name;
  Kernel kernel;
};

struct ComputePhase {
  // A compute phase: each listed tile runs its kernel; a tile may be listed once
  // at most. Tiles not listed do nothing and record idle until the next
  // synchronisation.

  std::string name;
  std::vector<ComputeTask> tasks;
};

}  // namespace zlu_card
