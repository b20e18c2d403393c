// The report's standard output.
#pragma once

#include <string_view>

#include "reports/color.hpp"

namespace harness {

class ConsoleOutput {
  // Standard output (or any file descriptor) as the report writes it: every
  // piece goes out at once, unbuffered, and every write is checked. The first
  // failed write is remembered and later writes are dropped, so that the run
  // loop can stop the run with the error after the event that met it.
 public:
  ConsoleOutput(int fd, Palette palette) : fd_(fd), palette_(std::move(palette)) {}

  void write(std::string_view text);
  void write_colored(Color color, std::string_view text);

  // The errno of the first failed write, or 0.
  int error() const { return error_; }
  const Palette& palette() const { return palette_; }

 private:
  int fd_;
  Palette palette_;
  int error_ = 0;
};

}  // namespace harness
