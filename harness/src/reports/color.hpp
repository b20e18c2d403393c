// Terminal colours for the console report, taken from the terminal
// description database so that the escape sequences match the terminal.
#pragma once

#include <optional>
#include <string>

#include "options/report_options.hpp"

namespace harness {

enum class Color { Red = 1, Green = 2, Yellow = 3, Cyan = 6 };

struct Palette {
  // The escape sequences of one terminal, or none for plain output.
  struct Sequences {
    std::string red, green, yellow, cyan, reset;
  };
  std::optional<Sequences> sequences;

  // `text` coloured and followed by the reset, or `text` as it is when plain.
  std::string paint(Color color, std::string_view text) const;
};

// The palette of the terminal named `term` (the TERM variable): plain when
// `term` is unset or not in the database, or when a capability is missing.
Palette load_palette(const std::optional<std::string>& term);

// Whether the report is coloured: always, never, or (auto) only when capture
// is on and standard output is a terminal.
bool wants_color(ColorConfig config, bool capture, bool stdout_is_tty);

}  // namespace harness
