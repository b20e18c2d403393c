#include "host_program.hpp"

#include <fmt/format.h>

namespace zlu_host {

using zlu_card::Card;
using zlu_card::ComputeWork;
using zlu_card::TileSram;
using zlu_exchange::ExchangeError;
using zlu_runner::Failure;
using Words = std::vector<std::uint32_t>;

namespace {

// What the host sends in invocation `invocation` and what a tile initialises
// itself with differ by salt, so data left from another step cannot pass.
constexpr std::uint32_t HOST_SALT = 0x100;
constexpr std::uint32_t CARD_SALT = 0x200;

// The kernels' arithmetic, used on the card and replayed on the host.
std::uint32_t first_compute(std::uint32_t word) { return word * 3u + 1u; }
std::uint32_t second_compute(std::uint32_t word, std::uint32_t tile) { return (word ^ 0xa5a5a5a5u) + tile; }

class HostProgram {
 public:
  HostProgram(const HostConfig& config, Card& card)
      : config_(config), card_(card), jitter_(config.jitter), words_(config.bytes / 4) {}

  zlu_runner::Outcome run() {
    std::vector<std::uint16_t> partners;
    if (config_.mode == HostMode::ComputeRelay || config_.mode == HostMode::Exchange) {
      auto found = relay_partners(config_.tiles, card_.tile_count());
      if (!found) return std::unexpected(found.error());
      partners = std::move(*found);
    }
    if (config_.resident_input) {
      for (const std::uint16_t tile : config_.tiles) {
        if (auto r = host_write(tile, host_data(tile, 0)); !r) return std::unexpected(r.error());
      }
    }
    for (std::uint32_t invocation = 0; invocation < config_.invocations; ++invocation) {
      card_.begin_epoch();
      if (auto r = invoke(invocation, partners); !r) return std::unexpected(r.error());
    }
    return zlu_runner::summary_line(mode_name(config_.mode), config_.tiles.size() + partners.size(),
                                    card_.host_bytes() + card_.exchanged_bytes(), card_.elapsed_cycles());
  }

 private:
  Words host_data(std::uint16_t tile, std::uint32_t invocation) const {
    return zlu_runner::pattern_words(tile, words_, HOST_SALT + invocation);
  }
  Words card_data(std::uint16_t tile, std::uint32_t invocation) const {
    return zlu_runner::pattern_words(tile, words_, CARD_SALT + invocation);
  }

  std::expected<void, Failure> host_write(std::uint16_t tile, const Words& data) {
    jitter_.before_host_write();
    return zlu_runner::write_words(card_, tile, config_.address, data);
  }

  std::expected<void, Failure> check(std::uint16_t tile, const Words& expected, std::uint32_t invocation) {
    return zlu_runner::check_words(card_, fmt::format("{}, invocation {}", mode_name(config_.mode), invocation + 1),
                                   tile, config_.address, expected);
  }

  // A compute phase running `kernel` on each of `tiles`, with the tile number.
  template <typename Transform>
  std::expected<void, Failure> compute(const std::string& name, const std::vector<std::uint16_t>& tiles,
                                       const char* kernel_name, Transform transform) {
    zlu_card::ComputePhase phase{name, {}};
    for (const std::uint16_t tile : tiles) {
      phase.tasks.push_back(
          {tile, kernel_name, [this, tile, transform](TileSram& sram) -> std::expected<ComputeWork, ExchangeError> {
             Words data(words_);
             if (auto r = zlu_card::load_words(sram, config_.address, data); !r) return std::unexpected(r.error());
             transform(tile, data);
             if (auto r = zlu_card::store_words(sram, config_.address, data); !r) return std::unexpected(r.error());
             return ComputeWork{words_, {{"bytes", std::to_string(config_.bytes)}}};
           }});
    }
    if (auto done = card_.compute(phase); !done) return std::unexpected(zlu_runner::card_failure(name, done.error()));
    return {};
  }

  std::expected<void, Failure> initialise_on_card(const std::vector<std::uint16_t>& tiles, std::uint32_t invocation) {
    return compute(fmt::format("initialise-{}", invocation), tiles, "initialise",
                   [this, invocation](std::uint16_t tile, Words& data) { data = card_data(tile, invocation); });
  }

  std::expected<void, Failure> relay(const std::vector<std::uint16_t>& partners, std::uint32_t invocation) {
    zlu_card::ExchangePhase phase{fmt::format("relay-{}", invocation), {}};
    for (std::size_t i = 0; i < config_.tiles.size(); ++i) {
      phase.transfers.push_back({config_.tiles[i], config_.address, config_.bytes, {{partners[i], config_.address}}});
    }
    if (auto done = card_.exchange(phase); !done)
      return std::unexpected(zlu_runner::card_failure(phase.name, done.error()));
    return {};
  }

  std::expected<void, Failure> invoke(std::uint32_t invocation, const std::vector<std::uint16_t>& partners) {
    const auto& tiles = config_.tiles;
    switch (config_.mode) {
      case HostMode::RoundTrip:
        for (const std::uint16_t tile : tiles) {
          const std::uint32_t sent = config_.resident_input ? 0 : invocation;
          if (!config_.resident_input) {
            if (auto r = host_write(tile, host_data(tile, sent)); !r) return r;
          }
          if (auto r = check(tile, host_data(tile, sent), invocation); !r) return r;
        }
        return {};
      case HostMode::D2hOnly:
      case HostMode::RemoteD2h:
        if (auto r = initialise_on_card(tiles, invocation); !r) return r;
        for (const std::uint16_t tile : tiles) {
          if (auto r = check(tile, card_data(tile, invocation), invocation); !r) return r;
        }
        return {};
      case HostMode::ComputeRelay:
        for (const std::uint16_t tile : tiles) {
          if (auto r = host_write(tile, host_data(tile, invocation)); !r) return r;
        }
        if (auto r = compute(fmt::format("compute-before-relay-{}", invocation), tiles, "scale-add",
                             [](std::uint16_t, Words& data) {
                               for (auto& w : data) w = first_compute(w);
                             });
            !r) {
          return r;
        }
        if (auto r = relay(partners, invocation); !r) return r;
        if (auto r = compute(fmt::format("compute-after-relay-{}", invocation), partners, "mix-tile",
                             [](std::uint16_t tile, Words& data) {
                               for (auto& w : data) w = second_compute(w, tile);
                             });
            !r) {
          return r;
        }
        for (std::size_t i = 0; i < tiles.size(); ++i) {
          Words expected = host_data(tiles[i], invocation);
          for (auto& w : expected) w = second_compute(first_compute(w), partners[i]);
          if (auto r = check(partners[i], expected, invocation); !r) return r;
        }
        return {};
      case HostMode::Exchange:
        if (config_.initialized_exchange) {
          if (auto r = initialise_on_card(tiles, invocation); !r) return r;
        } else {
          for (const std::uint16_t tile : tiles) {
            if (auto r = host_write(tile, host_data(tile, invocation)); !r) return r;
          }
        }
        if (auto r = relay(partners, invocation); !r) return r;
        for (std::size_t i = 0; i < tiles.size(); ++i) {
          const Words expected =
              config_.initialized_exchange ? card_data(tiles[i], invocation) : host_data(tiles[i], invocation);
          if (auto r = check(partners[i], expected, invocation); !r) return r;
        }
        return {};
    }
    return {};
  }

  const HostConfig& config_;
  Card& card_;
  zlu_runner::HostWriteJitter jitter_;
  std::size_t words_;
};

}  // namespace

std::expected<std::vector<std::uint16_t>, Failure> relay_partners(const std::vector<std::uint16_t>& tiles,
                                                                  std::uint16_t tile_count) {
  std::vector<bool> taken(tile_count, false);
  for (const std::uint16_t tile : tiles) taken[tile] = true;
  std::vector<std::uint16_t> partners;
  for (const std::uint16_t tile : tiles) {
    std::uint16_t candidate = static_cast<std::uint16_t>((tile + tile_count / 2) % tile_count);
    std::uint16_t tried = 0;
    while (taken[candidate] && tried < tile_count) {
      candidate = static_cast<std::uint16_t>((candidate + 1) % tile_count);
      ++tried;
    }
    if (taken[candidate]) {
      return std::unexpected(Failure::config(
          fmt::format("ZLU_HOST_TEST_TILES names {} tiles: expected at most {} so that each has a free relay partner",
                      tiles.size(), tile_count / 2)));
    }
    taken[candidate] = true;
    partners.push_back(candidate);
  }
  return partners;
}

zlu_runner::Outcome run_host_program(const HostConfig& config, Card& card) { return HostProgram(config, card).run(); }

}  // namespace zlu_host
