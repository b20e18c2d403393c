// Framing, stream handling and the reader's bounds on hostile messages.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include <capnp/any.h>
#include <capnp/message.h>

#include "source.hpp"
#include "words.hpp"

namespace {

// Live and peak bytes of operator new, so that a test can tell a bounded
// read from one that merely survived a huge allocation.
std::atomic<std::size_t> live_bytes{0};
std::atomic<std::size_t> peak_bytes{0};
// Allocations larger than this fail, to drive the reader out of memory.
std::atomic<std::size_t> refuse_above{SIZE_MAX};

void* counted_allocation(std::size_t size) {
  if (size > refuse_above.load()) throw std::bad_alloc();
  void* memory = std::malloc(size == 0 ? 1 : size);
  if (memory == nullptr) throw std::bad_alloc();
  const std::size_t now = live_bytes += malloc_usable_size(memory);
  std::size_t peak = peak_bytes.load();
  while (now > peak && !peak_bytes.compare_exchange_weak(peak, now)) {
  }
  return memory;
}

void counted_release(void* memory) {
  if (memory == nullptr) return;
  live_bytes -= malloc_usable_size(memory);
  std::free(memory);
}

}  // namespace

void* operator new(std::size_t size) { return counted_allocation(size); }
void* operator new[](std::size_t size) { return counted_allocation(size); }
void operator delete(void* memory) noexcept { counted_release(memory); }
void operator delete[](void* memory) noexcept { counted_release(memory); }
void operator delete(void* memory, std::size_t) noexcept { counted_release(memory); }
void operator delete[](void* memory, std::size_t) noexcept { counted_release(memory); }

namespace zlu_package {
namespace {

using testing::ElementSize;
using testing::frame;
using testing::RecordingSource;
using testing::Segment;
using testing::SourceLog;
using testing::words32;

struct Outcome {
  std::expected<ProfileReport, PackageError> report;
  SourceLog log;
  std::size_t peak_extra_bytes;
};

Outcome read_logged(std::vector<kj::byte> bytes) {
  Outcome outcome{ProfileReport{}, {}, 0};
  auto source = kj::heap<RecordingSource>(std::move(bytes), outcome.log);
  peak_bytes = live_bytes.load();
  const std::size_t before = live_bytes.load();
  outcome.report = ProfileReport::read(kj::mv(source));
  outcome.peak_extra_bytes = peak_bytes.load() - before;
  return outcome;
}

void expect_capnp_error(const Outcome& outcome, const std::string& what) {
  ASSERT_FALSE(outcome.report.has_value()) << what;
  EXPECT_EQ(outcome.report.error().kind(), PackageErrorKind::Capnp) << what << ": " << outcome.report.error().debug();
  EXPECT_NE(outcome.report.error().get_if<kj::Exception>(), nullptr) << what;
  EXPECT_TRUE(outcome.log.released) << what;
}

void expect_amplified(const Outcome& outcome, std::size_t input_bytes, const std::string& what) {
  expect_capnp_error(outcome, what);
  if (outcome.report.has_value()) return;
  const std::string debug = outcome.report.error().debug();
  EXPECT_TRUE(debug.find("amplified") != std::string::npos || debug.find("more elements") != std::string::npos)
      << what << ": " << debug;
  EXPECT_LT(outcome.peak_extra_bytes, 64 * input_bytes + (1u << 16)) << what;
}

TEST(ProfileFraming, BrokenFramingFailsWithCapnpAndReleasesTheSource) {
  const std::pair<std::string, std::vector<kj::byte>> cases[] = {
      {"empty source", {}},
      {"half a segment table", {0, 0, 0}},
      {"table cut before the sizes of later segments", words32({2, 1})},
      {"segment shorter than announced", words32({0, 3, 0, 0x10002})},
      {"second segment missing", words32({1, 1, 4, 0, 0, 0})},
      {"too many segments", words32({511, 1})},
      {"segment count wrapping to zero", words32({0xFFFFFFFF, 0})},
      {"empty first segment", words32({0, 0})},
  };
  for (const auto& [what, bytes] : cases) expect_capnp_error(read_logged(bytes), what);
}

TEST(ProfileFraming, AFailingSourceFailsWithCapnp) {
  // Reading a directory fails in the operating system, not at end of data.
  const int fd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  auto report = ProfileReport::read(kj::heap<kj::FdInputStream>(kj::AutoCloseFd(fd)));
  ASSERT_FALSE(report.has_value());
  EXPECT_EQ(report.error().kind(), PackageErrorKind::Capnp) << report.error().debug();
  EXPECT_EQ(::fcntl(fd, F_GETFD), -1) << "the descriptor is still open";
}

// Heap in use as the C library counts it, mapped blocks included: the
// message buffer comes from malloc, which the operator new count misses.
std::size_t malloc_in_use() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

class HeapSamplingSource final : public kj::InputStream {
  // Notes the C library's heap in use each time the reader asks for bytes,
  // that is, after it has made room for them.
 public:
  HeapSamplingSource(std::vector<kj::byte> bytes, std::size_t& peak) : bytes_(std::move(bytes)), peak_(peak) {}

  size_t tryRead(void* buffer, size_t, size_t max_bytes) override {
    peak_ = std::max(peak_, malloc_in_use());
    const std::size_t n = std::min(max_bytes, bytes_.size() - offset_);
    if (n > 0) std::memcpy(buffer, bytes_.data() + offset_, n);
    offset_ += n;
    return n;
  }

 private:
  std::vector<kj::byte> bytes_;
  std::size_t offset_ = 0;
  std::size_t& peak_;
};

TEST(ProfileFraming, AnnouncedSizeAloneAllocatesNothingLarge) {
  // 24 bytes that announce 256 MiB (which an allocation would get) or
  // 32 GiB (which it would not); the reader must not make room for more
  // than it has received before the source runs dry.
  for (std::uint32_t announced_words : {std::uint32_t{1} << 25, std::uint32_t{0xFFFFFFFF}}) {
    std::size_t peak = 0;
    const std::size_t before = malloc_in_use();
    auto report =
        ProfileReport::read(kj::heap<HeapSamplingSource>(words32({0, announced_words, 0, 0, 0, 0}), peak));
    ASSERT_FALSE(report.has_value());
    EXPECT_EQ(report.error().kind(), PackageErrorKind::Capnp) << report.error().debug();
    EXPECT_GT(peak, 0u);
    EXPECT_LT(peak - std::min(peak, before), std::size_t{1} << 20) << announced_words << " words announced";
  }
}

TEST(ProfileFraming, ReadsExactlyOneMessageAndNoFurther) {
  capnp::MallocMessageBuilder message(4, capnp::AllocationStrategy::FIXED_SIZE);
  auto profile = message.initRoot<profile_capnp::Profile>();
  profile.setSchemaVersion(3);
  profile.initTiles(3)[2].initSamples(2)[1].initStep().setOperation("copy");
  for (std::size_t segments : {std::size_t{1}, message.getSegmentsForOutput().size()}) {
    std::vector<kj::byte> bytes;
    if (segments == 1) {
      capnp::MallocMessageBuilder single;
      single.setRoot(profile.asReader());
      bytes = testing::to_bytes(single);
    } else {
      bytes = testing::to_bytes(message);
    }
    const std::size_t message_size = bytes.size();
    const auto trailing = words32({0, 5, 0xDEADBEEF, 0xDEADBEEF});
    bytes.insert(bytes.end(), trailing.begin(), trailing.end());
    const Outcome outcome = read_logged(bytes);
    ASSERT_TRUE(outcome.report.has_value()) << segments << " segments: " << outcome.report.error().debug();
    EXPECT_EQ(outcome.report->tiles[2].samples[1].step.operation, "copy");
    EXPECT_EQ(outcome.log.bytes_read, message_size) << segments << " segments";
    EXPECT_TRUE(outcome.log.released);
  }
}

TEST(ProfileFraming, SourceIsReleasedOnEveryPath) {
  capnp::MallocMessageBuilder valid;
  valid.initRoot<profile_capnp::Profile>().setSchemaVersion(1);
  capnp::MallocMessageBuilder unsupported;
  unsupported.initRoot<profile_capnp::Profile>().setSchemaVersion(9);
  capnp::MallocMessageBuilder bad_kind;
  auto profile = bad_kind.initRoot<profile_capnp::Profile>();
  profile.setSchemaVersion(1);
  profile.initTiles(1)[0].initSamples(1)[0].initStep().setKind(static_cast<profile_capnp::StepKind>(5));

  for (auto* message : {&valid, &unsupported, &bad_kind}) {
    const Outcome outcome = read_logged(testing::to_bytes(*message));
    EXPECT_TRUE(outcome.log.released);
  }
}

TEST(ProfileLimits, RunningOutOfMemoryIsAnErrorNotACrash) {
  capnp::MallocMessageBuilder message;
  auto profile = message.initRoot<profile_capnp::Profile>();
  profile.setSchemaVersion(3);
  profile.initTiles(1)[0].initSamples(1)[0].initStep().setKernel(std::string(1 << 20, 'k'));
  auto bytes = testing::to_bytes(message);

  refuse_above = 512 * 1024;
  Outcome outcome = read_logged(std::move(bytes));
  refuse_above = SIZE_MAX;
  expect_capnp_error(outcome, "out of memory");
  EXPECT_NE(outcome.report.error().debug().find("Out of memory"), std::string::npos)
      << outcome.report.error().debug();
}

// A profile whose tiles pointer is `tiles`, followed by whatever words
// `extend` adds to the segment.
template <typename Extend>
std::vector<kj::byte> profile_with_tiles(Extend extend) {
  Segment segment;
  segment.add(testing::struct_pointer(0, 2, 1));
  segment.add(3);
  segment.add(1'000'000);
  const std::size_t tiles = segment.add(0);
  extend(segment, tiles);
  return frame({segment});
}

// 2^29 - 1 is the largest element count a list pointer can carry.
TEST(ProfileLimits, ListsOfZeroSizedElementsFailWithoutBuildingThem) {
  const std::pair<std::string, std::vector<kj::byte>> cases[] = {
      {"2^29-1 empty structs as tiles", profile_with_tiles([](Segment& s, std::size_t tiles) {
         s.words[tiles] = testing::list_pointer(0, ElementSize::Composite, 0);
         s.add(testing::list_tag((1u << 29) - 1, 0, 0));
       })},
      {"2^29-1 void elements as tiles", profile_with_tiles([](Segment& s, std::size_t tiles) {
         s.words[tiles] = testing::list_pointer(0, ElementSize::Void, (1u << 29) - 1);
       })},
      {"2^29-1 empty samples in one tile", profile_with_tiles([](Segment& s, std::size_t tiles) {
         s.words[tiles] = testing::list_pointer(0, ElementSize::Composite, 2);
         s.add(testing::list_tag(1, 1, 1));
         s.add(0);
         s.add(testing::list_pointer(0, ElementSize::Composite, 0));
         s.add(testing::list_tag((1u << 29) - 1, 0, 0));
       })},
  };
  for (const auto& [what, bytes] : cases) expect_amplified(read_logged(bytes), bytes.size(), what);
}

TEST(ProfileLimits, ZeroSizedSamplesArePaidForByWhatTheyCostCopied) {
  // One word of message per empty sample: few enough to fit the message's
  // word count, but each becomes a full sample in the model.
  const std::pair<std::uint32_t, int> shapes[] = {{60'000, 65'536}, {1'000'000, 1 << 20}};
  for (const auto& [samples, padding_words] : shapes) {
    const auto bytes = profile_with_tiles([&](Segment& s, std::size_t tiles) {
      s.words[tiles] = testing::list_pointer(0, ElementSize::Composite, 2);
      s.add(testing::list_tag(1, 1, 1));
      s.add(0);
      s.add(testing::list_pointer(0, ElementSize::Composite, 0));
      s.add(testing::list_tag(samples, 0, 0));
      for (int i = 0; i < padding_words; ++i) s.add(0);
    });
    const Outcome outcome = read_logged(bytes);
    const std::string what = std::to_string(samples) + " empty samples in " + std::to_string(bytes.size()) + " bytes";
    expect_amplified(outcome, bytes.size(), what);
    EXPECT_LT(outcome.peak_extra_bytes, 4 * bytes.size() + (1u << 16)) << what;
  }
}

// A profile of one tile whose samples (or, for `Layout::TileNumbers`, whose
// tiles) are `count` elements in a layout other than the one this schema's
// builders write: every element occupies room on the wire, some less than
// the current layout gives it.
enum class Layout { DataOnlySamples, PointerOnlySamples, TileNumbers, MetadataTexts, ByteSamples };

std::vector<kj::byte> profile_in_layout(Layout layout, std::uint32_t count) {
  capnp::MallocMessageBuilder message;
  auto profile = message.initRoot<profile_capnp::Profile>();
  profile.setSchemaVersion(1);
  profile.setClockHz(1'000'000);
  if (layout == Layout::TileNumbers) {
    auto tiles = capnp::AnyStruct::Builder(kj::cp(profile)).getPointerSection()[0];
    auto numbers = tiles.initAs<capnp::List<std::uint32_t>>(count);
    for (std::uint32_t i = 0; i < count; ++i) numbers.set(i, 1000 + i);
    return testing::to_bytes(message);
  }
  auto tile = profile.initTiles(1)[0];
  tile.setPhysicalTile(7);
  auto samples = capnp::AnyStruct::Builder(kj::cp(tile)).getPointerSection()[0];
  switch (layout) {
    case Layout::DataOnlySamples: {
      // An older writer's samples: start and end cycle, no step pointer.
      auto list = samples.initAsListOfAnyStruct(1, 0, count);
      for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t cycles[2] = {10 * i, 10 * i + 10};
        std::memcpy(list[i].getDataSection().begin(), cycles, sizeof cycles);
      }
      break;
    }
    case Layout::PointerOnlySamples: samples.initAsListOfAnyStruct(0, 1, count); break;
    case Layout::MetadataTexts: {
      auto sample = samples.initAs<capnp::List<profile_capnp::CycleSample>>(1)[0];
      auto metadata = capnp::AnyStruct::Builder(sample.initStep()).getPointerSection()[2];
      auto texts = metadata.initAs<capnp::List<capnp::Text>>(count);
      for (std::uint32_t i = 0; i < count; ++i) texts.set(i, "n");
      break;
    }
    case Layout::ByteSamples: samples.initAs<capnp::List<std::uint8_t>>(count); break;
    case Layout::TileNumbers: break;
  }
  return testing::to_bytes(message);
}

TEST(ProfileLimits, ListsInTheirDensestLegalLayoutAreReadAndDenserOnesRefused) {
  // The densest layouts the format admits (a sample of one word, a tile of
  // one 32-bit number, an entry of one text pointer) are read whole, at a
  // size where the list makes up nearly all of the message; samples of one
  // byte each, which no writer can mean, cost more than the bound allows.
  constexpr std::uint32_t kCount = 60'000;
  const struct {
    const char* what;
    Layout layout;
    bool admitted;
  } cases[] = {
      {"samples of data only", Layout::DataOnlySamples, true},
      {"samples of one pointer only", Layout::PointerOnlySamples, true},
      {"tiles as 32-bit tile numbers", Layout::TileNumbers, true},
      {"metadata as texts", Layout::MetadataTexts, true},
      {"samples of one byte", Layout::ByteSamples, false},
  };
  for (const auto& [what, layout, admitted] : cases) {
    const auto bytes = profile_in_layout(layout, kCount);
    const Outcome outcome = read_logged(bytes);
    if (!admitted) {
      expect_amplified(outcome, bytes.size(), what);
      continue;
    }
    ASSERT_TRUE(outcome.report.has_value()) << what << ": " << outcome.report.error().debug();
    const ProfileReport& report = *outcome.report;
    EXPECT_EQ(report.clock_hz, 1'000'000u) << what;
    EXPECT_LT(outcome.peak_extra_bytes, 14 * bytes.size() + (1u << 16)) << what;
    if (layout == Layout::TileNumbers) {
      ASSERT_EQ(report.tiles.size(), kCount) << what;
      EXPECT_EQ(report.tiles.back().physical_tile, 1000 + kCount - 1) << what;
      EXPECT_TRUE(report.tiles.back().samples.empty()) << what;
      continue;
    }
    const CycleSample& first = report.tiles[0].samples[0];
    if (layout == Layout::MetadataTexts) {
      ASSERT_EQ(first.step.metadata.size(), kCount) << what;
      EXPECT_EQ(first.step.metadata.back(), (ProfileMetadata{"n", ""})) << what;
      continue;
    }
    const auto& samples = report.tiles[0].samples;
    ASSERT_EQ(samples.size(), kCount) << what;
    const bool timed = layout == Layout::DataOnlySamples;
    EXPECT_EQ(samples.back().start_cycle, timed ? 10 * (kCount - 1) : 0) << what;
    EXPECT_EQ(samples.back().end_cycle, timed ? 10 * kCount : 0) << what;
    EXPECT_EQ(samples.back().step, ProfileStep{}) << what;
  }
}

// `count` samples whose step pointers all lead to one step holding a long
// operation text, either directly or through far pointers that share one
// landing pad in a second segment.
std::vector<kj::byte> aliased_steps(std::uint32_t count, bool through_far_pointers) {
  const std::string text(64 * 1024, 'x');
  Segment first;
  Segment second;
  first.add(testing::struct_pointer(0, 2, 1));
  first.add(3);
  first.add(0);
  first.add(testing::list_pointer(0, ElementSize::Composite, 2));
  first.add(testing::list_tag(1, 1, 1));
  first.add(0);
  first.add(testing::list_pointer(0, ElementSize::Composite, 2 * count));
  first.add(testing::list_tag(count, 1, 1));
  const std::size_t samples = first.words.size();
  const std::size_t step = samples + 2 * count;
  for (std::uint32_t i = 0; i < count; ++i) {
    first.add(0);
    const std::size_t pointer = first.words.size();
    first.add(through_far_pointers ? testing::far_pointer(0, 1)
                                   : testing::struct_pointer(Segment::offset(pointer, step), 2, 3));
  }
  Segment& home = through_far_pointers ? second : first;
  if (through_far_pointers) home.add(testing::struct_pointer(0, 2, 3));
  const std::size_t at = home.words.size();
  home.add(0);
  home.add(0);
  home.add(testing::list_pointer(Segment::offset(at + 2, at + 5), ElementSize::Byte,
                                 static_cast<std::uint32_t>(text.size() + 1)));
  home.add(0);
  home.add(0);
  home.add_text(text);
  return through_far_pointers ? frame({first, second}) : frame({first});
}

TEST(ProfileLimits, ManyPointersAtOneObjectFailInsteadOfMultiplyingIt) {
  for (bool far : {false, true}) {
    const std::string what = far ? "far pointers" : "near pointers";
    const Outcome honest = read_logged(aliased_steps(1, far));
    ASSERT_TRUE(honest.report.has_value()) << what << ": " << honest.report.error().debug();
    EXPECT_EQ(honest.report->tiles[0].samples[0].step.operation.size(), 64u * 1024) << what;

    const auto bytes = aliased_steps(4096, far);
    expect_amplified(read_logged(bytes), bytes.size(), what);
  }
}

TEST(ProfileLimits, HonestProfilesStayWithinTheBounds) {
  // Dense shapes: many tiny samples with the smallest steps, and texts that
  // make up almost the whole message.
  capnp::MallocMessageBuilder tiny;
  auto profile = tiny.initRoot<profile_capnp::Profile>();
  profile.setSchemaVersion(3);
  auto tiles = profile.initTiles(64);
  for (auto tile : tiles) {
    for (auto sample : tile.initSamples(64)) sample.initStep().initMetadata(1);
  }
  capnp::MallocMessageBuilder wordy;
  auto texts = wordy.initRoot<profile_capnp::Profile>();
  texts.setSchemaVersion(3);
  const std::string long_text(100'000, 'k');
  auto step = texts.initTiles(1)[0].initSamples(1)[0].initStep();
  step.setOperation(long_text);
  step.setKernel(long_text);

  for (auto* message : {&tiny, &wordy}) {
    const auto bytes = testing::to_bytes(*message);
    const Outcome outcome = read_logged(bytes);
    ASSERT_TRUE(outcome.report.has_value()) << outcome.report.error().debug();
    EXPECT_LT(outcome.peak_extra_bytes, 64 * bytes.size());
  }
}

}  // namespace
}  // namespace zlu_package
