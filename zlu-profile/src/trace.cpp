#include "trace.hpp"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "kinds.hpp"
#include "statistics.hpp"
#include "zlu-exchange/src/lib.hpp"

namespace zlu_profile {
namespace {

constexpr int CARD_PROCESS = 0;

std::string thread_name(std::uint32_t physical) {
  if (physical >= zlu_exchange::N700_TILES) {
    return fmt::format("tile {} (outside the card)", physical);
  }
  const auto location = zlu_exchange::physical_location(static_cast<std::uint16_t>(physical));
  return fmt::format("tile {} (row {}, position {})", physical, location.row, location.position);
}

// Text fields arrive validated as UTF-8, so the strict serializer never
// meets a byte it would refuse.
nlohmann::json sample_event(const zlu_package::CycleSample& sample, std::uint32_t physical, std::uint64_t clock_hz) {
  nlohmann::json metadata = nlohmann::json::array();
  for (const zlu_package::ProfileMetadata& entry : sample.step.metadata) {
    metadata.push_back({{"name", entry.name}, {"value", entry.value}});
  }
  return {{"ph", "X"},
          {"pid", CARD_PROCESS},
          {"tid", physical},
          {"name", sample.step.operation},
          {"cat", kind_name(sample.step.kind)},
          {"ts", cycles_to_microseconds(sample.start_cycle, clock_hz)},
          {"dur", cycles_to_microseconds(sample_cycles(sample), clock_hz)},
          {"args",
           {{"kernel", sample.step.kernel},
            {"local_index", sample.step.local_index},
            {"phase", sample.step.phase},
            {"epoch", sample.step.epoch},
            {"start_cycle", sample.start_cycle},
            {"end_cycle", sample.end_cycle},
            {"metadata", std::move(metadata)}}}};
}

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
  for (const zlu_package::TileProfile& tile : profile.tiles) {
    for (const zlu_package::CycleSample& sample : tile.samples) {
      out << ',' << sample_event(sample, tile.physical_tile, clock_hz).dump();
    }
  }
  out << "]}\n";
}

}  // namespace zlu_profile
