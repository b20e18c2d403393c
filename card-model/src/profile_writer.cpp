#include "profile_writer.hpp"

#include <limits>

#include <capnp/message.h>
#include <capnp/serialize.h>
#include <fmt/format.h>
#include <kj/exception.h>

#include "profile.capnp.h"
#include "zlu-base/src/atomic_file.hpp"

namespace zlu_card {
namespace {

profile_capnp::StepKind wire_kind(StepKind kind) {
  switch (kind) {
    case StepKind::Exchange:
      return profile_capnp::StepKind::EXCHANGE;
    case StepKind::Compute:
      return profile_capnp::StepKind::COMPUTE;
    case StepKind::Synchronization:
      return profile_capnp::StepKind::SYNCHRONIZATION;
    case StepKind::Idle:
      return profile_capnp::StepKind::IDLE;
  }
  return profile_capnp::StepKind::IDLE;
}

// A segment table that announces one segment of 65536 words, followed by far
// fewer bytes: a reader of the stream framing runs out of data.
std::vector<std::byte> garbage_bytes() {
  std::vector<std::byte> bytes(8, std::byte{0});
  bytes[6] = std::byte{1};
  for (const char c : std::string_view("not a cycle profile\n")) bytes.push_back(static_cast<std::byte>(c));
  return bytes;
}

bool kept(const StepRecord& step, const ProfileFaults& faults) {
  return !faults.without_kind || step.kind != *faults.without_kind;
}

std::expected<void, ProfileWriteError> fill_samples(capnp::List<profile_capnp::CycleSample>::Builder samples,
                                                    const std::vector<StepRecord>& steps, std::uint16_t physical,
                                                    const ProfileFaults& faults) {
  constexpr std::uint64_t cycle_limit = std::numeric_limits<std::uint32_t>::max();
  unsigned index = 0;
  for (const StepRecord& step : steps) {
    if (!kept(step, faults)) continue;
    if (step.end_cycle > cycle_limit) {
      return std::unexpected(
          ProfileWriteError{fmt::format("tile {} step {} ends at cycle {}, past the profile's 32-bit cycle counter",
                                        physical, step.local_index, step.end_cycle)});
    }
    auto sample = samples[index++];
    sample.setStartCycle(static_cast<std::uint32_t>(step.start_cycle));
    sample.setEndCycle(static_cast<std::uint32_t>(step.end_cycle));
    auto wire = sample.initStep();
    wire.setLocalIndex(step.local_index);
    wire.setPhase(step.phase);
    wire.setEpoch(step.epoch);
    wire.setOperation(step.operation);
    wire.setKind(wire_kind(step.kind));
    wire.setKernel(step.kernel);
    auto metadata = wire.initMetadata(static_cast<unsigned>(step.metadata.size()));
    for (unsigned m = 0; m < step.metadata.size(); ++m) {
      metadata[m].setName(step.metadata[m].name);
      metadata[m].setValue(step.metadata[m].value);
    }
  }
  return {};
}

std::expected<std::vector<std::byte>, ProfileWriteError> build_message(const Card& card, const ProfileFaults& faults) {
  const std::uint32_t tile_count = card.tile_count();
  const std::uint32_t written = faults.tile_limit ? std::min(*faults.tile_limit, tile_count) : tile_count;

  // A first segment large enough for a typical run keeps the message in one
  // segment and spares the builder repeated growth.
  capnp::MallocMessageBuilder message(1u << 18);
  auto profile = message.initRoot<profile_capnp::Profile>();
  profile.setSchemaVersion(faults.version.value_or(PROFILE_SCHEMA_VERSION));
  profile.setClockHz(faults.zero_clock ? 0 : card.clock_hz());
  auto tiles = profile.initTiles(written);
  for (std::uint32_t p = 0; p < written; ++p) {
    const auto physical = static_cast<std::uint16_t>(p);
    const std::vector<StepRecord>& steps = card.steps(physical);
    const bool emptied = faults.empty_tile && p + 1 == written;
    const auto count =
        emptied ? 0
                : std::count_if(steps.begin(), steps.end(), [&](const StepRecord& step) { return kept(step, faults); });
    auto tile = tiles[p];
    tile.setPhysicalTile(p);
    auto samples = tile.initSamples(static_cast<unsigned>(count));
    if (emptied) continue;
    if (auto filled = fill_samples(samples, steps, physical, faults); !filled) return std::unexpected(filled.error());
  }

  const kj::Array<capnp::word> words = capnp::messageToFlatArray(message);
  const kj::ArrayPtr<const kj::byte> bytes = words.asBytes();
  const auto* first = reinterpret_cast<const std::byte*>(bytes.begin());
  return std::vector<std::byte>(first, first + bytes.size());
}

}  // namespace

std::expected<std::vector<std::byte>, ProfileWriteError> encode_profile(const Card& card, const ProfileFaults& faults) {
  if (faults.garbage) return garbage_bytes();
  try {
    return build_message(card, faults);
  } catch (const kj::Exception& exception) {
    return std::unexpected(ProfileWriteError{fmt::format("encode profile: {}", exception.getDescription().cStr())});
  }
}

std::expected<void, ProfileWriteError> write_profile(const Card& card, const std::filesystem::path& target,
                                                     const ProfileFaults& faults) {
  if (faults.skip_file) return {};
  auto bytes = encode_profile(card, faults);
  if (!bytes) return std::unexpected(bytes.error());
  return replace_file(target, *bytes);
}

std::expected<void, ProfileWriteError> replace_file(const std::filesystem::path& target,
                                                    std::span<const std::byte> bytes) {
  if (target.filename().empty()) {
    return std::unexpected(ProfileWriteError{fmt::format("profile path {} names no file", target.string())});
  }
  // The path is predictable, so a link found there is replaced, never followed.
  const auto replaced = zlu_base::replace_file(
      target, bytes, {.link = zlu_base::LinkAtTarget::Replace, .new_file_mode = 0644});
  if (!replaced) {
    return std::unexpected(
        ProfileWriteError{replaced.error().describe(), replaced.error().step == zlu_base::FileError::Step::Refuse});
  }
  return {};
}

}  // namespace zlu_card
