#include "xml_document.hpp"

#include <cstdlib>
#include <filesystem>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace harness_formats {
namespace {

ParserRun run_xmllint(std::vector<std::string> args) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) throw std::runtime_error("cannot create a pipe for xmllint");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2);
  posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
  args.insert(args.begin(), "xmllint");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  const int spawned = posix_spawnp(&child, "xmllint", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipe_fds[1]);
  if (spawned != 0) {
    ::close(pipe_fds[0]);
    throw std::runtime_error("cannot start xmllint (install libxml2-utils)");
  }
  ParserRun run;
  char buffer[4096];
  for (ssize_t got; (got = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0;)
    run.output.append(buffer, static_cast<std::size_t>(got));
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace

XmlDocument::XmlDocument(const std::string& text) {
  std::string pattern = (std::filesystem::temp_directory_path() / "junit-report-XXXXXX").string();
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) throw std::runtime_error("cannot create a temporary file for the document");
  path_ = pattern;
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  if (!written) throw std::runtime_error("cannot write the document to " + path_);
}

XmlDocument::~XmlDocument() { ::unlink(path_.c_str()); }

ParserRun XmlDocument::check_well_formed() const { return run_xmllint({"--noout", path_}); }

ParserRun XmlDocument::validate(const std::string& schema_path) const {
  if (!std::filesystem::is_regular_file(schema_path)) return {"no schema file at " + schema_path, -1};
  return run_xmllint({"--noout", "--schema", schema_path, path_});
}

std::string XmlDocument::xpath(const std::string& expression) const {
  std::string value = run_xmllint({"--xpath", expression, path_}).output;
  if (!value.empty() && value.back() == '\n') value.pop_back();
  return value;
}

}  // namespace harness_formats
