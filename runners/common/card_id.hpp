// Which card a runner drives: the suite names it in ZLU_CARD_ID when the
// host has several, and the runner names it in its report line.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "contract.hpp"
#include "environment.hpp"
#include "outcome.hpp"

namespace zlu_runner {

inline constexpr std::string_view CARD_ID_VARIABLE = zlu_contract::CARD_ID;

// The name a runner reports under: `runner` alone when ZLU_CARD_ID is unset,
// "<runner> on card <n>" when it holds a card number (decimal, at most
// 4095), a configuration error naming the variable and value otherwise.
std::expected<std::string, Failure> report_name(std::string_view runner, const EnvLookup& env);

}  // namespace zlu_runner
