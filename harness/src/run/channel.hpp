// The queue on which workers hand their results to the run loop.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

namespace harness {

template <typename T>
class Channel {
  // A many-senders, one-receiver queue with a receive time-out. Values arrive
  // in the order they were sent. Shared by the run loop and the workers through
  // a shared_ptr, so a worker that outlives a run stopped early (fail-fast)
  // still has somewhere to send its result.
 public:
  void send(T value) {
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(std::move(value));
    }
    ready_.notify_one();
  }

  // The next value; waits without limit.
  T receive() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [&] { return !queue_.empty(); });
    return pop();
  }

  // The next value, or nullopt when none arrived before `deadline`.
  std::optional<T> receive_until(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    if (!ready_.wait_until(lock, deadline, [&] { return !queue_.empty(); })) return std::nullopt;
    return pop();
  }

 private:
  T pop() {
    T value = std::move(queue_.front());
    queue_.pop_front();
    return value;
  }

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<T> queue_;
};

}  // namespace harness
