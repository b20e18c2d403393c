#include "card.hpp"

#include <algorithm>
#include <array>
#include <string>

#include <fmt/format.h>

namespace zlu_card {

using zlu_exchange::ExchangeError;

namespace {

constexpr std::uint32_t WORD_BYTES = 4;

std::expected<void, ExchangeError> check_count(std::uint64_t bytes) {
  if (bytes == 0 || bytes % WORD_BYTES != 0 || bytes > SRAM_BYTES) {
    return std::unexpected(
        ExchangeError::Count{static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes, UINT32_MAX))});
  }
  return {};
}

std::vector<StepMetadata> host_metadata(std::uint32_t address, std::size_t bytes) {
  return {{"address", fmt::format("{:#x}", address)}, {"bytes", std::to_string(bytes)}};
}

}  // namespace

Card::Card(CardOptions options) : options_(options), topology_(zlu_exchange::Topology::n700()) {
  tiles_.resize(topology_.tile_count());
  if (const auto& stuck = options_.faults.stuck_bit) {
    if (const auto physical = physical_of(stuck->logical_tile)) tiles_[*physical].sram.stick_bit(stuck->bit);
  }
}

std::uint16_t Card::tile_count() const { return topology_.tile_count(); }

std::expected<std::uint16_t, ExchangeError> Card::physical_of(std::uint16_t logical) const {
  return topology_.physical(logical);
}

std::uint16_t Card::routed_physical(std::uint16_t physical) const {
  if (!options_.faults.wrong_route) return physical;
  const auto location = zlu_exchange::physical_location(physical);
  return zlu_exchange::physical_at(
      {location.row, static_cast<std::uint16_t>((location.position + 1u) % zlu_exchange::N700_ROW_TILES)});
}

std::uint32_t Card::routed_address(std::uint32_t address) const {
  return options_.faults.address_off_by_one ? address + WORD_BYTES : address;
}

void Card::record(std::uint16_t physical, StepKind kind, std::uint64_t cycles, const std::string& operation,
                  const std::string& kernel, std::vector<StepMetadata> metadata) {
  const std::uint64_t slowdown = options_.faults.exchange_slowdown_percent;
  if (kind == StepKind::Exchange && slowdown != 0) cycles += (cycles * slowdown + 99) / 100;
  TileState& tile = tiles_[physical];
  StepRecord step;
  step.kind = kind;
  step.start_cycle = tile.clock;
  step.end_cycle = tile.clock + cycles;
  step.operation = operation;
  step.kernel = kernel;
  step.phase = phase_;
  step.epoch = epoch_;
  step.local_index = static_cast<std::uint32_t>(tile.steps.size());
  step.metadata = std::move(metadata);
  tile.clock = step.end_cycle;
  tile.steps.push_back(std::move(step));
}

std::expected<HostRoute, ExchangeError> Card::host_route(std::uint16_t logical_tile) const {
  auto physical = physical_of(logical_tile);
  if (!physical) return std::unexpected(physical.error());
  const auto location = zlu_exchange::physical_location(*physical);
  return HostRoute{location.row, location.position};
}

namespace {

// A host packet's route and size, checked before it moves.
std::expected<std::uint16_t, ExchangeError> check_host_packet(HostRoute route, std::uint32_t address,
                                                              std::size_t bytes) {
  if (route.row >= zlu_exchange::N700_ROWS || route.position >= zlu_exchange::N700_ROW_TILES) {
    return std::unexpected(ExchangeError::HostPacket{});
  }
  if (bytes > HOST_PACKET_BYTES) return std::unexpected(ExchangeError::HostPacket{});
  if (auto count = check_count(bytes); !count) return std::unexpected(count.error());
  if (auto range = check_sram_range(address, bytes); !range) return std::unexpected(range.error());
  return zlu_exchange::physical_at({route.row, route.position});
}

}  // namespace

std::expected<void, ExchangeError> Card::host_write_packet(HostRoute route, std::uint32_t address,
                                                           std::span<const std::byte> data) {
  auto physical = check_host_packet(route, address, data.size());
  if (!physical) return std::unexpected(physical.error());
  const std::uint16_t target = routed_physical(*physical);
  if (auto written = tiles_[target].sram.write(routed_address(address), data); !written) return written;
  host_bytes_ += data.size();
  record(target, StepKind::Exchange, host_packet_cycles(options_.costs, data.size()), "host-write", "h2d",
         host_metadata(address, data.size()));
  return {};
}

std::expected<void, ExchangeError> Card::host_read_packet(HostRoute route, std::uint32_t address,
                                                          std::span<std::byte> out) {
  auto physical = check_host_packet(route, address, out.size());
  if (!physical) return std::unexpected(physical.error());
  const std::uint16_t source = *physical;
  if (auto read = tiles_[source].sram.read(address, out); !read) return read;
  host_bytes_ += out.size();
  record(source, StepKind::Exchange, host_packet_cycles(options_.costs, out.size()), "host-read", "d2h",
         host_metadata(address, out.size()));
  return {};
}

std::expected<void, ExchangeError> Card::host_write(std::uint16_t logical_tile, std::uint32_t address,
                                                    std::span<const std::byte> data) {
  auto route = host_route(logical_tile);
  if (!route) return std::unexpected(route.error());
  if (auto count = check_count(data.size()); !count) return count;
  if (auto range = check_sram_range(address, data.size()); !range) return range;
  for (std::size_t done = 0; done < data.size(); done += HOST_PACKET_BYTES) {
    const auto packet = data.subspan(done, std::min<std::size_t>(HOST_PACKET_BYTES, data.size() - done));
    if (auto sent = host_write_packet(*route, address + static_cast<std::uint32_t>(done), packet); !sent) return sent;
  }
  return {};
}

std::expected<void, ExchangeError> Card::host_read(std::uint16_t logical_tile, std::uint32_t address,
                                                   std::span<std::byte> out) {
  auto route = host_route(logical_tile);
  if (!route) return std::unexpected(route.error());
  if (auto count = check_count(out.size()); !count) return count;
  if (auto range = check_sram_range(address, out.size()); !range) return range;
  for (std::size_t done = 0; done < out.size(); done += HOST_PACKET_BYTES) {
    const auto packet = out.subspan(done, std::min<std::size_t>(HOST_PACKET_BYTES, out.size() - done));
    if (auto read = host_read_packet(*route, address + static_cast<std::uint32_t>(done), packet); !read) return read;
  }
  return {};
}

std::expected<void, ExchangeError> Card::compute(const ComputePhase& phase) {
  std::vector<std::uint16_t> physical(phase.tasks.size());
  std::vector<bool> listed(tiles_.size(), false);
  for (std::size_t i = 0; i < phase.tasks.size(); ++i) {
    auto tile = physical_of(phase.tasks[i].tile);
    if (!tile) return std::unexpected(tile.error());
    if (listed[*tile]) return std::unexpected(ExchangeError::DuplicateTile{});
    if (!phase.tasks[i].kernel) return std::unexpected(ExchangeError::Schedule{"compute task without a kernel"});
    listed[*tile] = true;
    physical[i] = *tile;
  }
  for (std::size_t i = 0; i < phase.tasks.size(); ++i) {
    const ComputeTask& task = phase.tasks[i];
    auto work = task.kernel(tiles_[physical[i]].sram);
    if (!work) return std::unexpected(work.error());
    record(physical[i], StepKind::Compute, compute_cycles(options_.costs, work->operations), phase.name,
           task.kernel_name, std::move(work->metadata));
  }
  ++phase_;
  return {};
}

void Card::synchronize(const char* operation) {
  const std::string name = operation;
  const std::uint64_t latest = elapsed_cycles();
  for (std::uint16_t physical = 0; physical < tiles_.size(); ++physical) {
    const std::uint64_t clock = tiles_[physical].clock;
    if (clock < latest) record(physical, StepKind::Idle, latest - clock, name, "idle");
    record(physical, StepKind::Synchronization, options_.costs.synchronization, name, "sync");
  }
  ++phase_;
}

namespace {

// A byte range that a receive covers on one physical tile.
struct ReceiveRange {
  std::uint16_t tile;
  std::uint32_t begin;
  std::uint32_t end;
};

}  // namespace

std::expected<void, ExchangeError> Card::exchange(const ExchangePhase& phase) {
  // Resolved physical source and receivers of each transfer.
  std::vector<std::uint16_t> sources(phase.transfers.size());
  std::vector<std::vector<std::uint16_t>> receivers(phase.transfers.size());
  std::vector<ReceiveRange> ranges;
  for (std::size_t i = 0; i < phase.transfers.size(); ++i) {
    const Transfer& transfer = phase.transfers[i];
    auto source = physical_of(transfer.source_tile);
    if (!source) return std::unexpected(source.error());
    if (auto count = check_count(transfer.bytes); !count) return count;
    if (auto range = check_sram_range(transfer.source_address, transfer.bytes); !range) return range;
    if (transfer.receivers.empty()) return std::unexpected(ExchangeError::ReceiverSet{});
    sources[i] = *source;
    for (const Destination& destination : transfer.receivers) {
      auto tile = physical_of(destination.tile);
      if (!tile) return std::unexpected(tile.error());
      if (std::find(receivers[i].begin(), receivers[i].end(), *tile) != receivers[i].end()) {
        return std::unexpected(ExchangeError::DuplicateTile{});
      }
      if (auto range = check_sram_range(destination.address, transfer.bytes); !range) return range;
      receivers[i].push_back(*tile);
      ranges.push_back({*tile, destination.address, destination.address + transfer.bytes});
    }
  }
  std::sort(ranges.begin(), ranges.end(), [](const ReceiveRange& a, const ReceiveRange& b) {
    return std::tie(a.tile, a.begin) < std::tie(b.tile, b.begin);
  });
  for (std::size_t i = 1; i < ranges.size(); ++i) {
    if (ranges[i].tile == ranges[i - 1].tile && ranges[i].begin < ranges[i - 1].end) {
      return std::unexpected(ExchangeError::ReceiverSet{});
    }
  }

  synchronize(phase.name.c_str());

  // Per physical tile: messages sent, bytes sent, messages received, bytes received.
  std::vector<std::array<std::uint64_t, 4>> traffic(tiles_.size(), {0, 0, 0, 0});
  const auto deliver = [&](std::size_t i, std::span<const std::byte> payload) -> std::expected<void, ExchangeError> {
    const Transfer& transfer = phase.transfers[i];
    for (std::size_t r = 0; r < transfer.receivers.size(); ++r) {
      const std::uint16_t target = routed_physical(receivers[i][r]);
      auto written = tiles_[target].sram.write(routed_address(transfer.receivers[r].address), payload);
      if (!written) return written;
      traffic[target][2] += 1;
      traffic[target][3] += transfer.bytes;
      exchanged_bytes_ += transfer.bytes;
    }
    traffic[sources[i]][0] += 1;
    traffic[sources[i]][1] += transfer.bytes;
    return {};
  };

  if (options_.faults.receive_before_send) {
    std::vector<std::byte> payload;
    for (std::size_t i = 0; i < phase.transfers.size(); ++i) {
      payload.resize(phase.transfers[i].bytes);
      (void)tiles_[sources[i]].sram.read(phase.transfers[i].source_address, payload);
      if (auto delivered = deliver(i, payload); !delivered) return delivered;
    }
  } else {
    // Every source is read before any receive lands.
    std::vector<std::vector<std::byte>> payloads(phase.transfers.size());
    for (std::size_t i = 0; i < phase.transfers.size(); ++i) {
      payloads[i].resize(phase.transfers[i].bytes);
      (void)tiles_[sources[i]].sram.read(phase.transfers[i].source_address, payloads[i]);
    }
    for (std::size_t i = 0; i < phase.transfers.size(); ++i) {
      if (auto delivered = deliver(i, payloads[i]); !delivered) return delivered;
    }
  }

  for (std::uint16_t physical = 0; physical < tiles_.size(); ++physical) {
    const auto& [sent_messages, sent_bytes, received_messages, received_bytes] = traffic[physical];
    if (sent_messages == 0 && received_messages == 0) continue;
    record(physical, StepKind::Exchange,
           exchange_cycles(options_.costs, sent_messages, sent_bytes, received_messages, received_bytes), phase.name,
           "exchange",
           {{"bytes_sent", std::to_string(sent_bytes)}, {"bytes_received", std::to_string(received_bytes)}});
  }
  ++phase_;
  return {};
}

std::expected<TileSram*, ExchangeError> Card::sram(std::uint16_t logical_tile) {
  auto physical = physical_of(logical_tile);
  if (!physical) return std::unexpected(physical.error());
  return &tiles_[*physical].sram;
}

void Card::begin_epoch() { ++epoch_; }

const std::vector<StepRecord>& Card::steps(std::uint16_t physical_tile) const { return tiles_.at(physical_tile).steps; }

std::uint64_t Card::cycle(std::uint16_t physical_tile) const { return tiles_.at(physical_tile).clock; }

std::uint64_t Card::elapsed_cycles() const {
  std::uint64_t latest = 0;
  for (const TileState& tile : tiles_) latest = std::max(latest, tile.clock);
  return latest;
}

}  // namespace zlu_card
