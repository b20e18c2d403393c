#include "run/capture.hpp"

#include "reports/io_error.hpp"
#include "lib.hpp"

namespace harness {
namespace {

thread_local std::string* active_capture = nullptr;

}  // namespace

CaptureScope::CaptureScope(std::string& buffer) : previous_(active_capture) { active_capture = &buffer; }

CaptureScope::~CaptureScope() { active_capture = previous_; }

void write_test_output(int fd, std::string_view text) {
  if (active_capture != nullptr) {
    active_capture->append(text);
    return;
  }
  write_all(fd, text);
}

void print(std::string_view text) { write_test_output(1, text); }

void eprint(std::string_view text) { write_test_output(2, text); }

}  // namespace harness
