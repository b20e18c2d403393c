#include "trace.hpp"

#include <algorithm>
#include <charconv>
#include <string>
#include <string_view>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "kinds.hpp"
#include "zlu-exchange/src/lib.hpp"

namespace zlu_profile {
namespace {

constexpr int CARD_PROCESS = 0;

// Events gather in a buffer of about this size before it goes to the stream.
constexpr std::size_t FLUSH_BYTES = 64 * 1024;

// Nanoseconds since the profile's start of `cycle`, to the nearest. Events
// are placed in whole nanoseconds, so that a sample that ends on the cycle
// the next one starts on ends at the very time, to the last printed digit,
// that the next one starts: a viewer would otherwise nest the next one
// inside it.
std::uint64_t cycle_nanoseconds(std::uint64_t cycle, std::uint64_t clock_hz) {
  __extension__ typedef unsigned __int128 Wide;
  return static_cast<std::uint64_t>((static_cast<Wide>(cycle) * 1'000'000'000u + clock_hz / 2) / clock_hz);
}

std::string thread_name(std::uint32_t physical) {
  if (physical >= zlu_exchange::N700_TILES) {
    return fmt::format("tile {} (outside the card)", physical);
  }
  const auto location = zlu_exchange::physical_location(static_cast<std::uint16_t>(physical));
  return fmt::format("tile {} (row {}, position {})", physical, location.row, location.position);
}

// Writes the sample events as the JSON library would serialize them (keys
// in sorted order, its number and escape forms), without building a value
// per event: that is where nearly all of a large trace's time went.
class EventWriter {
 public:
  explicit EventWriter(std::ostream& out) : out_(out) { buffer_.reserve(FLUSH_BYTES + 4096); }
  EventWriter(const EventWriter&) = delete;
  EventWriter& operator=(const EventWriter&) = delete;
  ~EventWriter() { flush(); }

  void sample(const zlu_package::CycleSample& sample, std::uint32_t physical, std::uint64_t clock_hz) {
    const zlu_package::ProfileStep& step = sample.step;
    const std::uint64_t start_ns = cycle_nanoseconds(sample.start_cycle, clock_hz);
    const std::uint64_t end_ns = std::max(start_ns, cycle_nanoseconds(sample.end_cycle, clock_hz));
    literal(R"(,{"args":{"end_cycle":)");
    integer(sample.end_cycle);
    literal(R"(,"epoch":)");
    integer(step.epoch);
    literal(R"(,"kernel":)");
    text(step.kernel);
    literal(R"(,"local_index":)");
    integer(step.local_index);
    literal(R"(,"metadata":[)");
    bool first = true;
    for (const zlu_package::ProfileMetadata& entry : step.metadata) {
      literal(first ? R"({"name":)" : R"(,{"name":)");
      first = false;
      text(entry.name);
      literal(R"(,"value":)");
      text(entry.value);
      buffer_ += '}';
    }
    literal(R"(],"phase":)");
    integer(step.phase);
    literal(R"(,"start_cycle":)");
    integer(sample.start_cycle);
    literal(R"(},"cat":)");
    text(kind_name(step.kind));
    literal(R"(,"dur":)");
    microseconds(end_ns - start_ns);
    literal(R"(,"name":)");
    text(step.operation);
    literal(R"(,"ph":"X","pid":)");
    integer(CARD_PROCESS);
    literal(R"(,"tid":)");
    integer(physical);
    literal(R"(,"ts":)");
    microseconds(start_ns);
    buffer_ += '}';
    if (buffer_.size() >= FLUSH_BYTES) flush();
  }

  void flush() {
    out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    buffer_.clear();
  }

 private:
  void literal(std::string_view text) { buffer_.append(text); }

  template <typename Integer>
  void integer(Integer value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    buffer_.append(digits, static_cast<std::size_t>(end - digits));
  }

  // Whole nanoseconds as microseconds in the JSON library's form of the
  // nearest double. Below 10^15 nanoseconds that form is their exact
  // decimal, without trailing zeros but with at least one decimal, which is
  // written here directly; it is what nearly every event needs.
  void microseconds(std::uint64_t nanoseconds) {
    if (nanoseconds < 1'000'000'000'000'000u) {
      integer(nanoseconds / 1000);
      const std::uint64_t fraction = nanoseconds % 1000;
      char decimals[4] = {'.', static_cast<char>('0' + fraction / 100), static_cast<char>('0' + fraction / 10 % 10),
                          static_cast<char>('0' + fraction % 10)};
      std::size_t length = 4;
      while (length > 2 && decimals[length - 1] == '0') --length;
      buffer_.append(decimals, length);
      return;
    }
    char digits[64];
    const double value = static_cast<double>(nanoseconds) / 1000.0;
    char* end = nlohmann::detail::to_chars(digits, digits + sizeof digits, value);
    buffer_.append(digits, static_cast<std::size_t>(end - digits));
  }

  // A JSON string of `bytes`, which the reader has already found to be
  // UTF-8: quotes, backslashes and control characters are escaped, every
  // other byte is copied.
  void text(std::string_view bytes) {
    buffer_ += '"';
    std::size_t plain = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const auto byte = static_cast<unsigned char>(bytes[i]);
      if (byte >= 0x20 && byte != '"' && byte != '\\') continue;
      buffer_.append(bytes.data() + plain, i - plain);
      plain = i + 1;
      switch (byte) {
        case '"': literal(R"(\")"); break;
        case '\\': literal(R"(\\)"); break;
        case '\b': literal(R"(\b)"); break;
        case '\t': literal(R"(\t)"); break;
        case '\n': literal(R"(\n)"); break;
        case '\f': literal(R"(\f)"); break;
        case '\r': literal(R"(\r)"); break;
        default: {
          constexpr char hex[] = "0123456789abcdef";
          const char escape[] = {'\\', 'u', '0', '0', hex[byte >> 4], hex[byte & 0xF]};
          buffer_.append(escape, sizeof escape);
        }
      }
    }
    buffer_.append(bytes.data() + plain, bytes.size() - plain);
    buffer_ += '"';
  }

  std::ostream& out_;
  std::string buffer_;
};

}  // namespace

void write_trace(const zlu_package::ProfileReport& profile, std::ostream& out) {
  const std::uint64_t clock_hz = profile.clock_hz == 0 ? FALLBACK_CLOCK_HZ : profile.clock_hz;
  const nlohmann::json other = {{"clock_hz", profile.clock_hz},
                                {"clock_hz_used", clock_hz},
                                {"tiles", profile.tiles.size()}};
  out << R"({"displayTimeUnit":"ns","otherData":)" << other.dump() << R"(,"traceEvents":[)";
  out << nlohmann::json{{"ph", "M"}, {"pid", CARD_PROCESS}, {"name", "process_name"},
                        {"args", {{"name", "N700 card"}}}}
             .dump();
  for (const zlu_package::TileProfile& tile : profile.tiles) {
    out << ',' << nlohmann::json{{"ph", "M"}, {"pid", CARD_PROCESS}, {"tid", tile.physical_tile},
                                 {"name", "thread_name"}, {"args", {{"name", thread_name(tile.physical_tile)}}}}
                      .dump();
    out << ',' << nlohmann::json{{"ph", "M"}, {"pid", CARD_PROCESS}, {"tid", tile.physical_tile},
                                 {"name", "thread_sort_index"}, {"args", {{"sort_index", tile.physical_tile}}}}
                      .dump();
  }
  {
    EventWriter events(out);
    for (const zlu_package::TileProfile& tile : profile.tiles) {
      for (const zlu_package::CycleSample& sample : tile.samples) events.sample(sample, tile.physical_tile, clock_hz);
    }
  }
  out << "]}\n";
}

}  // namespace zlu_profile
