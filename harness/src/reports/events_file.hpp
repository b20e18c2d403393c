// The events file of ZLU_TEST_EVENTS: the run's JSON event lines, whatever
// the report's format.
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "reports/formatter.hpp"
#include "reports/json.hpp"
#include "zlu-base/src/atomic_file.hpp"

namespace harness {

class EventsFile : public Formatter {
  // One more listener: writes the lines `--format json` would write, each
  // with the events file's own fields (see JsonEvents): the run id, the
  // event's time, each try's start, end and kind of failure. A file is
  // replaced when the run finishes, so that its readers see the previous file
  // or the whole run, never part of it; a FIFO or a character device is
  // written as the events come. A file that cannot be written costs the run nothing but a
  // line on standard error when the run finishes, as the timeline does: the
  // report and the exit status stay what the tests make them.
 public:
  // Opens the way to `path`, before any test starts; the message that ends
  // the run when it cannot. A FIFO that nobody reads is refused instead of
  // waited on.
  // `executable` is the program's file name, as the reports that name the
  // suite show it.
  static std::expected<EventsFile, std::string> open(const std::string& path, bool show_output,
                                                     std::string executable);

  void run_started(const RunStart& start) override { write(events_.run_started(start)); }
  void test_started(const TestEvent& event) override { write(events_.test_started(event)); }
  void still_running(const TestEvent& event) override { write(events_.still_running(event)); }
  void test_result(const ResultEvent& event) override { write(events_.test_result(event)); }
  void run_finished(const RunEnd& event) override;
  int error() const override { return 0; }

 private:
  EventsFile(zlu_base::FileReplacer file, bool show_output, std::string executable)
      : file_(std::move(file)), events_(show_output, std::move(executable)) {}
  void write(std::string_view lines);

  zlu_base::FileReplacer file_;
  JsonEvents events_;
  std::optional<zlu_base::FileError> failure_;  // the first write that failed; later ones are dropped
};

}  // namespace harness
