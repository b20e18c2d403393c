// The software N700 card: 1472 tiles, their SRAM, the exchange, host routes
// and the cycle model.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <vector>

#include "zlu-exchange/src/lib.hpp"

#include "cycle_model.hpp"
#include "program.hpp"
#include "sram.hpp"

namespace zlu_card {

// Largest payload of one host packet; longer host transfers are split.
inline constexpr std::uint32_t HOST_PACKET_BYTES = 4096;

// Clock of the model card, in Hz.
inline constexpr std::uint64_t CARD_CLOCK_HZ = 1'850'000'000;

struct HostRoute {
  // The endpoint fields of a host route: the physical row (0 to 22) and the
  // position in the row (0 to 63) of the tile it reaches.

  std::uint16_t row = 0;
  std::uint16_t position = 0;
  friend bool operator==(const HostRoute&, const HostRoute&) = default;
};

struct StuckBit {
  std::uint16_t logical_tile = 0;
  unsigned bit = 0;  // 0 to 31
  friend bool operator==(const StuckBit&, const StuckBit&) = default;
};

struct CardFaults {
  // Deliberate defects of the model, for tests that show a scenario catches a
  // broken card. The runners set only exchange_slowdown_percent, from their
  // ZLU_SIM_FAULT actions; the others are for in-process tests.

  // Incoming data (exchange receives and H2D writes) lands on the tile at the
  // next position of the same row instead of the named one.
  bool wrong_route = false;
  // Incoming data (exchange receives and H2D writes) lands one 4-byte word
  // past the named address.
  bool address_off_by_one = false;
  // Exchange messages are delivered one after another, so a send reads data
  // that an earlier receive of the same phase already overwrote.
  bool receive_before_send = false;
  // One tile whose SRAM has a bit stuck high in every word (see
  // TileSram::stick_bit): the defect of a real card, set for one card of a
  // host through the runners' ZLU_SIM_CARD_FAULT.
  std::optional<StuckBit> stuck_bit;
  // Every exchange step (exchange phases, H2D and D2H packets) takes this
  // many percent more cycles, rounded up: a slower exchange that still moves
  // the right data, for a gate on cycle counts to catch.
  std::uint32_t exchange_slowdown_percent = 0;
};

struct CardOptions {
  // How a card is built.

  CardFaults faults;
  CycleCosts costs;
  std::uint64_t clock_hz = CARD_CLOCK_HZ;
};

class Card {
  // The model card. Tiles are named by logical number in every call, except the
  // step logs, which are indexed by physical number as the profile stores them.
  // Invariant: each tile's clock equals the end cycle of its last logged step.
  // Every operation validates the whole request before it changes anything, so
  // an operation that returns an error leaves the card as it was; the one
  // exception is a compute phase whose kernel fails, after the kernels before
  // it have run.
 public:
  explicit Card(CardOptions options = {});

  // Number of tiles (1472).
  std::uint16_t tile_count() const;
  std::uint64_t clock_hz() const { return options_.clock_hz; }
  const zlu_exchange::Topology& topology() const { return topology_; }

  // The host route of a logical tile, or ExchangeError::Tile.
  std::expected<HostRoute, zlu_exchange::ExchangeError> host_route(std::uint16_t logical_tile) const;

  // H2D: one host packet through `route` to `address`. The payload is a
  // positive multiple of 4 of at most HOST_PACKET_BYTES; a route outside the
  // card or an oversized payload is ExchangeError::HostPacket, a bad size
  // Count, a range outside the SRAM Address.
  std::expected<void, zlu_exchange::ExchangeError> host_write_packet(HostRoute route, std::uint32_t address,
                                                                     std::span<const std::byte> data);
  // D2H: one host packet read through `route`; checked as host_write_packet.
  std::expected<void, zlu_exchange::ExchangeError> host_read_packet(HostRoute route, std::uint32_t address,
                                                                    std::span<std::byte> out);

  // H2D of any length to a logical tile, split into host packets. The whole
  // range is checked before the first packet is sent.
  std::expected<void, zlu_exchange::ExchangeError> host_write(std::uint16_t logical_tile, std::uint32_t address,
                                                              std::span<const std::byte> data);
  // D2H of any length from a logical tile, split into host packets.
  std::expected<void, zlu_exchange::ExchangeError> host_read(std::uint16_t logical_tile, std::uint32_t address,
                                                             std::span<std::byte> out);

  // Runs a compute phase. Errors: Tile, DuplicateTile (a tile listed twice),
  // Schedule (a task without a kernel), or the first error a kernel returns.
  // Kernels run in task order; a failing kernel stops the phase.
  std::expected<void, zlu_exchange::ExchangeError> compute(const ComputePhase& phase);

  // Synchronises every tile: tiles that arrive early record idle up to the
  // latest arrival, then every tile records the synchronisation.
  void synchronize(const char* operation);

  // Runs an exchange phase, preceded by a card-wide synchronisation. Errors,
  // all found before anything moves: Tile, Count (zero or not a multiple of
  // 4), Address (source or destination range outside the SRAM), ReceiverSet
  // (a transfer without receivers, or receives overlapping on one tile),
  // DuplicateTile (one transfer naming a receiver tile twice).
  std::expected<void, zlu_exchange::ExchangeError> exchange(const ExchangePhase& phase);

  // Direct access to a tile's SRAM for the model's own users (kernels use
  // it through compute); costs no cycles. ExchangeError::Tile for a bad tile.
  std::expected<TileSram*, zlu_exchange::ExchangeError> sram(std::uint16_t logical_tile);

  // Starts the next program invocation: later steps carry the next epoch.
  void begin_epoch();
  std::uint32_t epoch() const { return epoch_; }

  // The timed steps of a tile, by physical number, in order.
  const std::vector<StepRecord>& steps(std::uint16_t physical_tile) const;
  // A tile's clock (its current cycle), by physical number.
  std::uint64_t cycle(std::uint16_t physical_tile) const;
  // The latest clock over all tiles: the simulated length of the run so far.
  std::uint64_t elapsed_cycles() const;

  // Bytes moved so far by exchange phases (counted once per receiver) and by
  // host transfers.
  std::uint64_t exchanged_bytes() const { return exchanged_bytes_; }
  std::uint64_t host_bytes() const { return host_bytes_; }

 private:
  struct TileState {
    TileSram sram;
    std::uint64_t clock = 0;
    std::vector<StepRecord> steps;
  };

  std::uint16_t routed_physical(std::uint16_t physical) const;
  std::uint32_t routed_address(std::uint32_t address) const;
  void record(std::uint16_t physical, StepKind kind, std::uint64_t cycles, const std::string& operation,
              const std::string& kernel, std::vector<StepMetadata> metadata = {});
  std::expected<std::uint16_t, zlu_exchange::ExchangeError> physical_of(std::uint16_t logical) const;

  CardOptions options_;
  zlu_exchange::Topology topology_;
  std::vector<TileState> tiles_;  // by physical number
  std::uint32_t phase_ = 0;
  std::uint32_t epoch_ = 0;
  std::uint64_t exchanged_bytes_ = 0;
  std::uint64_t host_bytes_ = 0;
};

}  // namespace zlu_card
