#include "reports/color.hpp"

#include <curses.h>
#include <term.h>

namespace harness {

std::string Palette::paint(Color color, std::string_view text) const {
  if (!sequences) return std::string(text);
  const std::string* start = nullptr;
  switch (color) {
    case Color::Red: start = &sequences->red; break;
    case Color::Green: start = &sequences->green; break;
    case Color::Yellow: start = &sequences->yellow; break;
    case Color::Cyan: start = &sequences->cyan; break;
  }
  std::string painted = *start;
  painted.append(text);
  painted.append(sequences->reset);
  return painted;
}

namespace {

std::optional<std::string> capability(const char* name) {
  char* value = tigetstr(name);
  // tigetstr signals "not a string capability" with (char*)-1.
  if (value == nullptr || value == reinterpret_cast<char*>(-1)) return std::nullopt;
  return std::string(value);
}

}  // namespace

Palette load_palette(const std::optional<std::string>& term) {
  if (!term || term->empty()) return {};
  int error = 0;
  if (setupterm(term->c_str(), 1, &error) != OK) return {};
  Palette palette;
  auto setaf = capability("setaf");
  auto sgr0 = capability("sgr0");
  if (setaf && sgr0) {
    auto colour = [&](Color c) { return std::string(tiparm(setaf->c_str(), static_cast<int>(c))); };
    palette.sequences = Palette::Sequences{colour(Color::Red), colour(Color::Green), colour(Color::Yellow),
                                           colour(Color::Cyan), *sgr0};
  }
  // The sequences are copied out, so the description need not stay loaded.
  del_curterm(cur_term);
  return palette;
}

bool wants_color(ColorConfig config, bool capture, bool stdout_is_tty) {
  switch (config) {
    case ColorConfig::Always: return true;
    case ColorConfig::Never: return false;
    case ColorConfig::Auto: return capture && stdout_is_tty;
  }
  return false;
}

}  // namespace harness
