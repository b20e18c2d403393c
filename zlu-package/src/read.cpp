#include <limits>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>

#include <capnp/message.h>
#include <kj/debug.h>

#include "framing.hpp"
#include "lib.hpp"
#include "profile.capnp.h"
#include "utf8.hpp"

namespace zlu_package {

namespace {

// An honest message traverses each of its words at most once, so twice its
// size (plus room for the root pointer and a tiny message's slack) is never
// reached by a genuine profile, while a message that points many pointers
// at one object runs out long before it can multiply its size.
constexpr std::uint64_t kTraversalPerWord = 2;
constexpr std::uint64_t kTraversalSlackWords = 64;

class ElementBudget {
  // How many more list elements the reader may convert. Every element of an
  // honest profile occupies at least one word, so the message's word count
  // is enough for any genuine file; lists of zero-sized elements, which
  // cost nothing on the wire, would otherwise make a few bytes announce
  // millions of model entries.
 public:
  explicit ElementBudget(std::uint64_t elements) : remaining_(elements) {}

  std::expected<void, PackageError> charge(std::uint64_t elements) {
    if (elements > remaining_) {
      return std::unexpected(PackageError(KJ_EXCEPTION(
          FAILED, "Message lists more elements than its size can hold; refusing to read it.",
          elements, remaining_)));
    }
    remaining_ -= elements;
    return {};
  }

 private:
  std::uint64_t remaining_;
};

// Converts every element of `list` in list order, after charging the
// budget for all of them, so that nothing is reserved for elements the
// message cannot pay for.
template <typename List, typename Convert,
          typename Element = typename std::invoke_result_t<Convert, decltype(std::declval<List>()[0])>::value_type>
std::expected<std::vector<Element>, PackageError> convert_list(List list, ElementBudget& budget, Convert convert) {
  if (auto charged = budget.charge(list.size()); !charged) return std::unexpected(std::move(charged.error()));
  std::vector<Element> converted;
  converted.reserve(list.size());
  for (const auto element : list) {
    auto one = convert(element);
    if (!one) return std::unexpected(std::move(one.error()));
    converted.push_back(std::move(*one));
  }
  return converted;
}

std::expected<std::string, PackageError> copy_text(capnp::Text::Reader text) {
  const std::string_view bytes(text.begin(), text.size());
  if (auto error = validate_utf8(bytes)) return std::unexpected(PackageError(*error));
  return std::string(bytes);
}

std::expected<ProfileStepKind, PackageError> convert_kind(profile_capnp::StepKind kind) {
  const auto raw = static_cast<std::uint16_t>(kind);
  switch (kind) {
    case profile_capnp::StepKind::EXCHANGE: return ProfileStepKind::Exchange;
    case profile_capnp::StepKind::COMPUTE: return ProfileStepKind::Compute;
    case profile_capnp::StepKind::SYNCHRONIZATION: return ProfileStepKind::Synchronization;
    case profile_capnp::StepKind::IDLE: return ProfileStepKind::Idle;
  }
  return std::unexpected(PackageError(NotInSchema{raw}));
}

std::expected<ProfileMetadata, PackageError> convert_entry(profile_capnp::MetadataEntry::Reader entry) {
  ProfileMetadata metadata;
  auto name = copy_text(entry.getName());
  if (!name) return std::unexpected(std::move(name.error()));
  metadata.name = std::move(*name);
  auto value = copy_text(entry.getValue());
  if (!value) return std::unexpected(std::move(value.error()));
  metadata.value = std::move(*value);
  return metadata;
}

std::expected<CycleSample, PackageError> convert_sample(profile_capnp::CycleSample::Reader sample,
                                                        ElementBudget& budget) {
  CycleSample converted;
  const auto step = sample.getStep();
  ProfileStep& out = converted.step;
  out.local_index = step.getLocalIndex();
  out.phase = step.getPhase();
  out.epoch = step.getEpoch();
  auto operation = copy_text(step.getOperation());
  if (!operation) return std::unexpected(std::move(operation.error()));
  out.operation = std::move(*operation);
  auto kind = convert_kind(step.getKind());
  if (!kind) return std::unexpected(std::move(kind.error()));
  out.kind = *kind;
  auto kernel = copy_text(step.getKernel());
  if (!kernel) return std::unexpected(std::move(kernel.error()));
  out.kernel = std::move(*kernel);
  auto metadata = convert_list(step.getMetadata(), budget, convert_entry);
  if (!metadata) return std::unexpected(std::move(metadata.error()));
  out.metadata = std::move(*metadata);
  converted.start_cycle = sample.getStartCycle();
  converted.end_cycle = sample.getEndCycle();
  return converted;
}

std::expected<TileProfile, PackageError> convert_tile(profile_capnp::TileProfile::Reader tile,
                                                      ElementBudget& budget) {
  TileProfile converted;
  auto samples = convert_list(tile.getSamples(), budget,
                              [&](auto sample) { return convert_sample(sample, budget); });
  if (!samples) return std::unexpected(std::move(samples.error()));
  converted.samples = std::move(*samples);
  converted.physical_tile = tile.getPhysicalTile();
  return converted;
}

std::expected<ProfileReport, PackageError> convert_profile(profile_capnp::Profile::Reader profile,
                                                           ElementBudget& budget) {
  const std::uint32_t version = profile.getSchemaVersion();
  if (version < 1 || version > 3) {
    return std::unexpected(
        PackageError::invalid("unsupported profile schema version " + std::to_string(version)));
  }
  ProfileReport report;
  auto tiles = convert_list(profile.getTiles(), budget, [&](auto tile) { return convert_tile(tile, budget); });
  if (!tiles) return std::unexpected(std::move(tiles.error()));
  report.tiles = std::move(*tiles);
  report.clock_hz = profile.getClockHz();
  return report;
}

std::expected<ProfileReport, PackageError> read_owned(kj::Own<kj::InputStream> source) {
  const capnp::ReaderOptions options = capnp_reader_options();
  FramedMessage message = read_framed_message(*source);
  source = nullptr;

  std::uint64_t words = 0;
  for (const auto& segment : message.segments) words += segment.size();
  // The message is already in memory, so the limit can follow its real size.
  capnp::ReaderOptions bounded = options;
  const std::uint64_t limit = words * kTraversalPerWord + kTraversalSlackWords;
  if (limit < bounded.traversalLimitInWords) bounded.traversalLimitInWords = limit;

  capnp::SegmentArrayMessageReader reader(
      kj::ArrayPtr<const kj::ArrayPtr<const capnp::word>>(message.segments.data(),
                                                          message.segments.size()),
      bounded);
  ElementBudget budget(words);
  return convert_profile(reader.getRoot<profile_capnp::Profile>(), budget);
}

kj::Exception out_of_memory() {
  return KJ_EXCEPTION(OVERLOADED, "Out of memory while reading the profile message.");
}

}  // namespace

capnp::ReaderOptions capnp_reader_options() {
  capnp::ReaderOptions options;
  options.traversalLimitInWords = std::numeric_limits<std::uint64_t>::max();
  options.nestingLimit = 64;
  return options;
}

std::expected<ProfileReport, PackageError> ProfileReport::read(kj::Own<kj::InputStream> source) {
  // Taken over here so that the stream is gone before we return, whatever
  // the calling convention does with the parameter.
  kj::Own<kj::InputStream> stream = kj::mv(source);
  try {
    return read_owned(kj::mv(stream));
  } catch (const kj::Exception& error) {
    return std::unexpected(PackageError(error));
  } catch (const std::bad_alloc&) {
    return std::unexpected(PackageError(out_of_memory()));
  } catch (const std::exception& error) {
    return std::unexpected(PackageError(KJ_EXCEPTION(FAILED, "Unexpected error while reading the profile.", error.what())));
  } catch (...) {
    return std::unexpected(PackageError(KJ_EXCEPTION(FAILED, "Unknown error while reading the profile.")));
  }
}

}  // namespace zlu_package
