// A runner's standard output and error as the suite keeps them when runner
// output is captured: read from a pipe while the runner runs, and bounded,
// so that a runner that writes without end neither blocks nor fills memory.
#pragma once

#include <cstddef>
#include <expected>
#include <memory>
#include <string>
#include <string_view>

namespace hardware_e2e {

inline constexpr std::size_t RUNNER_OUTPUT_LIMIT = 1024 * 1024;
// The most of one runner's output that is kept: its first and its last
// half, at whole lines where the cut allows.

struct KeptOutput {
  // What is kept of a runner's output: `text` holds it whole, or its head
  // and tail with a line between them telling how many bytes were left out.

  std::string text;
  bool cut = false;
};

class BoundedOutput {
  // Keeps the first `limit / 2` bytes written and a window of at least the
  // last `limit / 2`, whatever the total: it never holds more than one and a
  // half times `limit` and the piece being appended.

 public:
  explicit BoundedOutput(std::size_t limit = RUNNER_OUTPUT_LIMIT) : half_(limit / 2) {}

  void append(std::string_view bytes);

  KeptOutput finish() &&;
  // All bytes when no more than the limit came. Otherwise the head up to its
  // last line feed, a note line, and the tail from after its first line
  // feed; a head or tail with no line feed is kept as it is.

 private:
  std::size_t half_;
  std::size_t total_ = 0;
  std::string head_;
  std::string tail_;  // the bytes after the head; trimmed to its last half_ once past 2 * half_
};

std::string cut_note(std::size_t left_out);
// "[... 1234 bytes of runner output left out ...]\n"

class OutputPipe {
  // A pipe that a runner's standard output and error are joined to, read
  // without blocking into a BoundedOutput. Both ends are closed on exec; the
  // child gives its copy of the write end to descriptors 1 and 2.

 public:
  static std::expected<OutputPipe, int> open();
  // The error is the errno of the failed pipe.

  OutputPipe(OutputPipe&& other) noexcept;
  OutputPipe& operator=(OutputPipe&&) = delete;
  OutputPipe(const OutputPipe&) = delete;
  ~OutputPipe();

  int write_end() const { return write_fd_; }
  void close_write_end();
  // Once the runner holds its copy: the pipe ends when the runner's group
  // has closed theirs.

  int read_end() const { return read_fd_; }
  void drain();
  // Reads what the pipe holds now, up to its end, without waiting.

  KeptOutput finish() &&;
  // Reads what is left and gives back what was kept.

 private:
  OutputPipe(int read_fd, int write_fd);

  int read_fd_;
  int write_fd_;
  std::unique_ptr<char[]> chunk_;
  BoundedOutput kept_;
};

}  // namespace hardware_e2e
