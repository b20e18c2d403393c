#include "attention_card.hpp"

#include <array>
#include <cmath>
#include <limits>
#include <random>

#include <fmt/format.h>

namespace zlu_attention {
namespace {

using zlu_exchange::ExchangeError;
using zlu_runner::Failure;

// SRAM of a query tile: its queries, the staged K/V block, the softmax state
// and the finished output. Sized for head dimensions up to MAX_HEAD_DIM.
constexpr std::uint32_t MAX_HEAD_DIM = 128;
constexpr std::uint32_t Q_BLOCK = 0x0000;
constexpr std::uint32_t K_STAGE = 0x2000;
constexpr std::uint32_t V_STAGE = 0x4000;
constexpr std::uint32_t ROW_MAX = 0x6000;
constexpr std::uint32_t ROW_SUM = 0x6100;
constexpr std::uint32_t ACCUMULATOR = 0x8000;
constexpr std::uint32_t OUTPUT = 0xC000;
// SRAM of a batch's K/V tile: all of K, then all of V.
constexpr std::uint32_t K_HOME = 0x00000;
constexpr std::uint32_t V_HOME = 0x10000;

constexpr std::uint64_t INPUT_SEED = 0xf1a5'4a77'e000'0016;

constexpr std::array<AttentionShape, 7> ENCODER_SHAPES{{
    {1, 64, 64},
    {4, 64, 64},
    {2, 128, 64},
    {1, 256, 64},
    {1, 64, 128},
    {4, 64, 128},
    {2, 128, 128},
}};

// Reads `count` elements of T at `address`; the first failure sticks in
// `status` and later reads are skipped.
template <typename T>
std::vector<T> load(const zlu_card::TileSram& sram, std::uint32_t address, std::size_t count,
                    std::expected<void, ExchangeError>& status) {
  std::vector<T> values(count);
  if (status) status = sram.read(address, std::as_writable_bytes(std::span(values)));
  return values;
}

template <typename T>
void store(zlu_card::TileSram& sram, std::uint32_t address, const std::vector<T>& values,
           std::expected<void, ExchangeError>& status) {
  if (status) status = sram.write(address, std::as_bytes(std::span(values)));
}

using KernelResult = std::expected<zlu_card::ComputeWork, ExchangeError>;

struct StateBuffers {
  // The softmax state of a query tile, held in host memory while a kernel runs.

  std::vector<float> row_max;
  std::vector<float> row_sum;
  std::vector<float> accumulator;

  OnlineSoftmaxState view() { return {row_max, row_sum, accumulator}; }
};

StateBuffers load_state(const zlu_card::TileSram& sram, std::uint32_t dim, std::expected<void, ExchangeError>& status) {
  return {load<float>(sram, ROW_MAX, QUERY_BLOCK, status), load<float>(sram, ROW_SUM, QUERY_BLOCK, status),
          load<float>(sram, ACCUMULATOR, std::size_t{QUERY_BLOCK} * dim, status)};
}

void store_state(zlu_card::TileSram& sram, const StateBuffers& state, std::expected<void, ExchangeError>& status) {
  store(sram, ROW_MAX, state.row_max, status);
  store(sram, ROW_SUM, state.row_sum, status);
  store(sram, ACCUMULATOR, state.accumulator, status);
}

KernelResult init_kernel(zlu_card::TileSram& sram, std::uint32_t dim) {
  StateBuffers state{std::vector<float>(QUERY_BLOCK), std::vector<float>(QUERY_BLOCK),
                     std::vector<float>(std::size_t{QUERY_BLOCK} * dim)};
  OnlineSoftmaxState view = state.view();
  reset_state(view);
  std::expected<void, ExchangeError> status;
  store_state(sram, state, status);
  if (!status) return std::unexpected(status.error());
  return zlu_card::ComputeWork{std::uint64_t{QUERY_BLOCK} * (dim + 2), {{"rows", std::to_string(QUERY_BLOCK)}}};
}

KernelResult block_kernel(zlu_card::TileSram& sram, std::uint32_t dim, std::uint32_t key_block, BlockKernel kernel) {
  std::expected<void, ExchangeError> status;
  const std::size_t block = std::size_t{KEY_BLOCK} * dim;
  const auto queries = load<half>(sram, Q_BLOCK, std::size_t{QUERY_BLOCK} * dim, status);
  const auto keys = load<half>(sram, K_STAGE, block, status);
  const auto values = load<half>(sram, V_STAGE, block, status);
  StateBuffers state = load_state(sram, dim, status);
  if (!status) return std::unexpected(status.error());
  OnlineSoftmaxState view = state.view();
  kernel({queries, keys, values, QUERY_BLOCK, KEY_BLOCK, dim}, view);
  store_state(sram, state, status);
  if (!status) return std::unexpected(status.error());
  return zlu_card::ComputeWork{4ull * QUERY_BLOCK * KEY_BLOCK * dim,
                               {{"key_block", std::to_string(key_block)}, {"precision", "f16-in-f32-acc"}}};
}

KernelResult finish_kernel(zlu_card::TileSram& sram, std::uint32_t dim) {
  std::expected<void, ExchangeError> status;
  StateBuffers state = load_state(sram, dim, status);
  if (!status) return std::unexpected(status.error());
  std::vector<half> output(std::size_t{QUERY_BLOCK} * dim);
  finish_rows(state.view(), dim, output);
  store(sram, OUTPUT, output, status);
  if (!status) return std::unexpected(status.error());
  return zlu_card::ComputeWork{std::uint64_t{QUERY_BLOCK} * dim, {{"rows", std::to_string(QUERY_BLOCK)}}};
}

struct ShapeTiles {
  // Where one shape's batches live: each batch's K/V tile, then its query tiles.

  std::uint16_t first = 0;
  std::uint32_t query_blocks = 0;

  std::uint16_t kv_tile(std::uint32_t batch) const {
    return static_cast<std::uint16_t>(first + batch * (query_blocks + 1));
  }
  std::uint16_t query_tile(std::uint32_t batch, std::uint32_t block) const {
    return static_cast<std::uint16_t>(kv_tile(batch) + 1 + block);
  }
};

std::expected<void, Failure> check_fits(const AttentionShape& shape, std::uint16_t first_tile, std::uint16_t tiles) {
  const bool fits =
      shape.batch > 0 && shape.sequence > 0 && shape.sequence % QUERY_BLOCK == 0 && shape.sequence % KEY_BLOCK == 0 &&
      shape.head_dim > 0 && shape.head_dim <= MAX_HEAD_DIM &&
      std::size_t{shape.sequence} * shape.head_dim * sizeof(half) <= V_HOME - K_HOME &&
      std::uint64_t{first_tile} + std::uint64_t{shape.batch} * (shape.sequence / QUERY_BLOCK + 1) <= tiles;
  if (fits) return {};
  return std::unexpected(Failure::config(fmt::format(
      "attention shape {} from tile {} does not fit: it needs a sequence that is a multiple of {}, a head dimension "
      "of 1 to {}, K and V of at most {} bytes and tiles up to {}",
      shape.name(), first_tile, QUERY_BLOCK, MAX_HEAD_DIM, V_HOME - K_HOME, tiles - 1)));
}

Failure card_error(const AttentionShape& shape, std::string_view what, const ExchangeError& error) {
  return Failure::check(fmt::format("shape {}: {} failed: {}", shape.name(), what, error.render()));
}

std::expected<void, Failure> load_inputs(zlu_card::Card& card, const AttentionShape& shape, const ShapeTiles& tiles,
                                         const AttentionInputs& inputs) {
  const std::size_t batch_elements = std::size_t{shape.sequence} * shape.head_dim;
  const std::size_t block_elements = std::size_t{QUERY_BLOCK} * shape.head_dim;
  for (std::uint32_t b = 0; b < shape.batch; ++b) {
    const std::span<const half> q = std::span(inputs.queries).subspan(b * batch_elements, batch_elements);
    const std::span<const half> k = std::span(inputs.keys).subspan(b * batch_elements, batch_elements);
    const std::span<const half> v = std::span(inputs.values).subspan(b * batch_elements, batch_elements);
    for (const auto& [address, data] : {std::pair{K_HOME, k}, std::pair{V_HOME, v}}) {
      if (auto written = card.host_write(tiles.kv_tile(b), address, std::as_bytes(data)); !written) {
        return std::unexpected(
            card_error(shape, fmt::format("H2D of K/V to tile {}", tiles.kv_tile(b)), written.error()));
      }
    }
    for (std::uint32_t r = 0; r < tiles.query_blocks; ++r) {
      const auto block = q.subspan(r * block_elements, block_elements);
      if (auto written = card.host_write(tiles.query_tile(b, r), Q_BLOCK, std::as_bytes(block)); !written) {
        return std::unexpected(
            card_error(shape, fmt::format("H2D of queries to tile {}", tiles.query_tile(b, r)), written.error()));
      }
    }
  }
  return {};
}

template <typename MakeKernel>
std::expected<void, Failure> compute_on_query_tiles(zlu_card::Card& card, const AttentionShape& shape,
                                                    const ShapeTiles& tiles, std::string name, std::string kernel_name,
                                                    MakeKernel make_kernel) {
  zlu_card::ComputePhase phase{std::move(name), {}};
  for (std::uint32_t b = 0; b < shape.batch; ++b)
    for (std::uint32_t r = 0; r < tiles.query_blocks; ++r)
      phase.tasks.push_back({tiles.query_tile(b, r), kernel_name, make_kernel()});
  if (auto ran = card.compute(phase); !ran) return std::unexpected(card_error(shape, phase.name, ran.error()));
  return {};
}

std::expected<void, Failure> run_blocks(zlu_card::Card& card, const AttentionShape& shape, const ShapeTiles& tiles,
                                        BlockKernel kernel) {
  const std::uint32_t dim = shape.head_dim;
  const std::uint32_t block_bytes = KEY_BLOCK * dim * sizeof(half);
  const std::string label = fmt::format("attention-b{}-s{}-d{}", shape.batch, shape.sequence, dim);
  if (auto ran =
          compute_on_query_tiles(card, shape, tiles, label + "-init", "attention-init-f32",
                                 [&] { return [dim](zlu_card::TileSram& sram) { return init_kernel(sram, dim); }; });
      !ran) {
    return ran;
  }
  for (std::uint32_t j = 0; j < shape.sequence / KEY_BLOCK; ++j) {
    zlu_card::ExchangePhase phase{fmt::format("{}-kv-{}", label, j), {}};
    for (std::uint32_t b = 0; b < shape.batch; ++b) {
      zlu_card::Transfer k{tiles.kv_tile(b), K_HOME + j * block_bytes, block_bytes, {}};
      zlu_card::Transfer v{tiles.kv_tile(b), V_HOME + j * block_bytes, block_bytes, {}};
      for (std::uint32_t r = 0; r < tiles.query_blocks; ++r) {
        k.receivers.push_back({tiles.query_tile(b, r), K_STAGE});
        v.receivers.push_back({tiles.query_tile(b, r), V_STAGE});
      }
      phase.transfers.push_back(std::move(k));
      phase.transfers.push_back(std::move(v));
    }
    if (auto moved = card.exchange(phase); !moved) return std::unexpected(card_error(shape, phase.name, moved.error()));
    if (auto ran = compute_on_query_tiles(
            card, shape, tiles, fmt::format("{}-block-{}", label, j), "flash-attention-f16",
            [&] { return [dim, j, kernel](zlu_card::TileSram& sram) { return block_kernel(sram, dim, j, kernel); }; });
        !ran) {
      return ran;
    }
  }
  if (auto ran =
          compute_on_query_tiles(card, shape, tiles, label + "-finish", "attention-normalize-f16",
                                 [&] { return [dim](zlu_card::TileSram& sram) { return finish_kernel(sram, dim); }; });
      !ran) {
    return ran;
  }
  card.synchronize((label + "-done").c_str());
  return {};
}

std::expected<double, Failure> check_outputs(zlu_card::Card& card, const AttentionShape& shape, const ShapeTiles& tiles,
                                             const std::vector<double>& reference) {
  const std::uint32_t dim = shape.head_dim;
  std::vector<half> output(std::size_t{QUERY_BLOCK} * dim);
  double worst = 0.0;
  for (std::uint32_t b = 0; b < shape.batch; ++b)
    for (std::uint32_t r = 0; r < tiles.query_blocks; ++r) {
      const std::uint16_t tile = tiles.query_tile(b, r);
      if (auto read = card.host_read(tile, OUTPUT, std::as_writable_bytes(std::span(output))); !read) {
        return std::unexpected(card_error(shape, fmt::format("D2H of the output of tile {}", tile), read.error()));
      }
      for (std::size_t e = 0; e < output.size(); ++e) {
        const std::size_t row = std::size_t{r} * QUERY_BLOCK + e / dim;
        const std::size_t column = e % dim;
        const double expected = reference[(std::size_t{b} * shape.sequence + row) * dim + column];
        const double got = static_cast<double>(output[e]);
        const double error = std::abs(got - expected);
        // Written so that a NaN output fails too.
        if (!(error <= TOLERANCE)) {
          return std::unexpected(Failure::check(fmt::format(
              "shape {}: output[batch {}][row {}][column {}] on tile {} is {:.6f}, expected {:.6f} (error {:.3g} above "
              "the tolerance {})",
              shape.name(), b, row, column, tile, got, expected, error, TOLERANCE)));
        }
        worst = std::max(worst, error);
      }
    }
  return worst;
}

}  // namespace

std::span<const AttentionShape> encoder_shapes() { return ENCODER_SHAPES; }

std::uint32_t tiles_for(const AttentionShape& shape) { return shape.batch * (shape.sequence / QUERY_BLOCK + 1); }

AttentionInputs make_inputs(const AttentionShape& shape, std::uint64_t seed) {
  std::mt19937_64 generator(seed ^ (std::uint64_t{shape.batch} << 48) ^ (std::uint64_t{shape.sequence} << 24) ^
                            shape.head_dim);
  // 53 random bits to [0, 1): the same on every standard library, unlike the
  // library's distributions.
  const auto uniform = [&](float low, float high) {
    const double unit = static_cast<double>(generator() >> 11) * 0x1.0p-53;
    return static_cast<half>(low + (high - low) * static_cast<float>(unit));
  };
  AttentionInputs inputs{std::vector<half>(shape.elements()), std::vector<half>(shape.elements()),
                         std::vector<half>(shape.elements())};
  for (half& q : inputs.queries) q = uniform(-1.5f, 1.5f);
  for (half& k : inputs.keys) k = uniform(-1.5f, 1.5f);
  for (half& v : inputs.values) v = uniform(-1.0f, 1.0f);
  return inputs;
}

std::expected<ShapeResult, Failure> run_shape(zlu_card::Card& card, const AttentionShape& shape,
                                              std::uint16_t first_tile, BlockKernel kernel) {
  if (auto fits = check_fits(shape, first_tile, card.tile_count()); !fits) return std::unexpected(fits.error());
  const ShapeTiles tiles{first_tile, shape.sequence / QUERY_BLOCK};
  const AttentionInputs inputs = make_inputs(shape, INPUT_SEED);

  if (auto loaded = load_inputs(card, shape, tiles, inputs); !loaded) return std::unexpected(loaded.error());
  if (auto ran = run_blocks(card, shape, tiles, kernel); !ran) return std::unexpected(ran.error());
  const std::vector<double> reference = reference_attention(shape, inputs.queries, inputs.keys, inputs.values);
  auto worst = check_outputs(card, shape, tiles, reference);
  if (!worst) return std::unexpected(worst.error());
  return ShapeResult{shape, *worst};
}

zlu_runner::Outcome run_attention(zlu_card::Card& card, std::span<const AttentionShape> shapes, BlockKernel kernel) {
  std::uint32_t next_tile = 0;
  std::string shape_summaries;
  for (const AttentionShape& shape : shapes) {
    auto result =
        run_shape(card, shape, static_cast<std::uint16_t>(std::min<std::uint32_t>(next_tile, 0xffff)), kernel);
    if (!result) return std::unexpected(result.error());
    next_tile += tiles_for(shape);
    shape_summaries += fmt::format(" [{} max_abs_error={:.2e}]", shape.name(), result->max_error);
  }
  return zlu_runner::summary_line("flash-attention-f16", next_tile, card.exchanged_bytes() + card.host_bytes(),
                                  card.elapsed_cycles()) +
         fmt::format(" tolerance={}", TOLERANCE) + shape_summaries;
}

}  // namespace zlu_attention
