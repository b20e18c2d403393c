// ZLU_SIM_CARD_FAULT: a defect of one model card among a host's, so that the
// suite's card health can be shown on cards that break like real ones.
#pragma once

#include <expected>
#include <optional>
#include <string_view>

#include "card.hpp"
#include "contract.hpp"
#include "environment.hpp"
#include "outcome.hpp"

namespace zlu_runner {

inline constexpr std::string_view SIM_CARD_FAULT_VARIABLE = zlu_contract::SIM_CARD_FAULT;

// The stuck bit that `value` gives card `card`, if any. The value holds
// comma-separated items `<card>:tile=<T>:stuck-bit=<B>` (card 0 to 4095,
// logical tile T of the card, bit B from 0 to 31 of each word), at most one
// per card; an empty value asks for nothing. Every item is checked whichever
// card it names; a malformed one is a configuration error naming
// ZLU_SIM_CARD_FAULT and the value. Without a card (`card` empty) nothing
// applies.
std::expected<std::optional<zlu_card::StuckBit>, Failure> parse_card_fault(std::optional<unsigned> card,
                                                                           std::string_view value);

// `options` with the stuck bit ZLU_SIM_CARD_FAULT gives the card named by
// ZLU_CARD_ID, if any: how the runner builds its card.
std::expected<zlu_card::CardOptions, Failure> with_card_fault(zlu_card::CardOptions options, const EnvLookup& env);

}  // namespace zlu_runner
