#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <tuple>
#include <numeric>

#include "card.hpp"

namespace {

using zlu_card::Card;
using zlu_card::CardOptions;
using zlu_card::ComputeWork;
using zlu_card::StepKind;
using zlu_card::TileSram;
using zlu_exchange::ExchangeError;

std::vector<std::uint32_t> words_from(std::uint32_t first, std::size_t count) {
  std::vector<std::uint32_t> words(count);
  std::iota(words.begin(), words.end(), first);
  return words;
}

std::vector<std::uint32_t> read_back(Card& card, std::uint16_t tile, std::uint32_t address, std::size_t count) {
  std::vector<std::uint32_t> words(count);
  const auto read = card.host_read(tile, address, std::as_writable_bytes(std::span(words)));
  EXPECT_TRUE(read.has_value()) << read.error().render();
  return words;
}

void put(Card& card, std::uint16_t tile, std::uint32_t address, const std::vector<std::uint32_t>& words) {
  const auto written = card.host_write(tile, address, std::as_bytes(std::span(words)));
  ASSERT_TRUE(written.has_value()) << written.error().render();
}

Card card_with(bool wrong_route, bool address_off_by_one, bool receive_before_send) {
  CardOptions options;
  options.faults.wrong_route = wrong_route;
  options.faults.address_off_by_one = address_off_by_one;
  options.faults.receive_before_send = receive_before_send;
  return Card(options);
}

zlu_card::Kernel spin(std::uint64_t operations) {
  return [operations](TileSram&) -> std::expected<ComputeWork, ExchangeError> { return ComputeWork{operations, {}}; };
}

TEST(TileSram, UntouchedMemoryReadsZeroAndCostsNoPages) {
  TileSram sram;
  std::vector<std::byte> out(64, std::byte{0xff});
  ASSERT_TRUE(sram.read(0x40000, out).has_value());
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](std::byte b) { return b == std::byte{0}; }));
  EXPECT_EQ(sram.pages_allocated(), 0u);

  // A write across a page boundary allocates exactly the two pages it touches.
  const std::vector<std::byte> data(8, std::byte{0x5a});
  ASSERT_TRUE(sram.write(zlu_card::PAGE_BYTES - 4, data).has_value());
  EXPECT_EQ(sram.pages_allocated(), 2u);
  std::vector<std::byte> back(16);
  ASSERT_TRUE(sram.read(zlu_card::PAGE_BYTES - 8, back).has_value());
  EXPECT_EQ(back[3], std::byte{0});
  EXPECT_EQ(back[4], std::byte{0x5a});
  EXPECT_EQ(back[11], std::byte{0x5a});
  EXPECT_EQ(back[12], std::byte{0});
}

TEST(TileSram, RangesOutsideTheSramAreAddressErrorsAndWriteNothing) {
  TileSram sram;
  std::vector<std::byte> four(4, std::byte{1});
  EXPECT_EQ(sram.write(0x80000, four).error(), ExchangeError(ExchangeError::Address{0x80000}));
  EXPECT_EQ(sram.write(0x7fffe, four).error(), ExchangeError(ExchangeError::Address{0x80000}));
  EXPECT_EQ(sram.read(0xffffffff, four).error(), ExchangeError(ExchangeError::Address{0xffffffff}));
  EXPECT_TRUE(sram.write(0x7fffc, four).has_value());
  EXPECT_EQ(sram.pages_allocated(), 1u);
}

TEST(Card, TouchingEveryTileAllocatesOnlyThePagesWritten) {
  Card card;
  for (std::uint16_t tile = 0; tile < card.tile_count(); ++tile) put(card, tile, 0x7f000, {tile});
  for (std::uint16_t tile = 0; tile < card.tile_count(); ++tile) {
    EXPECT_EQ((*card.sram(tile))->pages_allocated(), 1u);
    EXPECT_EQ(read_back(card, tile, 0x7f000, 1)[0], tile);
  }
}

TEST(Card, HostRoutesUseThePhysicalRowAndPosition) {
  Card card;
  EXPECT_EQ(*card.host_route(0), (zlu_card::HostRoute{0, 0}));
  EXPECT_EQ(*card.host_route(45), (zlu_card::HostRoute{22, 2}));
  EXPECT_EQ(*card.host_route(1471), (zlu_card::HostRoute{0, 63}));
  EXPECT_EQ(card.host_route(1472).error(), ExchangeError(ExchangeError::Tile{1472}));

  const auto data = words_from(7, 4);
  ASSERT_TRUE(card.host_write_packet({22, 2}, 0x100, std::as_bytes(std::span(data))).has_value());
  EXPECT_EQ(read_back(card, 45, 0x100, 4), data);
}

TEST(Card, HostTransfersAreCheckedBeforeAnythingMoves) {
  Card card;
  const auto data = words_from(1, 2048);  // two host packets
  const auto bytes = std::as_bytes(std::span(data));
  EXPECT_TRUE(card.host_write_packet({23, 0}, 0, bytes.first(4)).error().is<ExchangeError::HostPacket>());
  EXPECT_TRUE(card.host_write_packet({0, 64}, 0, bytes.first(4)).error().is<ExchangeError::HostPacket>());
  EXPECT_TRUE(card.host_write_packet({0, 0}, 0, bytes).error().is<ExchangeError::HostPacket>());
  EXPECT_EQ(card.host_write_packet({0, 0}, 0, bytes.first(6)).error(), ExchangeError(ExchangeError::Count{6}));
  EXPECT_EQ(card.host_write(1472, 0, bytes).error(), ExchangeError(ExchangeError::Tile{1472}));
  EXPECT_EQ(card.host_write(0, 0, bytes.first(0)).error(), ExchangeError(ExchangeError::Count{0}));
  // The second packet would leave the SRAM: the first must not land either.
  EXPECT_TRUE(card.host_write(3, 0x7f000, bytes).error().is<ExchangeError::Address>());
  EXPECT_EQ((*card.sram(3))->pages_allocated(), 0u);
  EXPECT_EQ(card.host_bytes(), 0u);

  put(card, 3, 0x7e000, std::vector<std::uint32_t>(data.begin(), data.begin() + 1024));
  EXPECT_EQ(read_back(card, 3, 0x7e000, 1024), std::vector<std::uint32_t>(data.begin(), data.begin() + 1024));
}

TEST(Card, ExchangeRejectsBadPhasesWithoutChangingTheCard) {
  Card card;
  put(card, 1, 0, words_from(100, 16));
  const auto steps_before = card.steps(card.topology().physical(2).value()).size();
  using Phase = zlu_card::ExchangePhase;
  const auto expect_error = [&](const Phase& phase, const ExchangeError& error) {
    const auto done = card.exchange(phase);
    ASSERT_FALSE(done.has_value()) << phase.name;
    EXPECT_EQ(done.error(), error) << phase.name << ": " << done.error().render();
    EXPECT_EQ(card.steps(card.topology().physical(2).value()).size(), steps_before) << phase.name;
  };
  expect_error({"overlap", {{1, 0, 16, {{2, 0x100}}}, {1, 16, 16, {{2, 0x10c}}}}}, ExchangeError::ReceiverSet{});
  expect_error({"empty", {{1, 0, 16, {}}}}, ExchangeError::ReceiverSet{});
  expect_error({"twice", {{1, 0, 16, {{2, 0x100}, {2, 0x200}}}}}, ExchangeError::DuplicateTile{});
  expect_error({"unaligned", {{1, 0, 6, {{2, 0x100}}}}}, ExchangeError::Count{6});
  expect_error({"source", {{1, 0x7fff0, 32, {{2, 0x100}}}}}, ExchangeError::Address{0x80000});
  expect_error({"destination", {{1, 0, 16, {{2, 0x80000}}}}}, ExchangeError::Address{0x80000});
  expect_error({"tile", {{1, 0, 16, {{1472, 0}}}}}, ExchangeError::Tile{1472});
  EXPECT_EQ(card.exchanged_bytes(), 0u);
  EXPECT_EQ(read_back(card, 2, 0x100, 4), std::vector<std::uint32_t>(4, 0));

  // Adjacent receives on one tile are fine.
  ASSERT_TRUE(card.exchange({"adjacent", {{1, 0, 16, {{2, 0x100}}}, {1, 16, 16, {{2, 0x110}}}}}).has_value());
  EXPECT_EQ(read_back(card, 2, 0x100, 8), words_from(100, 8));
}

TEST(Card, SendsReadTheSourceAsItWasWhenThePhaseBegan) {
  Card card;
  put(card, 10, 0, words_from(10, 4));
  put(card, 11, 0, words_from(11, 4));
  put(card, 12, 0, words_from(12, 4));
  // 10 -> 11 -> 12 as a chain, and 12 -> 10 closing the ring, in one phase.
  ASSERT_TRUE(card.exchange({"ring", {{10, 0, 16, {{11, 0}}}, {11, 0, 16, {{12, 0}}}, {12, 0, 16, {{10, 0}}}}}));
  EXPECT_EQ(read_back(card, 11, 0, 4), words_from(10, 4));
  EXPECT_EQ(read_back(card, 12, 0, 4), words_from(11, 4));
  EXPECT_EQ(read_back(card, 10, 0, 4), words_from(12, 4));
}

TEST(Card, ComputeRejectsDuplicateTilesAndMissingKernels) {
  Card card;
  EXPECT_EQ(card.compute({"dup", {{4, "k", spin(1)}, {4, "k", spin(1)}}}).error(),
            ExchangeError(ExchangeError::DuplicateTile{}));
  EXPECT_TRUE(card.compute({"none", {{4, "k", nullptr}}}).error().is<ExchangeError::Schedule>());
  EXPECT_EQ(card.compute({"tile", {{1472, "k", spin(1)}}}).error(), ExchangeError(ExchangeError::Tile{1472}));
  EXPECT_EQ(card.elapsed_cycles(), 0u);
}

// Runs a small program with uneven compute so that tiles wait for each other.
void run_uneven_program(Card& card) {
  put(card, 0, 0, words_from(1, 64));
  ASSERT_TRUE(card.compute({"uneven", {{0, "long", spin(4000)}, {1, "short", spin(10)}}}));
  ASSERT_TRUE(card.exchange({"share", {{0, 0, 256, {{1, 0}, {2, 0}}}}}));
}

TEST(CycleModel, IdenticalProgramsGiveIdenticalLogsAndWaitingTilesRecordIdle) {
  Card first, second;
  run_uneven_program(first);
  run_uneven_program(second);
  const auto& topology = first.topology();
  for (std::uint16_t physical = 0; physical < first.tile_count(); ++physical) {
    const auto& a = first.steps(physical);
    const auto& b = second.steps(physical);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
      EXPECT_EQ(a[i].start_cycle, b[i].start_cycle);
      EXPECT_EQ(a[i].end_cycle, b[i].end_cycle);
      EXPECT_EQ(a[i].kind, b[i].kind);
      // Each tile's steps follow one another without gaps.
      EXPECT_EQ(a[i].local_index, i);
      if (i > 0) {
        EXPECT_EQ(a[i].start_cycle, a[i - 1].end_cycle);
      }
    }
    EXPECT_EQ(first.cycle(physical), a.empty() ? 0 : a.back().end_cycle);
  }
  // Tile 1 computed briefly and waited for tile 0's long kernel.
  const auto& short_tile = first.steps(topology.physical(1).value());
  const auto idle =
      std::find_if(short_tile.begin(), short_tile.end(), [](const auto& s) { return s.kind == StepKind::Idle; });
  ASSERT_NE(idle, short_tile.end());
  const auto& long_tile = first.steps(topology.physical(0).value());
  const auto long_compute =
      std::find_if(long_tile.begin(), long_tile.end(), [](const auto& s) { return s.kind == StepKind::Compute; });
  ASSERT_NE(long_compute, long_tile.end());
  EXPECT_EQ(idle->end_cycle, long_compute->end_cycle);
  // After the synchronisation every tile is at the same cycle.
  const auto sync = std::find_if(short_tile.begin(), short_tile.end(),
                                 [](const auto& s) { return s.kind == StepKind::Synchronization; });
  ASSERT_NE(sync, short_tile.end());
  EXPECT_EQ(sync->start_cycle, long_compute->end_cycle);
  // The sender and both receivers record the exchange with what they moved.
  for (const std::uint16_t tile : {0, 1, 2}) {
    const auto& steps = first.steps(topology.physical(tile).value());
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps.back().kind, StepKind::Exchange) << tile;
    EXPECT_EQ(steps.back().operation, "share");
  }
  EXPECT_EQ(first.steps(topology.physical(3).value()).back().kind, StepKind::Synchronization);
}

TEST(CycleModel, MoreWorkTakesMoreCycles) {
  const zlu_card::CycleCosts costs;
  EXPECT_LT(zlu_card::exchange_cycles(costs, 1, 64, 0, 0), zlu_card::exchange_cycles(costs, 1, 4096, 0, 0));
  EXPECT_LT(zlu_card::exchange_cycles(costs, 1, 64, 0, 0), zlu_card::exchange_cycles(costs, 1, 64, 4, 64));
  EXPECT_LT(zlu_card::compute_cycles(costs, 10), zlu_card::compute_cycles(costs, 1000));
  EXPECT_LT(zlu_card::host_packet_cycles(costs, 4), zlu_card::host_packet_cycles(costs, 4096));
}

TEST(CardFaults, EachFaultBreaksTheBehaviourItNames) {
  const auto swap_phase = zlu_card::ExchangePhase{"swap", {{20, 0, 16, {{21, 0}}}, {21, 0, 16, {{20, 0}}}}};
  {
    Card card = card_with(true, false, false);
    const auto data = words_from(30, 4);
    ASSERT_TRUE((*card.sram(30))->write(0, std::as_bytes(std::span(data))));
    ASSERT_TRUE(card.exchange({"send", {{30, 0, 16, {{31, 0x40}}}}}));
    EXPECT_NE(read_back(card, 31, 0x40, 4), words_from(30, 4));
    put(card, 32, 0x40, words_from(32, 4));
    EXPECT_NE(read_back(card, 32, 0x40, 4), words_from(32, 4));
  }
  {
    Card card = card_with(false, true, false);
    put(card, 5, 0x10, words_from(50, 4));
    EXPECT_NE(read_back(card, 5, 0x10, 4), words_from(50, 4));
    const auto data = words_from(60, 4);
    ASSERT_TRUE((*card.sram(6))->write(0, std::as_bytes(std::span(data))));
    ASSERT_TRUE(card.exchange({"send", {{6, 0, 16, {{7, 0x40}}}}}));
    EXPECT_NE(read_back(card, 7, 0x40, 4), data);
  }
  {
    Card card = card_with(false, false, true);
    put(card, 20, 0, words_from(20, 4));
    put(card, 21, 0, words_from(21, 4));
    ASSERT_TRUE(card.exchange(swap_phase));
    EXPECT_EQ(read_back(card, 21, 0, 4), words_from(20, 4));
    EXPECT_NE(read_back(card, 20, 0, 4), words_from(21, 4));
  }
}

TEST(CardFaults, AStuckBitSetsThatBitOfEveryWordWrittenToItsTileOnly) {
  struct Case {
    unsigned bit;
    std::uint32_t address;  // of a write of `bytes` zero bytes
    std::size_t bytes;
    std::vector<std::uint32_t> words_at_0x100;  // the three words from 0x100 afterwards
  };
  const std::vector<Case> cases = {
      {0, 0x100, 12, {0x1, 0x1, 0x1}},
      {5, 0x100, 12, {0x20, 0x20, 0x20}},
      {31, 0x100, 12, {0x80000000, 0x80000000, 0x80000000}},
      // A write that leaves the stuck bit's byte alone leaves that byte as it was.
      {5, 0x101, 7, {0, 0x20, 0}},
      {15, 0x101, 2, {0x8000, 0, 0}},
      {31, 0x101, 2, {0, 0, 0}},
  };
  for (const Case& c : cases) {
    CardOptions options;
    options.faults.stuck_bit = zlu_card::StuckBit{117, c.bit};
    Card card(options);
    const std::vector<std::byte> zeros(c.bytes);
    ASSERT_TRUE((*card.sram(117))->write(c.address, zeros));
    EXPECT_EQ(read_back(card, 117, 0x100, 3), c.words_at_0x100) << "bit " << c.bit << " at " << c.address;
    put(card, 116, 0x100, {0, 0, 0});
    put(card, 118, 0x100, {0, 0, 0});
    EXPECT_EQ(read_back(card, 116, 0x100, 3), std::vector<std::uint32_t>(3, 0));
    EXPECT_EQ(read_back(card, 118, 0x100, 3), std::vector<std::uint32_t>(3, 0));
  }
}

// Cycles of each kind that tile 40 (logical) recorded on a card slowed by
// `percent` after one host write, one exchange and one compute step.
std::array<std::uint64_t, 4> slowed_cycles(std::uint32_t percent) {
  CardOptions options;
  options.faults.exchange_slowdown_percent = percent;
  Card card(options);
  put(card, 40, 0, words_from(1, 6));
  EXPECT_TRUE(card.exchange({"send", {{40, 0, 24, {{41, 0x40}}}}}));
  EXPECT_TRUE(card.compute({"spin", {{40, "spin", spin(37)}}}));
  std::array<std::uint64_t, 4> cycles{};
  for (const auto& step : card.steps(*card.topology().physical(40)))
    cycles[static_cast<std::size_t>(step.kind)] += step.end_cycle - step.start_cycle;
  return cycles;
}

TEST(CardFaults, ExchangeSlowdownAddsItsShareToExchangeStepsOnly) {
  const auto plain = slowed_cycles(0);
  const zlu_card::CycleCosts costs;
  const std::uint64_t host = zlu_card::host_packet_cycles(costs, 24);
  const std::uint64_t sent = zlu_card::exchange_cycles(costs, 1, 24, 0, 0);
  ASSERT_EQ(plain[0], host + sent);
  // Each step is rounded up on its own: 70 -> 77 and 30 -> 33 at 10%, and
  // 1% of a step still costs one more cycle.
  for (const auto& [percent, host_slowed, sent_slowed] :
       {std::tuple{1u, host + 1, sent + 1}, std::tuple{10u, host + (host + 9) / 10, sent + (sent + 9) / 10},
        std::tuple{100u, 2 * host, 2 * sent}}) {
    const auto slowed = slowed_cycles(percent);
    EXPECT_EQ(slowed[0], host_slowed + sent_slowed) << percent << "%";
    EXPECT_EQ(slowed[1], plain[1]) << "compute is untouched at " << percent << "%";
    EXPECT_EQ(slowed[2], plain[2]) << "synchronisation is untouched at " << percent << "%";
  }
}

}  // namespace
