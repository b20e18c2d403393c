#include "run/properties.hpp"

#include <algorithm>
#include <atomic>
#include <fmt/format.h>

#include "lib.hpp"

namespace harness {
namespace {

thread_local AttemptScope* active_scope = nullptr;
std::atomic<bool> capture_runner_output{false};
std::atomic<bool> want_cycle_summaries{false};

}  // namespace

AttemptScope::AttemptScope(AttemptRecord record, AttemptContext context)
    : record_(record), context_(std::move(context)), previous_(active_scope) {
  active_scope = this;
}

AttemptScope::~AttemptScope() { active_scope = previous_; }

void record_property(std::string name, std::string value) {
  if (active_scope == nullptr) return;
  TestProperties& properties = active_scope->record().properties;
  const auto recorded = std::ranges::find(properties, name, &TestProperties::value_type::first);
  if (recorded != properties.end()) {
    recorded->second = std::move(value);
  } else {
    properties.emplace_back(std::move(name), std::move(value));
  }
}

void attach(Measurement measurement) {
  if (active_scope == nullptr) return;
  Measurements& measurements = active_scope->record().measurements;
  const auto same_kind = std::ranges::find_if(
      measurements, [&](const Measurement& attached) { return attached.index() == measurement.index(); });
  if (same_kind != measurements.end()) {
    *same_kind = std::move(measurement);
  } else {
    measurements.push_back(std::move(measurement));
  }
}

void add_cycle_summary(const CycleSummary& summary) {
  if (active_scope == nullptr) return;
  for (Measurement& measurement : active_scope->record().measurements) {
    auto* attached = std::get_if<CycleSummary>(&measurement);
    if (attached == nullptr) continue;
    for (std::size_t kind = 0; kind < summary.cycles_by_kind.size(); ++kind)
      attached->cycles_by_kind[kind] += summary.cycles_by_kind[kind];
    attached->span += summary.span;
    if (summary.busiest_tile_cycles > attached->busiest_tile_cycles) {
      attached->busiest_tile = summary.busiest_tile;
      attached->busiest_tile_cycles = summary.busiest_tile_cycles;
    }
    return;
  }
  attach(summary);
}

void attach_runner_output(RunnerOutput output) {
  if (active_scope == nullptr) return;
  active_scope->record().runner_output.push_back(std::move(output));
}

std::optional<AttemptContext> current_attempt() {
  if (active_scope == nullptr) return std::nullopt;
  return active_scope->context();
}

unsigned current_try() { return active_scope == nullptr ? 0 : active_scope->context().attempt; }

bool runner_output_captured() { return capture_runner_output.load(std::memory_order_relaxed); }

void set_runner_output_captured(bool captured) { capture_runner_output.store(captured, std::memory_order_relaxed); }

bool cycle_summaries_wanted() { return want_cycle_summaries.load(std::memory_order_relaxed); }

void set_cycle_summaries_wanted(bool wanted) { want_cycle_summaries.store(wanted, std::memory_order_relaxed); }

std::optional<CardUse> card_use_of(const Measurements& measurements) {
  for (const Measurement& measurement : measurements)
    if (const auto* card = std::get_if<CardUse>(&measurement)) return *card;
  return std::nullopt;
}

TestProperties reported_properties(const TestProperties& recorded, const Measurements& measurements) {
  const auto card = card_use_of(measurements);
  if (!card || !card->reported) return recorded;
  TestProperties shown{{"card", std::to_string(card->card)},
                       {"card_wait_ms", fmt::format("{:.3f}", std::chrono::duration<double, std::milli>(card->wait).count())}};
  shown.insert(shown.end(), recorded.begin(), recorded.end());
  return shown;
}

}  // namespace harness
