// Worker threads: one per test, named after it, with the configured stack.
#pragma once

#include <cstddef>
#include <expected>
#include <functional>
#include <pthread.h>
#include <string_view>

namespace harness {

// The part of a test name that fits a thread name (15 bytes, the longest the
// kernel keeps), cut so that no UTF-8 sequence is split.
std::string_view thread_name_for(std::string_view test_name);

// Starts `job` on a new thread named after `name` with a stack of at least
// `stack_size` bytes. Returns the thread, or the errno of the refusal (EAGAIN
// when the system has no more threads to give for now).
std::expected<pthread_t, int> spawn_worker(std::function<void()> job, std::string_view name, std::size_t stack_size);

// Whether a thread can be started with a stack of `stack_size` bytes: starts
// one that returns at once and waits for it. A size beyond what the system
// can map fails every start.
bool stack_size_can_be_given(std::size_t stack_size);

// Waits for `thread` to end; false when it ended abnormally (it exited or
// was cancelled instead of returning from its job).
bool join_worker(pthread_t thread);

}  // namespace harness
