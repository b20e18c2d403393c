#include "reports/events_file.hpp"

#include <fmt/format.h>

#include "options/options.hpp"
#include "zlu-base/src/fd.hpp"

namespace harness {

std::expected<EventsFile, std::string> EventsFile::open(const std::string& path, bool show_output,
                                                        std::string executable) {
  const zlu_base::ReplaceOptions options{.new_file_mode = 0644,
                                         .fifo_without_reader = zlu_base::FifoWithoutReader::Refuse};
  auto file = zlu_base::FileReplacer::open(path, options);
  if (!file) return std::unexpected(fmt::format("error: {} is `{}`: {}\n", EVENTS_VAR, path, file.error().describe()));
  return EventsFile(std::move(*file), show_output, std::move(executable));
}

void EventsFile::write(std::string_view lines) {
  if (failure_) return;
  if (auto written = file_.write(lines); !written) failure_ = written.error();
}

void EventsFile::run_finished(const RunEnd& event) {
  write(events_.run_finished(event));
  if (!failure_) {
    if (auto committed = file_.commit(); !committed) failure_ = committed.error();
  }
  if (failure_) {
    zlu_base::write_stderr_line(fmt::format("{}: the events were not written: {}", EVENTS_VAR, failure_->describe()));
  }
}

}  // namespace harness
