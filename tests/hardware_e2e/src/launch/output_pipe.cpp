#include "launch/output_pipe.hpp"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include <fmt/format.h>

namespace hardware_e2e {
namespace {

constexpr std::size_t CHUNK_SIZE = 64 * 1024;

// The lowest descriptor the write end may have: the child joins it to 1 and
// 2, and a dup2 onto itself would leave it closed on exec.
constexpr int LOWEST_WRITE_FD = 3;

void close_fd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace

void BoundedOutput::append(std::string_view bytes) {
  total_ += bytes.size();
  if (head_.size() < half_) {
    const std::size_t taken = std::min(bytes.size(), half_ - head_.size());
    head_.append(bytes.substr(0, taken));
    bytes.remove_prefix(taken);
  }
  tail_.append(bytes);
  // Trimming only once twice the window has gathered copies each byte at
  // most once, however small the pieces come. The byte before the window
  // stays: it tells whether the window starts a line.
  if (tail_.size() > 2 * half_) tail_.erase(0, tail_.size() - half_ - 1);
}

KeptOutput BoundedOutput::finish() && {
  if (total_ <= 2 * half_) return {head_ + tail_, false};
  const std::size_t start = tail_.size() - half_;
  const char before = start > 0 ? tail_[start - 1] : head_.empty() ? '\n' : head_.back();
  std::string_view tail = std::string_view(tail_).substr(start);
  if (const auto first = tail.find('\n'); before != '\n' && first != std::string_view::npos && first + 1 < tail.size()) {
    tail.remove_prefix(first + 1);
  }
  std::string_view head = head_;
  if (const auto last = head.rfind('\n'); last != std::string_view::npos) head = head.substr(0, last + 1);
  std::string text(head);
  if (!text.empty() && text.back() != '\n') text += '\n';
  text += cut_note(total_ - head.size() - tail.size());
  text += tail;
  return {std::move(text), true};
}

std::string cut_note(std::size_t left_out) {
  return fmt::format("[... {} byte{} of runner output left out ...]\n", left_out, left_out == 1 ? "" : "s");
}

std::expected<OutputPipe, int> OutputPipe::open() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return std::unexpected(errno);
  OutputPipe pipe(fds[0], fds[1]);
  // Only the suite's end waits on nothing: the runner writes to a blocking one.
  if (fcntl(pipe.read_fd_, F_SETFL, O_NONBLOCK) != 0) return std::unexpected(errno);
  if (pipe.write_fd_ < LOWEST_WRITE_FD) {
    const int moved = fcntl(pipe.write_fd_, F_DUPFD_CLOEXEC, LOWEST_WRITE_FD);
    if (moved < 0) return std::unexpected(errno);
    close(pipe.write_fd_);
    pipe.write_fd_ = moved;
  }
  return pipe;
}

OutputPipe::OutputPipe(int read_fd, int write_fd)
    : read_fd_(read_fd), write_fd_(write_fd), chunk_(std::make_unique<char[]>(CHUNK_SIZE)) {}

OutputPipe::OutputPipe(OutputPipe&& other) noexcept
    : read_fd_(other.read_fd_),
      write_fd_(other.write_fd_),
      chunk_(std::move(other.chunk_)),
      kept_(std::move(other.kept_)) {
  other.read_fd_ = -1;
  other.write_fd_ = -1;
}

OutputPipe::~OutputPipe() {
  close_fd(read_fd_);
  close_fd(write_fd_);
}

void OutputPipe::close_write_end() { close_fd(write_fd_); }

void OutputPipe::drain() {
  while (read_fd_ >= 0) {
    const ssize_t count = read(read_fd_, chunk_.get(), CHUNK_SIZE);
    if (count > 0) {
      kept_.append(std::string_view(chunk_.get(), static_cast<std::size_t>(count)));
    } else if (count < 0 && errno == EINTR) {
      continue;
    } else if (count < 0 && errno == EAGAIN) {
      return;
    } else {
      // The end, or a pipe that cannot be read: either way nothing more comes,
      // and a closed descriptor keeps a hung-up pipe from waking every wait.
      close_fd(read_fd_);
    }
  }
}

KeptOutput OutputPipe::finish() && {
  drain();
  close_fd(read_fd_);
  return std::move(kept_).finish();
}

}  // namespace hardware_e2e
