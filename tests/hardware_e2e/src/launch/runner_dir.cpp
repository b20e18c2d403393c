#include "launch/runner_command.hpp"
#include "launch/runner_profile.hpp"

// Fixed per executable at build time: the suite's own runners for
// hardware_e2e, the test stand-ins for the builds that test the suite.
std::string_view hardware_e2e::runner_dir() { return ZLU_RUNNER_DIR_PATH; }

// The build says when its runners are the card model's; any other runner
// folder drives a card.
#ifndef ZLU_CARD_KIND
#define ZLU_CARD_KIND "N700"
#endif

std::string_view hardware_e2e::card_kind() { return ZLU_CARD_KIND; }
