#include "run/worker.hpp"

#include <algorithm>
#include <climits>
#include <memory>
#include <string>

namespace harness {
namespace {

// The value a worker returns when its job returned; anything else (null from
// pthread_exit(nullptr), PTHREAD_CANCELED) means it ended abnormally.
int normal_end_marker;

struct WorkerStart {
  std::function<void()> job;
  std::string name;
};

void* worker_main(void* argument) {
  std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(argument));
  pthread_setname_np(pthread_self(), start->name.c_str());
  start->job();
  return &normal_end_marker;
}

class ThreadAttributes {
  // Owns pthread attributes for the duration of one spawn.
 public:
  ThreadAttributes() { pthread_attr_init(&attr_); }
  ~ThreadAttributes() { pthread_attr_destroy(&attr_); }
  ThreadAttributes(const ThreadAttributes&) = delete;
  ThreadAttributes& operator=(const ThreadAttributes&) = delete;
  pthread_attr_t* get() { return &attr_; }

 private:
  pthread_attr_t attr_;
};

}  // namespace

std::string_view thread_name_for(std::string_view test_name) {
  constexpr std::size_t limit = 15;
  if (test_name.size() <= limit) return test_name;
  std::size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(test_name[cut]) & 0xC0) == 0x80) --cut;
  return test_name.substr(0, cut);
}

std::expected<pthread_t, int> spawn_worker(std::function<void()> job, std::string_view name, std::size_t stack_size) {
  ThreadAttributes attributes;
  const std::size_t stack = std::max<std::size_t>(stack_size, PTHREAD_STACK_MIN);
  if (const int error = pthread_attr_setstacksize(attributes.get(), stack); error != 0) {
    return std::unexpected(error);
  }
  auto start = std::make_unique<WorkerStart>(WorkerStart{std::move(job), std::string(thread_name_for(name))});
  pthread_t thread;
  if (const int error = pthread_create(&thread, attributes.get(), worker_main, start.get()); error != 0) {
    return std::unexpected(error);
  }
  start.release();  // the worker owns it now
  return thread;
}

bool stack_size_can_be_given(std::size_t stack_size) {
  const auto thread = spawn_worker([] {}, "stack probe", stack_size);
  return thread && join_worker(*thread);
}

bool join_worker(pthread_t thread) {
  void* returned = nullptr;
  if (pthread_join(thread, &returned) != 0) return false;
  return returned == &normal_end_marker;
}

}  // namespace harness
