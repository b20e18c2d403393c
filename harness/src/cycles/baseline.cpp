#include "cycles/baseline.hpp"

#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "zlu-base/src/atomic_file.hpp"
#include "zlu-base/src/os_error.hpp"

namespace harness {
namespace {

using nlohmann::json;
__extension__ typedef unsigned __int128 Wide;

// A baseline is a few hundred bytes per test; a file far larger is not one,
// and reading it whole would only cost memory.
constexpr off_t MAX_BASELINE_BYTES = 64 << 20;

std::expected<std::uint64_t, std::string> count_at(const json& object, std::string_view test, std::string_view where,
                                                   std::string_view key) {
  const auto found = object.find(key);
  if (found == object.end()) return std::unexpected(fmt::format("test \"{}\": {}{} is missing", test, where, key));
  if (!found->is_number_unsigned()) {
    return std::unexpected(
        fmt::format("test \"{}\": {}{} is {}, not a cycle count", test, where, key, found->dump()));
  }
  return found->get<std::uint64_t>();
}

std::expected<std::string, std::string> text_at(const json& object, std::string_view test, std::string_view key) {
  const auto found = object.find(key);
  if (found == object.end()) return std::unexpected(fmt::format("test \"{}\": provenance.{} is missing", test, key));
  if (!found->is_string()) {
    return std::unexpected(fmt::format("test \"{}\": provenance.{} is {}, not a string", test, key, found->dump()));
  }
  return found->get<std::string>();
}

std::expected<BaselineEntry, std::string> parse_entry(std::string_view test, const json& value) {
  if (!value.is_object()) return std::unexpected(fmt::format("test \"{}\" is {}, not an object", test, value.type_name()));
  const auto cycles = value.find("cycles");
  if (cycles == value.end() || !cycles->is_object()) {
    return std::unexpected(fmt::format("test \"{}\": cycles is missing or not an object", test));
  }
  BaselineEntry entry;
  for (std::size_t q = 0; q < SPAN_QUANTITY; ++q) {
    auto count = count_at(*cycles, test, "cycles.", CYCLE_QUANTITIES[q]);
    if (!count) return std::unexpected(count.error());
    entry.cycles[q] = *count;
  }
  auto span = count_at(value, test, "", "span");
  if (!span) return std::unexpected(span.error());
  entry.cycles[SPAN_QUANTITY] = *span;

  const auto provenance = value.find("provenance");
  if (provenance == value.end() || !provenance->is_object()) {
    return std::unexpected(fmt::format("test \"{}\": provenance is missing or not an object", test));
  }
  for (const auto& [key, field] : {std::pair{"build", &entry.provenance.build}, std::pair{"card", &entry.provenance.card},
                                   std::pair{"blessed", &entry.provenance.blessed}}) {
    auto text = text_at(*provenance, test, key);
    if (!text) return std::unexpected(text.error());
    *field = std::move(*text);
  }
  return entry;
}

// nlohmann's messages open with "[json.exception.parse_error.101] "; the rest
// is what a reader needs.
std::string without_exception_tag(std::string_view what) {
  const auto tag_end = what.find("] ");
  return std::string(tag_end == std::string_view::npos ? what : what.substr(tag_end + 2));
}

json entry_json(const BaselineEntry& entry) {
  json cycles = json::object();
  for (std::size_t q = 0; q < SPAN_QUANTITY; ++q) cycles[std::string(CYCLE_QUANTITIES[q])] = entry.cycles[q];
  return json{{"cycles", std::move(cycles)},
              {"span", entry.cycles[SPAN_QUANTITY]},
              {"provenance",
               {{"build", entry.provenance.build},
                {"card", entry.provenance.card},
                {"blessed", entry.provenance.blessed}}}};
}

// The change as a signed percentage with as few decimals as show it: "+12.2%",
// "-0.004%".
std::string render_delta(std::uint64_t before, std::uint64_t after) {
  const double percent = (static_cast<double>(after) - static_cast<double>(before)) / static_cast<double>(before) * 100;
  std::string text;
  for (int decimals = 1; decimals <= 6; ++decimals) {
    text = fmt::format("{:+.{}f}%", percent, decimals);
    if (text.find_first_of("123456789") != std::string::npos) break;
  }
  return text;
}

}  // namespace

CycleQuantities quantities_of(const CycleSummary& summary) {
  CycleQuantities quantities{};
  for (std::size_t q = 0; q < SPAN_QUANTITY; ++q) quantities[q] = summary.cycles_by_kind[q];
  quantities[SPAN_QUANTITY] = summary.span;
  return quantities;
}

std::expected<Baseline, std::string> parse_baseline(std::string_view text) {
  json document;
  try {
    document = json::parse(text);
  } catch (const json::exception& error) {
    return std::unexpected(without_exception_tag(error.what()));
  }
  if (!document.is_object()) return std::unexpected(fmt::format("the document is {}, not an object", document.type_name()));
  const auto format = document.find("format");
  if (format == document.end() || !format->is_number_unsigned() || format->get<std::uint64_t>() != BASELINE_FORMAT) {
    return std::unexpected(fmt::format("format is {}, not {}", format == document.end() ? "missing" : format->dump(),
                                       BASELINE_FORMAT));
  }
  const auto tests = document.find("tests");
  if (tests == document.end() || !tests->is_object()) return std::unexpected("tests is missing or not an object");
  Baseline baseline;
  for (const auto& [name, value] : tests->items()) {
    auto entry = parse_entry(name, value);
    if (!entry) return std::unexpected(entry.error());
    baseline.emplace(name, std::move(*entry));
  }
  return baseline;
}

std::expected<Baseline, std::string> read_baseline(const std::string& path) {
  const auto refused = [&](std::string_view fault) {
    return std::unexpected(fmt::format("cycle baseline {}: {}", path, fault));
  };
  // Without blocking, so that a FIFO at the path is refused rather than waited on.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return refused(zlu_base::render_os_error(errno));
  std::string text;
  struct stat status {};
  int error = fstat(fd, &status) == 0 ? 0 : errno;
  if (error == 0 && !S_ISREG(status.st_mode)) {
    close(fd);
    return refused("not a regular file");
  }
  if (error == 0 && status.st_size > MAX_BASELINE_BYTES) {
    close(fd);
    return refused(fmt::format("{} bytes, more than a baseline's limit of {}", status.st_size, MAX_BASELINE_BYTES));
  }
  char buffer[1 << 16];
  while (error == 0) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) error = errno;
    if (got <= 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  close(fd);
  if (error != 0) return refused(zlu_base::render_os_error(error));
  auto baseline = parse_baseline(text);
  if (!baseline) return refused(baseline.error());
  return baseline;
}

std::string render_baseline(const Baseline& baseline) {
  json tests = json::object();
  for (const auto& [name, entry] : baseline) tests[name] = entry_json(entry);
  const json document{{"format", BASELINE_FORMAT}, {"tests", std::move(tests)}};
  // Test names need not be UTF-8; the replacement keeps the document valid.
  return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

std::expected<void, std::string> write_baseline(const std::string& path, const Baseline& baseline) {
  const std::string text = render_baseline(baseline);
  const auto written = zlu_base::replace_file(path, std::as_bytes(std::span(text.data(), text.size())),
                                              {.new_file_mode = 0644});
  if (!written) return std::unexpected(fmt::format("cycle baseline not blessed: {}", written.error().describe()));
  return {};
}

CycleJudgement judge_cycles(const BaselineEntry* entry, const CycleSummary* summary, const CycleTolerance& tolerance) {
  if (summary == nullptr) return {CycleVerdict::NoProfile, {}};
  if (entry == nullptr) return {CycleVerdict::NoEntry, {}};
  const CycleQuantities now = quantities_of(*summary);
  std::vector<CycleChange> over;
  std::vector<CycleChange> under;
  for (std::size_t q = 0; q < now.size(); ++q) {
    const CycleChange change{q, entry->cycles[q], now[q], tolerance.allowed[q]};
    // after <= before * (1 + allowed), exactly: 128 bits hold both products.
    const Wide limit = static_cast<Wide>(change.before) * (1'000'000 + change.allowed);
    if (static_cast<Wide>(change.after) * 1'000'000 > limit) {
      over.push_back(change);
    } else if (change.after < change.before) {
      under.push_back(change);
    }
  }
  if (!over.empty()) return {CycleVerdict::Regressed, std::move(over)};
  if (!under.empty()) return {CycleVerdict::Improved, std::move(under)};
  return {CycleVerdict::Unchanged, {}};
}

std::string render_changes(const CycleJudgement& judgement) {
  std::string text;
  for (const CycleChange& change : judgement.changes) {
    if (!text.empty()) text += '\n';
    text += fmt::format("{} cycles {} -> {} (", CYCLE_QUANTITIES[change.quantity], change.before, change.after);
    text += change.before == 0 ? std::string("new") : render_delta(change.before, change.after);
    if (judgement.verdict == CycleVerdict::Regressed) text += fmt::format(", allowed +{}", render_percentage(change.allowed));
    text += ')';
  }
  return text;
}

}  // namespace harness
