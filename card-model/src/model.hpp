// The N700 card model: include this to drive the card.
#pragma once

#include "card.hpp"
#include "cycle_model.hpp"
#include "program.hpp"
#include "sram.hpp"
