#include "output.hpp"

#include <cerrno>
#include <iostream>

#include <fmt/format.h>

#include "replacer_stream.hpp"
#include "zlu-base/src/atomic_file.hpp"
#include "zlu-base/src/os_error.hpp"

namespace zlu_profile {
namespace {

// Standard output is written as it is.
std::expected<void, std::string> write_in_place(std::ostream& out, const std::string& name,
                                                const std::function<void(std::ostream&)>& write) {
  if (out) {
    write(out);
    out.flush();
  }
  if (!out) {
    return std::unexpected(fmt::format("{}: write failed: {}", name, zlu_base::os_error_text(errno)));
  }
  return {};
}

std::string message(const std::string& name, const zlu_base::FileError& error) {
  using Step = zlu_base::FileError::Step;
  switch (error.step) {
    case Step::Open:
    case Step::Write:
    case Step::Flush:
    case Step::Close: return fmt::format("{}: write failed: {}", name, error.cause());
    default: return fmt::format("{}: {}", name, error.cause());
  }
}

}  // namespace

std::expected<void, std::string> write_output(const std::filesystem::path& path,
                                              const std::function<void(std::ostream&)>& write) {
  if (path == "-") {
    return write_in_place(std::cout, "standard output", write);
  }
  const std::string name = path.string();
  auto replacer = zlu_base::FileReplacer::open(path);
  if (!replacer) return std::unexpected(message(name, replacer.error()));
  ReplacerStream stream(*replacer);
  write(stream);
  if (auto written = stream.finish(); !written) return std::unexpected(message(name, written.error()));
  if (auto committed = replacer->commit(); !committed) return std::unexpected(message(name, committed.error()));
  return {};
}

}  // namespace zlu_profile
