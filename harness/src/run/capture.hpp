// Per-test capture of what a test body writes through `print` and `eprint`.
#pragma once

#include <string>
#include <string_view>

namespace harness {

class CaptureScope {
  // While alive, `print`, `eprint` and the failure report of the current thread
  // append to `buffer` instead of going to file descriptors 1 and 2. Only the
  // harness's own output functions are captured: a child process a test starts
  // writes to the inherited descriptors and so reaches the console directly.
 public:
  explicit CaptureScope(std::string& buffer);
  ~CaptureScope();
  CaptureScope(const CaptureScope&) = delete;
  CaptureScope& operator=(const CaptureScope&) = delete;

 private:
  std::string* previous_;
};

// Writes `text` to the capture of the current thread when one is active,
// else to `fd`. Output errors of a body's own writes are not the report's,
// so they are ignored.
void write_test_output(int fd, std::string_view text);

}  // namespace harness
