#include "gemm_card.hpp"

#include <tuple>

#include <fmt/format.h>

namespace zlu_gemm {
namespace {

using zlu_exchange::ExchangeError;
using zlu_runner::Failure;

std::span<const std::byte> bytes_of(std::span<const Element> block) { return std::as_bytes(block); }

std::vector<Element> read_block(const zlu_card::TileSram& sram, std::uint32_t address,
                                std::expected<void, ExchangeError>& status) {
  std::vector<Element> block(BLOCK_ELEMENTS);
  if (status) status = sram.read(address, std::as_writable_bytes(std::span(block)));
  return block;
}

// The compute task of block tile (i, j) in step k.
zlu_card::ComputeTask multiply_task(const GemmLayout& layout, BlockCoordinate block, std::uint32_t k) {
  const std::uint32_t a_address = block.column == k ? A_HOME : A_STAGE;
  const std::uint32_t b_address = block.row == k ? B_HOME : B_STAGE;
  auto kernel = [=](zlu_card::TileSram& sram) -> std::expected<zlu_card::ComputeWork, ExchangeError> {
    std::expected<void, ExchangeError> status;
    const std::vector<Element> a = read_block(sram, a_address, status);
    const std::vector<Element> b = read_block(sram, b_address, status);
    std::vector<Element> c = k == 0 ? std::vector<Element>(BLOCK_ELEMENTS, 0) : read_block(sram, C_BLOCK, status);
    if (!status) return std::unexpected(status.error());
    multiply_accumulate_block(a, b, c);
    if (auto stored = sram.write(C_BLOCK, bytes_of(c)); !stored) return std::unexpected(stored.error());
    return zlu_card::ComputeWork{
        2ull * GEMM_BLOCK * GEMM_BLOCK * GEMM_BLOCK,
        {{"block", fmt::format("{},{}", block.row, block.column)}, {"k", std::to_string(k)}, {"elements", "int32"}}};
  };
  return {layout.tile_of(block), "gemm-mac-int32", std::move(kernel)};
}

// The operand multicasts of step k: A(i,k) along row i, B(k,j) down column j.
zlu_card::ExchangePhase operand_phase(const GemmLayout& layout, std::uint32_t k) {
  zlu_card::ExchangePhase phase{fmt::format("gemm-operands-{}", k), {}};
  const std::uint32_t blocks = layout.blocks_per_side;
  for (std::uint32_t i = 0; i < blocks; ++i) {
    zlu_card::Transfer a{layout.tile_of({i, k}), A_HOME, BLOCK_BYTES, {}};
    zlu_card::Transfer b{layout.tile_of({k, i}), B_HOME, BLOCK_BYTES, {}};
    for (std::uint32_t other = 0; other < blocks; ++other) {
      if (other == k) continue;
      a.receivers.push_back({layout.tile_of({i, other}), A_STAGE});
      b.receivers.push_back({layout.tile_of({other, i}), B_STAGE});
    }
    if (a.receivers.empty()) continue;
    phase.transfers.push_back(std::move(a));
    phase.transfers.push_back(std::move(b));
  }
  return phase;
}

Failure model_error(std::string_view what, BlockCoordinate block, std::uint16_t tile, const ExchangeError& error) {
  return Failure::check(
      fmt::format("{} of block {},{} on tile {} failed: {}", what, block.row, block.column, tile, error.render()));
}

std::expected<void, Failure> load_operands(zlu_card::Card& card, const GemmLayout& layout, std::span<const Element> a,
                                           std::span<const Element> b, zlu_runner::HostWriteJitter& jitter) {
  for (std::uint32_t r = 0; r < layout.blocks_per_side; ++r)
    for (std::uint32_t c = 0; c < layout.blocks_per_side; ++c) {
      const BlockCoordinate block{r, c};
      const std::uint16_t tile = layout.tile_of(block);
      for (const auto& [matrix, address, what] :
           {std::tuple{a, A_HOME, "H2D of A"}, std::tuple{b, B_HOME, "H2D of B"}}) {
        const std::vector<Element> values = extract_block(matrix, layout.dimension, block);
        jitter.before_host_write();
        if (auto written = card.host_write(tile, address, bytes_of(values)); !written) {
          return std::unexpected(model_error(what, block, tile, written.error()));
        }
      }
    }
  return {};
}

std::expected<void, Failure> multiply(zlu_card::Card& card, const GemmLayout& layout) {
  for (std::uint32_t k = 0; k < layout.blocks_per_side; ++k) {
    const zlu_card::ExchangePhase exchange = operand_phase(layout, k);
    if (!exchange.transfers.empty()) {
      if (auto moved = card.exchange(exchange); !moved) {
        return std::unexpected(
            Failure::check(fmt::format("exchange {} failed: {}", exchange.name, moved.error().render())));
      }
    }
    zlu_card::ComputePhase compute{fmt::format("gemm-multiply-{}", k), {}};
    for (std::uint32_t i = 0; i < layout.blocks_per_side; ++i)
      for (std::uint32_t j = 0; j < layout.blocks_per_side; ++j)
        compute.tasks.push_back(multiply_task(layout, {i, j}, k));
    if (auto ran = card.compute(compute); !ran) {
      return std::unexpected(Failure::check(fmt::format("compute {} failed: {}", compute.name, ran.error().render())));
    }
  }
  card.synchronize("gemm-done");
  return {};
}

std::expected<void, Failure> check_result(zlu_card::Card& card, const GemmLayout& layout,
                                          std::span<const Element> reference) {
  for (std::uint32_t r = 0; r < layout.blocks_per_side; ++r)
    for (std::uint32_t c = 0; c < layout.blocks_per_side; ++c) {
      const BlockCoordinate block{r, c};
      const std::uint16_t tile = layout.tile_of(block);
      std::vector<Element> got(BLOCK_ELEMENTS);
      if (auto read = card.host_read(tile, C_BLOCK, std::as_writable_bytes(std::span(got))); !read) {
        return std::unexpected(model_error("D2H of C", block, tile, read.error()));
      }
      const std::vector<Element> expected = extract_block(reference, layout.dimension, block);
      for (std::uint32_t e = 0; e < BLOCK_ELEMENTS; ++e) {
        if (got[e] == expected[e]) continue;
        return std::unexpected(Failure::check(
            fmt::format("C[{}][{}] (block {},{} on tile {}) is {}, expected {}", r * GEMM_BLOCK + e / GEMM_BLOCK,
                        c * GEMM_BLOCK + e % GEMM_BLOCK, r, c, tile, got[e], expected[e])));
      }
    }
  return {};
}

}  // namespace

std::expected<void, Failure> check_sram_block(zlu_card::Card& card, const GemmLayout& layout, BlockCoordinate block,
                                              std::span<const Element> reference) {
  const std::uint16_t tile = layout.tile_of(block);
  auto route = card.host_route(tile);
  if (!route) return std::unexpected(model_error("host route to the SRAM check block", block, tile, route.error()));
  std::vector<std::byte> got(BLOCK_BYTES);
  if (auto read = card.host_read_packet(*route, C_BLOCK, got); !read) {
    return std::unexpected(model_error("D2H of the SRAM check block", block, tile, read.error()));
  }
  const std::vector<Element> expected_values = extract_block(reference, layout.dimension, block);
  const std::span<const std::byte> expected = bytes_of(expected_values);
  for (std::uint32_t offset = 0; offset < BLOCK_BYTES; ++offset) {
    if (got[offset] == expected[offset]) continue;
    return std::unexpected(
        Failure::check(fmt::format("ZLU_GEMM_SRAM_CHECK_BLOCK {},{}: SRAM of tile {} (row {}, position {}) at {:#x} "
                                   "holds {:#04x}, expected {:#04x}",
                                   block.row, block.column, tile, route->row, route->position, C_BLOCK + offset,
                                   static_cast<unsigned>(got[offset]), static_cast<unsigned>(expected[offset]))));
  }
  return {};
}

zlu_runner::Outcome run_gemm(zlu_card::Card& card, const GemmConfig& config, zlu_runner::HostWriteJitter& jitter) {
  const GemmLayout layout = GemmLayout::for_dimension(config.dimension, card.tile_count());
  const std::vector<Element> a = make_operand(config.dimension, OPERAND_SEED, 0);
  const std::vector<Element> b = make_operand(config.dimension, OPERAND_SEED, 1);
  const std::vector<Element> reference = reference_product(a, b, config.dimension);

  if (auto loaded = load_operands(card, layout, a, b, jitter); !loaded) return std::unexpected(loaded.error());
  if (auto multiplied = multiply(card, layout); !multiplied) return std::unexpected(multiplied.error());
  if (auto checked = check_result(card, layout, reference); !checked) return std::unexpected(checked.error());
  if (auto checked = check_sram_block(card, layout, config.check_block, reference); !checked) {
    return std::unexpected(checked.error());
  }
  if (config.profile_output) {
    auto written = zlu_runner::write_profile_output(card, *config.profile_output, config.profile_faults);
    if (!written) return std::unexpected(written.error());
  }
  return zlu_runner::summary_line(fmt::format("gemm-{}", config.dimension), layout.block_count(),
                                  card.exchanged_bytes() + card.host_bytes(), card.elapsed_cycles());
}

}  // namespace zlu_gemm
