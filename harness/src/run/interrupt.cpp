#include "run/interrupt.hpp"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace harness {
namespace {

// A pipe never drained: once a byte is in it, every poller sees it readable.
std::atomic<int> stop_pipe_read{-1};
std::atomic<int> stop_pipe_write{-1};
std::atomic<bool> stopping{false};
std::atomic<int> stopping_signal{0};

void make_stop_pipe() {
  static std::once_flag made;
  std::call_once(made, [] {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    stop_pipe_write.store(fds[1]);
    stop_pipe_read.store(fds[0]);
  });
}

// Async-signal-safe: atomics and one write.
void signal_stop() {
  if (stopping.exchange(true)) return;
  if (const int fd = stop_pipe_write.load(); fd >= 0) {
    const char byte = 0;
    [[maybe_unused]] const auto written = ::write(fd, &byte, 1);
  }
}

void on_interrupt(int signal) {
  if (signal == SIGINT && stopping.load()) {
    std::signal(SIGINT, SIG_DFL);
    ::raise(SIGINT);
    return;
  }
  int none = 0;
  stopping_signal.compare_exchange_strong(none, signal);
  signal_stop();
}

}  // namespace

void install_interrupt_handlers() {
  make_stop_pipe();
  struct sigaction action{};
  action.sa_handler = on_interrupt;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

void request_stop() {
  make_stop_pipe();
  signal_stop();
}

bool stop_requested() { return stopping.load(); }

int interrupt_signal() { return stopping_signal.load(); }

int stop_event_fd() {
  make_stop_pipe();
  return stop_pipe_read.load();
}

}  // namespace harness
