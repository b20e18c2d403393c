#include "cards/quarantine.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/chrono.h>
#include <fmt/format.h>

#include "system/os_error.hpp"
#include "zlu-base/src/atomic_file.hpp"
#include "zlu-history/src/run_identity.hpp"

namespace hardware_e2e {

namespace {

// The record's fields of one line each, by their keys.
constexpr std::array<std::pair<std::string_view, std::string QuarantineRecord::*>, 4> TEXT_FIELDS = {{
    {"reason", &QuarantineRecord::reason},
    {"host", &QuarantineRecord::host},
    {"time", &QuarantineRecord::time},
    {"build", &QuarantineRecord::build},
}};

// A record is a few lines; anything longer was not written by us.
constexpr std::size_t MAX_RECORD_BYTES = 64 * 1024;

std::string one_line(std::string_view value) {
  std::string line(value);
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  return line;
}

std::string record_name(unsigned card) { return fmt::format("card-{}.quarantine", card); }

std::string record_error(const LockFolder& folder, unsigned card, std::string_view why) {
  return fmt::format("card {} quarantine record \"{}\" cannot be used: {}", card, quarantine_file_path(folder, card),
                     why);
}

}  // namespace

std::string render_quarantine(const QuarantineRecord& record) {
  std::string text = fmt::format("card: {}\nreason: {}\n", record.card, one_line(record.reason));
  for (const auto& line : record.evidence) text += fmt::format("evidence: {}\n", one_line(line));
  text += fmt::format("host: {}\ntime: {}\nbuild: {}\n", one_line(record.host), one_line(record.time),
                      one_line(record.build));
  return text;
}

std::expected<QuarantineRecord, std::string> parse_quarantine(std::string_view text) {
  QuarantineRecord record;
  bool card_seen = false;
  std::size_t number = 0;
  while (!text.empty()) {
    ++number;
    const auto end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    const auto colon = line.find(": ");
    if (colon == std::string_view::npos) return std::unexpected(fmt::format("line {} is not \"key: value\"", number));
    const std::string_view key = line.substr(0, colon);
    const std::string value(line.substr(colon + 2));
    if (key == "card") {
      const auto [at, error] = std::from_chars(value.data(), value.data() + value.size(), record.card);
      if (error != std::errc() || at != value.data() + value.size() || value.empty()) {
        return std::unexpected(fmt::format("line {}: \"{}\" is not a card number", number, value));
      }
      card_seen = true;
    } else if (key == "evidence") {
      record.evidence.push_back(value);
    } else if (const auto field = std::find_if(TEXT_FIELDS.begin(), TEXT_FIELDS.end(),
                                               [&](const auto& named) { return named.first == key; });
               field != TEXT_FIELDS.end()) {
      record.*(field->second) = value;
    } else {
      return std::unexpected(fmt::format("line {}: unknown key \"{}\"", number, key));
    }
  }
  if (!card_seen) return std::unexpected(std::string("no card line"));
  return record;
}

QuarantineRecord new_quarantine(unsigned card, std::string reason, std::vector<std::string> evidence) {
  const auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
  return QuarantineRecord{card,
                          std::move(reason),
                          std::move(evidence),
                          zlu_history::host_name(zlu_base::process_environment()),
                          fmt::format("{:%Y-%m-%dT%H:%M:%SZ}", now),
                          zlu_history::executable_build_id()};
}

std::string quarantine_file_path(const LockFolder& folder, unsigned card) {
  return fmt::format("{}/{}", folder.path(), record_name(card));
}

bool is_quarantined(const LockFolder& folder, unsigned card) {
  struct stat info{};
  return ::fstatat(folder.descriptor(), record_name(card).c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

std::expected<void, std::string> write_quarantine(const LockFolder& folder, const QuarantineRecord& record) {
  struct stat info{};
  if (::fstatat(folder.descriptor(), record_name(record.card).c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
      !S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode)) {
    return std::unexpected(record_error(folder, record.card, "not a plain file"));
  }
  const std::string text = render_quarantine(record);
  const zlu_base::ReplaceOptions options{.link = zlu_base::LinkAtTarget::Replace,
                                         .new_file_mode = 0644,
                                         .fifo_without_reader = zlu_base::FifoWithoutReader::Refuse};
  if (auto written = zlu_base::replace_file(quarantine_file_path(folder, record.card),
                                            std::as_bytes(std::span(text.data(), text.size())), options);
      !written) {
    return std::unexpected(record_error(folder, record.card, written.error().describe()));
  }
  return {};
}

std::expected<std::optional<QuarantineRecord>, std::string> read_quarantine(const LockFolder& folder, unsigned card) {
  const int fd = ::openat(folder.descriptor(), record_name(card).c_str(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return std::optional<QuarantineRecord>{};
    return std::unexpected(
        record_error(folder, card, errno == ELOOP ? "a link stands there" : render_os_error(errno)));
  }
  struct stat info{};
  std::string text;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && static_cast<std::size_t>(info.st_size) <= MAX_RECORD_BYTES) {
    text.resize(static_cast<std::size_t>(info.st_size));
    const ssize_t got = ::pread(fd, text.data(), text.size(), 0);
    text.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
  } else {
    ::close(fd);
    return std::unexpected(record_error(folder, card, "not a plain file of a record's size"));
  }
  ::close(fd);
  auto record = parse_quarantine(text);
  if (!record) return std::unexpected(record_error(folder, card, record.error()));
  if (record->card != card) {
    return std::unexpected(record_error(folder, card, fmt::format("it names card {}", record->card)));
  }
  return std::optional<QuarantineRecord>(std::move(*record));
}

std::expected<bool, std::string> remove_quarantine(const LockFolder& folder, unsigned card) {
  if (::unlinkat(folder.descriptor(), record_name(card).c_str(), 0) == 0) return true;
  if (errno == ENOENT) return false;
  return std::unexpected(record_error(folder, card, render_os_error(errno)));
}

}  // namespace hardware_e2e
