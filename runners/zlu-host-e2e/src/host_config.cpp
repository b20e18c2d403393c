#include "host_config.hpp"

#include <fmt/format.h>

#include "sram.hpp"
#include "zlu-exchange/src/lib.hpp"

namespace zlu_host {

using zlu_runner::Failure;

namespace {

constexpr std::uint64_t MAX_INVOCATIONS = 100'000;

std::string setting(std::string_view name, const std::optional<std::string>& value) {
  return fmt::format("{}=\"{}\"", name, value.value_or(""));
}

}  // namespace

std::string_view mode_name(HostMode mode) {
  switch (mode) {
    case HostMode::RoundTrip: return "round-trip";
    case HostMode::D2hOnly: return "d2h-only";
    case HostMode::RemoteD2h: return "remote-d2h";
    case HostMode::ComputeRelay: return "compute-relay";
    case HostMode::Exchange: return "exchange";
  }
  return "unknown";
}

std::expected<HostConfig, Failure> read_host_config(const zlu_runner::EnvLookup& env) {
  HostConfig config;
  constexpr std::uint16_t tiles = zlu_exchange::N700_TILES;

  const auto tile = env(zlu_contract::HOST_TEST_TILE);
  const auto tile_list = env(zlu_contract::HOST_TEST_TILES);
  if (tile && tile_list) {
    return std::unexpected(
        Failure::config(fmt::format("{} and {} are both set: expected at most one of them",
                                    setting(zlu_contract::HOST_TEST_TILE, tile),
                                    setting(zlu_contract::HOST_TEST_TILES, tile_list))));
  }
  bool tile_given = false;
  if (tile) {
    auto parsed = zlu_runner::parse_unsigned(zlu_contract::HOST_TEST_TILE, *tile, tiles - 1u, false);
    if (!parsed) {
      return std::unexpected(zlu_runner::invalid_value(zlu_contract::HOST_TEST_TILE, *tile,
                                                       fmt::format("a logical tile from 0 to {}", tiles - 1u)));
    }
    config.tiles = {static_cast<std::uint16_t>(*parsed)};
    tile_given = true;
  }
  if (tile_list) {
    auto parsed = zlu_runner::parse_tile_list(zlu_contract::HOST_TEST_TILES, *tile_list, tiles);
    if (!parsed) return std::unexpected(parsed.error());
    config.tiles = std::move(*parsed);
    tile_given = true;
  }

  const auto bytes = env(zlu_contract::HOST_TEST_BYTES);
  if (bytes) {
    auto parsed = zlu_runner::parse_unsigned(zlu_contract::HOST_TEST_BYTES, *bytes, zlu_card::SRAM_BYTES, false);
    if (!parsed || *parsed == 0 || *parsed % 4 != 0) {
      return std::unexpected(zlu_runner::invalid_value(
          zlu_contract::HOST_TEST_BYTES, *bytes,
          fmt::format("a positive multiple of 4 of at most {} (the tile's SRAM)", zlu_card::SRAM_BYTES)));
    }
    config.bytes = static_cast<std::uint32_t>(*parsed);
  }

  const auto address = env(zlu_contract::HOST_TEST_ADDRESS);
  if (address) {
    auto parsed = zlu_runner::parse_hex(zlu_contract::HOST_TEST_ADDRESS, *address, zlu_card::SRAM_BYTES - 1u);
    if (!parsed) return std::unexpected(parsed.error());
    if (*parsed % 4 != 0) {
      return std::unexpected(zlu_runner::invalid_value(zlu_contract::HOST_TEST_ADDRESS, *address, "a multiple of 4"));
    }
    config.address = static_cast<std::uint32_t>(*parsed);
  }
  if (std::uint64_t{config.address} + config.bytes > zlu_card::SRAM_BYTES) {
    return std::unexpected(Failure::config(
        fmt::format("{} with {}: expected the range to end within the tile's SRAM at {:#x}, it ends at {:#x}",
                    setting(zlu_contract::HOST_TEST_ADDRESS, address.value_or("0x0")),
                    setting(zlu_contract::HOST_TEST_BYTES, bytes.value_or("256")), zlu_card::SRAM_BYTES,
                    std::uint64_t{config.address} + config.bytes)));
  }

  if (const auto invocations = env(zlu_contract::HOST_TEST_INVOCATIONS)) {
    auto parsed = zlu_runner::parse_unsigned(zlu_contract::HOST_TEST_INVOCATIONS, *invocations, MAX_INVOCATIONS, false);
    if (!parsed || *parsed == 0) {
      return std::unexpected(zlu_runner::invalid_value(zlu_contract::HOST_TEST_INVOCATIONS, *invocations,
                                                       fmt::format("a decimal count from 1 to {}", MAX_INVOCATIONS)));
    }
    config.invocations = static_cast<std::uint32_t>(*parsed);
  }

  struct Flag {
    std::string_view name;
    bool value = false;
  };
  Flag resident{zlu_contract::HOST_TEST_RESIDENT_INPUT}, d2h_only{zlu_contract::HOST_TEST_D2H_ONLY},
      compute_relay{zlu_contract::HOST_TEST_COMPUTE_RELAY}, remote_d2h{zlu_contract::HOST_TEST_REMOTE_D2H},
      exchange{zlu_contract::HOST_TEST_EXCHANGE}, initialized{zlu_contract::HOST_TEST_INITIALIZED_EXCHANGE};
  for (Flag* flag : {&resident, &d2h_only, &compute_relay, &remote_d2h, &exchange, &initialized}) {
    auto parsed = zlu_runner::parse_flag(flag->name, env(flag->name));
    if (!parsed) return std::unexpected(parsed.error());
    flag->value = *parsed;
  }

  // The mode flags name different programs: at most one of them.
  const Flag* mode_flag = nullptr;
  for (const auto& [flag, mode] :
       {std::pair{&d2h_only, HostMode::D2hOnly}, std::pair{&remote_d2h, HostMode::RemoteD2h},
        std::pair{&compute_relay, HostMode::ComputeRelay}, std::pair{&exchange, HostMode::Exchange}}) {
    if (!flag->value) continue;
    if (mode_flag) {
      return std::unexpected(Failure::config(
          fmt::format("{}=\"1\" and {}=\"1\": expected at most one of the D2H-only, remote D2H, compute relay and "
                      "exchange programs",
                      mode_flag->name, flag->name)));
    }
    mode_flag = flag;
    config.mode = mode;
  }
  if (resident.value && mode_flag) {
    return std::unexpected(Failure::config(
        fmt::format("{}=\"1\" with {}=\"1\": expected resident input only with the plain H2D and D2H round trip",
                    resident.name, mode_flag->name)));
  }
  if (initialized.value && !exchange.value) {
    return std::unexpected(Failure::config(
        fmt::format("{}=\"1\" without {}=\"1\": expected an initialised exchange only as part of the exchange program",
                    initialized.name, exchange.name)));
  }
  config.resident_input = resident.value;
  config.initialized_exchange = initialized.value;
  if (config.mode == HostMode::RemoteD2h && !tile_given) config.tiles = {static_cast<std::uint16_t>(tiles - 1u)};

  auto jitter = zlu_runner::read_jitter_settings(env);
  if (!jitter) return std::unexpected(jitter.error());
  config.jitter = *jitter;
  return config;
}

}  // namespace zlu_host
