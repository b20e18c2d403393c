#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string_view>
#include <utility>

#include <capnp/any.h>
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

// What the copied model may cost, per byte of the message, and a fixed
// allowance for a tiny message, in two pools.
//
// List elements that occupy room on the wire draw on one pool. No legal
// layout packs an element denser than one word for a sample (a sample of
// data only, as older writers wrote them, or of one pointer), one 32-bit
// number for a tile, or one text pointer for a metadata entry, so the
// densest honest model costs the sample's model size per word of message.
// Denser lists (samples one byte each) or lists that many pointers share
// exhaust the pool instead.
//
// Texts, and elements that occupy no room on the wire, draw on the other: a
// message of a few bytes can announce millions of zero-sized elements, and
// each becomes a full model entry. Honest texts cost at most their wire
// size, once each.
//
// With the message itself in memory while it is copied, a read thus holds
// at most the message, ten times it in elements and three times it in
// texts and empty elements, plus the allowance.
constexpr std::uint64_t kElementBytesPerMessageByte = sizeof(CycleSample) / sizeof(capnp::word);
static_assert(sizeof(TileProfile) / sizeof(std::uint32_t) <= kElementBytesPerMessageByte);
static_assert(sizeof(ProfileMetadata) / sizeof(capnp::word) <= kElementBytesPerMessageByte);
constexpr std::uint64_t kUnsizedBytesPerMessageByte = 3;
constexpr std::uint64_t kModelAllowanceBytes = 64 * 1024;
// What aligning a list in the arena may add to it, charged with it.
constexpr std::uint64_t kAllocationOverhead = 16;

class ModelBudget {
  // How many more bytes the copied model may take. Lists are charged for
  // their elements as the model holds them and texts for the bytes copied,
  // before either is built, each against its pool.
 public:
  explicit ModelBudget(std::uint64_t message_bytes)
      : sized_(message_bytes * kElementBytesPerMessageByte),
        unsized_(message_bytes * kUnsizedBytesPerMessageByte + kModelAllowanceBytes),
        total_(sized_ + unsized_) {}

  std::uint64_t total() const { return total_; }

  template <typename Element>
  std::expected<void, PackageError> charge_list(std::uint64_t elements, std::uint64_t wire_bytes_each) {
    // `wire_bytes_each` is what one element occupies in the message.
    if (elements == 0) return {};
    std::uint64_t& pool = wire_bytes_each == 0 ? unsized_ : sized_;
    if (elements > pool / sizeof(Element)) return refuse(elements, pool);
    return charge(pool, elements * sizeof(Element) + kAllocationOverhead, elements);
  }

  std::expected<void, PackageError> charge_text(std::size_t bytes) {
    return charge(unsized_, std::uint64_t{bytes}, 1);
  }

 private:
  static std::expected<void, PackageError> charge(std::uint64_t& pool, std::uint64_t bytes,
                                                  std::uint64_t elements) {
    if (bytes > pool) return refuse(elements, pool);
    pool -= bytes;
    return {};
  }

  static std::expected<void, PackageError> refuse(std::uint64_t elements, std::uint64_t bytes_left) {
    return std::unexpected(PackageError(KJ_EXCEPTION(
        FAILED, "Message lists more elements than its size can hold once copied; refusing to read it.", elements,
        bytes_left)));
  }

  std::uint64_t sized_;
  std::uint64_t unsized_;
  std::uint64_t total_;
};

using Converted = std::expected<void, PackageError>;

class TextCopier {
  // Copies texts into the model once they are known to be valid UTF-8.
  // Profiles repeat a few names (operations, kernels, metadata keys) on
  // every sample, so the texts copied most recently are remembered, one per
  // slot of a small table chosen by their ends: a text equal to the one in
  // its slot, byte for byte, is already valid and already in the arena, and
  // its view is shared instead of copied again. Only what is copied is
  // charged.
 public:
  TextCopier(ProfileArena& arena, ModelBudget& budget) : arena_(arena), budget_(budget) {}

  Converted copy(capnp::Text::Reader text, std::string_view& out) {
    const std::string_view bytes(text.begin(), text.size());
    if (bytes.empty()) {
      out = {};
      return {};
    }
    const Ends ends = ends_of(bytes);
    Recent& recent = recent_[slot_of(ends)];
    if (recent.ends == ends && (bytes.size() <= kWholeByEnds || recent.text == bytes)) {
      out = recent.text;
      return {};
    }
    if (auto error = validate_utf8(bytes)) return std::unexpected(PackageError(*error));
    if (auto charged = budget_.charge_text(bytes.size()); !charged) return charged;
    out = arena_.copy_text(bytes);
    recent = {ends, out};
    return {};
  }

 private:
  struct Ends {
    // The first and last bytes of a text and its length; for a text of up
    // to kWholeByEnds bytes, all of it.
    std::uint64_t head = 0;
    std::uint64_t tail = 0;
    std::size_t size = 0;

    bool operator==(const Ends&) const = default;
  };

  struct Recent {
    Ends ends;
    std::string_view text;
  };

  static constexpr std::size_t kWholeByEnds = 16;
  static constexpr unsigned kSlotBits = 8;

  template <typename Word>
  static Word load(const char* at) {
    Word word;
    std::memcpy(&word, at, sizeof word);
    return word;
  }

  static Ends ends_of(std::string_view bytes) {
    // Overlapping loads: eight bytes from each end cover a text of up to
    // sixteen; four from each end one of four to seven; and the first,
    // middle and last byte one of up to three.
    const char* at = bytes.data();
    const std::size_t size = bytes.size();
    if (size >= 8) return {load<std::uint64_t>(at), load<std::uint64_t>(at + size - 8), size};
    if (size >= 4) {
      return {load<std::uint32_t>(at) | std::uint64_t{load<std::uint32_t>(at + size - 4)} << 32, 0, size};
    }
    const auto byte = [&](std::size_t index) { return std::uint64_t{static_cast<unsigned char>(at[index])}; };
    return {byte(0) | byte(size / 2) << 8 | byte(size - 1) << 16, 0, size};
  }

  static std::size_t slot_of(const Ends& ends) {
    const std::uint64_t mixed = (ends.head ^ (ends.tail * 0x9E3779B97F4A7C15u) ^ ends.size) * 0xFF51AFD7ED558CCDu;
    return static_cast<std::size_t>(mixed >> (64 - kSlotBits));
  }

  ProfileArena& arena_;
  ModelBudget& budget_;
  std::array<Recent, std::size_t{1} << kSlotBits> recent_{};
};

struct ModelWriter {
  // Where a read puts the model it builds, and what the model may still cost.
  ProfileArena& arena;
  ModelBudget& budget;
  TextCopier& texts;
};

// Converts every element of `list` in list order into `out`, after charging
// the budget for all of them, so that nothing is taken for elements the
// message cannot pay for. Elements are built in place in the arena.
// Bytes that one element of a non-empty struct list occupies in the
// message: every element has the layout of the first. Lists of numbers or
// pointers read as structs have a data section of one number, or one
// pointer; empty structs and void elements have neither.
template <typename List>
std::uint64_t wire_bytes_per_element(List list) {
  const capnp::AnyStruct::Reader first(list[0]);
  return first.getDataSection().size() + first.getPointerSection().size() * sizeof(capnp::word);
}

template <typename Element, typename List, typename Convert>
Converted convert_list(List list, ListView<Element>& out, ModelWriter& model, Convert convert) {
  const std::size_t size = list.size();
  if (size == 0) return {};
  if (auto charged = model.budget.charge_list<Element>(size, wire_bytes_per_element(list)); !charged) {
    return charged;
  }
  Element* elements = model.arena.allocate<Element>(size);
  for (std::size_t i = 0; i < size; ++i) {
    Element* element = new (elements + i) Element{};
    if (auto converted = convert(list[static_cast<unsigned>(i)], *element); !converted) return converted;
  }
  out = {elements, size};
  return {};
}

Converted convert_kind(profile_capnp::StepKind kind, ProfileStepKind& out) {
  switch (kind) {
    case profile_capnp::StepKind::EXCHANGE: out = ProfileStepKind::Exchange; return {};
    case profile_capnp::StepKind::COMPUTE: out = ProfileStepKind::Compute; return {};
    case profile_capnp::StepKind::SYNCHRONIZATION: out = ProfileStepKind::Synchronization; return {};
    case profile_capnp::StepKind::IDLE: out = ProfileStepKind::Idle; return {};
  }
  return std::unexpected(PackageError(NotInSchema{static_cast<std::uint16_t>(kind)}));
}

Converted convert_entry(profile_capnp::MetadataEntry::Reader entry, ProfileMetadata& out, ModelWriter& model) {
  if (auto name = model.texts.copy(entry.getName(), out.name); !name) return name;
  return model.texts.copy(entry.getValue(), out.value);
}

Converted convert_sample(profile_capnp::CycleSample::Reader sample, CycleSample& out, ModelWriter& model) {
  const auto step = sample.getStep();
  ProfileStep& converted = out.step;
  converted.local_index = step.getLocalIndex();
  converted.phase = step.getPhase();
  converted.epoch = step.getEpoch();
  if (auto operation = model.texts.copy(step.getOperation(), converted.operation); !operation) return operation;
  if (auto kind = convert_kind(step.getKind(), converted.kind); !kind) return kind;
  if (auto kernel = model.texts.copy(step.getKernel(), converted.kernel); !kernel) return kernel;
  if (auto metadata = convert_list(step.getMetadata(), converted.metadata, model,
                                   [&](auto entry, ProfileMetadata& into) { return convert_entry(entry, into, model); });
      !metadata) {
    return metadata;
  }
  out.start_cycle = sample.getStartCycle();
  out.end_cycle = sample.getEndCycle();
  return {};
}

Converted convert_tile(profile_capnp::TileProfile::Reader tile, TileProfile& out, ModelWriter& model) {
  auto samples = convert_list(tile.getSamples(), out.samples, model,
                              [&](auto sample, CycleSample& into) { return convert_sample(sample, into, model); });
  if (!samples) return samples;
  out.physical_tile = tile.getPhysicalTile();
  return {};
}

std::expected<VersionedProfileReport, PackageError> convert_profile(profile_capnp::Profile::Reader profile,
                                                                    ModelBudget& budget) {
  const std::uint32_t version = profile.getSchemaVersion();
  if (version < 1 || version > 3) {
    return std::unexpected(
        PackageError::invalid("unsupported profile schema version " + std::to_string(version)));
  }
  auto arena = std::make_shared<ProfileArena>(
      static_cast<std::size_t>(std::min<std::uint64_t>(budget.total(), std::numeric_limits<std::size_t>::max())));
  TextCopier texts(*arena, budget);
  ModelWriter model{*arena, budget, texts};
  ListView<TileProfile> tiles;
  auto converted = convert_list(profile.getTiles(), tiles, model,
                                [&](auto tile, TileProfile& into) { return convert_tile(tile, into, model); });
  if (!converted) return std::unexpected(std::move(converted.error()));
  return VersionedProfileReport{.schema_version = version,
                                .report = ProfileReport(profile.getClockHz(), tiles, std::move(arena))};
}

std::expected<VersionedProfileReport, PackageError> read_owned(kj::Own<kj::InputStream> source) {
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
  ModelBudget budget(words * sizeof(capnp::word));
  try {
    return convert_profile(reader.getRoot<profile_capnp::Profile>(), budget);
  } catch (const kj::Exception& error) {
    // The library's own text points at ReaderOptions, which a caller
    // cannot change; say what the limit means for a profile instead.
    if (std::string_view(error.getDescription().cStr()).find("traversal limit") == std::string_view::npos) throw;
    throw kj::Exception(kj::Exception::Type::FAILED, __FILE__, __LINE__,
                        kj::str("Message is amplified: it holds ", words, " words but its pointers lead to more "
                                "than ", limit, " (objects shared by many pointers or lists of empty elements); "
                                "refusing to read it."));
  }
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
  auto versioned = read_versioned(kj::mv(source));
  if (!versioned) return std::unexpected(std::move(versioned.error()));
  return std::move(versioned->report);
}

std::expected<VersionedProfileReport, PackageError> ProfileReport::read_versioned(kj::Own<kj::InputStream> source) {
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
