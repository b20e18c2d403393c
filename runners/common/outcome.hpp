// How a runner ends: the exit codes, the failure value and the report lines.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "contract.hpp"

namespace zlu_runner {

using zlu_contract::ExitCode;

struct Failure {
  // Why a runner did not succeed: the exit code it ends with and the message
  // (without the runner's name, which `finish` adds).

  ExitCode code = ExitCode::CheckFailed;
  std::string message;

  static Failure check(std::string message) { return {ExitCode::CheckFailed, std::move(message)}; }
  static Failure config(std::string message) { return {ExitCode::ConfigInvalid, std::move(message)}; }
};

// What a scenario that passed reports: the summary line after the runner's
// name, e.g. "scenario=fanout tiles=1472 bytes=376832 cycles=1234".
using Outcome = std::expected<std::string, Failure>;

// Writes the one report line of `outcome` and returns the exit code for
// main: "<runner>: ok: <summary>" on stdout, or "<runner>: check failed:
// <message>" / "<runner>: invalid configuration: <message>" on stderr.
int finish(std::string_view runner, const Outcome& outcome);

// The summary line every runner writes: scenario, tiles, bytes, cycles.
std::string summary_line(std::string_view scenario, std::uint64_t tiles, std::uint64_t bytes, std::uint64_t cycles);

}  // namespace zlu_runner
