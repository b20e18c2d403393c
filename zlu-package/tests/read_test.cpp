#include <gtest/gtest.h>

#include <capnp/message.h>
#include <capnp/serialize.h>

#include "source.hpp"
#include "words.hpp"

namespace zlu_package {
namespace {

using testing::read_bytes;
using testing::read_message;
using testing::words32;

struct SampleShape {
  ProfileStepKind kind = ProfileStepKind::Compute;
  const char* operation = "matmul";
  const char* kernel = "gemm_block";
};

void fill_sample(profile_capnp::CycleSample::Builder sample, std::uint32_t index, const SampleShape& shape) {
  sample.setStartCycle(100 * index);
  sample.setEndCycle(100 * index + 50);
  auto step = sample.initStep();
  step.setLocalIndex(index);
  step.setPhase(index + 1);
  step.setEpoch(index + 2);
  step.setOperation(shape.operation);
  step.setKind(static_cast<profile_capnp::StepKind>(shape.kind));
  step.setKernel(shape.kernel);
  auto metadata = step.initMetadata(2);
  metadata[0].setName("block");
  metadata[0].setValue(std::to_string(index));
  metadata[1].setName("block");
  metadata[1].setValue("repeat");
}

profile_capnp::Profile::Builder make_profile(capnp::MessageBuilder& message, std::uint32_t version,
                                             std::uint32_t tiles, std::uint32_t samples) {
  auto profile = message.initRoot<profile_capnp::Profile>();
  profile.setSchemaVersion(version);
  profile.setClockHz(1'330'000'000);
  auto tile_list = profile.initTiles(tiles);
  for (std::uint32_t t = 0; t < tiles; ++t) {
    tile_list[t].setPhysicalTile(1471 - t);
    auto sample_list = tile_list[t].initSamples(samples);
    for (std::uint32_t s = 0; s < samples; ++s) {
      fill_sample(sample_list[s], s, {static_cast<ProfileStepKind>(s % 4)});
    }
  }
  return profile;
}

TEST(ProfileRead, ConvertsEveryFieldInFileOrder) {
  for (std::uint32_t version : {1u, 2u, 3u}) {
    capnp::MallocMessageBuilder message;
    make_profile(message, version, 3, 5);
    auto report = read_message(message);
    ASSERT_TRUE(report.has_value()) << report.error().debug();
    EXPECT_EQ(report->clock_hz, 1'330'000'000u);
    ASSERT_EQ(report->tiles.size(), 3u);
    ProfileBuilder expected_model;
    for (std::uint32_t t = 0; t < 3; ++t) {
      const TileProfile& tile = report->tiles[t];
      EXPECT_EQ(tile.physical_tile, 1471 - t);
      ASSERT_EQ(tile.samples.size(), 5u);
      for (std::uint32_t s = 0; s < 5; ++s) {
        const CycleSample& sample = tile.samples[s];
        EXPECT_EQ(sample.start_cycle, 100 * s);
        EXPECT_EQ(sample.end_cycle, 100 * s + 50);
        EXPECT_EQ(sample.step.local_index, s);
        EXPECT_EQ(sample.step.phase, s + 1);
        EXPECT_EQ(sample.step.epoch, s + 2);
        EXPECT_EQ(sample.step.kind, static_cast<ProfileStepKind>(s % 4));
        EXPECT_EQ(sample.step.operation, "matmul");
        EXPECT_EQ(sample.step.kernel, "gemm_block");
        const auto expected = expected_model.list<ProfileMetadata>({{"block", std::to_string(s)}, {"block", "repeat"}});
        EXPECT_EQ(sample.step.metadata, expected);
      }
    }
  }
}

TEST(ProfileRead, VersionedReadGivesTheFilesVersionBesideTheSameModel) {
  for (std::uint32_t version : {1u, 2u, 3u}) {
    capnp::MallocMessageBuilder message;
    make_profile(message, version, 2, 3);
    const kj::Array<capnp::word> words = capnp::messageToFlatArray(message);
    const auto bytes = words.asBytes();
    auto versioned = ProfileReport::read_versioned(kj::heap<kj::ArrayInputStream>(bytes));
    ASSERT_TRUE(versioned.has_value()) << versioned.error().debug();
    EXPECT_EQ(versioned->schema_version, version);
    EXPECT_EQ(versioned->report, read_message(message).value());
  }
  capnp::MallocMessageBuilder future;
  make_profile(future, 4, 1, 1);
  const kj::Array<capnp::word> words = capnp::messageToFlatArray(future);
  const auto refused = ProfileReport::read_versioned(kj::heap<kj::ArrayInputStream>(words.asBytes()));
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error().debug(), "Invalid(\"unsupported profile schema version 4\")");
}

TEST(ProfileRead, MapsEveryWireKindToItsModelKind) {
  capnp::MallocMessageBuilder message;
  make_profile(message, 3, 1, 4);
  auto report = read_message(message);
  ASSERT_TRUE(report.has_value()) << report.error().debug();
  const auto& samples = report->tiles[0].samples;
  EXPECT_EQ(samples[0].step.kind, ProfileStepKind::Exchange);
  EXPECT_EQ(samples[1].step.kind, ProfileStepKind::Compute);
  EXPECT_EQ(samples[2].step.kind, ProfileStepKind::Synchronization);
  EXPECT_EQ(samples[3].step.kind, ProfileStepKind::Idle);
}

TEST(ProfileRead, RejectsUnsupportedVersionsBeforeLookingAtTiles) {
  for (std::uint32_t version : {0u, 4u, 4294967295u}) {
    capnp::MallocMessageBuilder message;
    auto profile = make_profile(message, version, 2, 2);
    // A kind outside the schema in the first sample must not be met first.
    profile.getTiles()[0].getSamples()[0].getStep().setKind(static_cast<profile_capnp::StepKind>(9));
    auto report = read_message(message);
    ASSERT_FALSE(report.has_value());
    ASSERT_NE(report.error().invalid_text(), nullptr);
    EXPECT_EQ(*report.error().invalid_text(), "unsupported profile schema version " + std::to_string(version));
  }
}

TEST(ProfileRead, VersionCheckWinsOverAMalformedTilesPointer) {
  // Root struct of 2 data words and 1 pointer; the pointer is a far pointer
  // into a segment that does not exist.
  auto bytes = words32({0, 4, 0x00000000, 0x00010002, 4, 0, 0, 0, 0x0000000A, 0x00000007});
  auto report = read_bytes(bytes);
  ASSERT_FALSE(report.has_value());
  EXPECT_EQ(report.error().debug(), "Invalid(\"unsupported profile schema version 4\")");

  bytes[16] = 3;
  report = read_bytes(bytes);
  ASSERT_FALSE(report.has_value());
  EXPECT_EQ(report.error().kind(), PackageErrorKind::Capnp) << report.error().debug();
}

TEST(ProfileRead, AbsentRootIsVersionZero) {
  auto report = read_bytes(words32({0, 1, 0, 0}));
  ASSERT_FALSE(report.has_value());
  EXPECT_EQ(report.error().debug(), "Invalid(\"unsupported profile schema version 0\")");
}

TEST(ProfileRead, EmptyAndAbsentListsAndStepsReadAsDefaults) {
  capnp::MallocMessageBuilder absent_tiles;
  auto bare = absent_tiles.initRoot<profile_capnp::Profile>();
  bare.setSchemaVersion(2);
  bare.setClockHz(7);
  auto report = read_message(absent_tiles);
  ASSERT_TRUE(report.has_value()) << report.error().debug();
  EXPECT_EQ(report->clock_hz, 7u);
  EXPECT_TRUE(report->tiles.empty());

  capnp::MallocMessageBuilder sparse;
  auto profile = sparse.initRoot<profile_capnp::Profile>();
  profile.setSchemaVersion(1);
  auto tiles = profile.initTiles(2);
  tiles[0].setPhysicalTile(5);
  tiles[0].initSamples(0);
  auto samples = tiles[1].initSamples(1);
  samples[0].setStartCycle(3);
  samples[0].setEndCycle(2);
  report = read_message(sparse);
  ASSERT_TRUE(report.has_value()) << report.error().debug();
  EXPECT_EQ(report->clock_hz, 0u);
  ASSERT_EQ(report->tiles.size(), 2u);
  EXPECT_EQ(report->tiles[0].physical_tile, 5u);
  EXPECT_TRUE(report->tiles[0].samples.empty());
  ASSERT_EQ(report->tiles[1].samples.size(), 1u);
  const CycleSample expected{ProfileStep{}, 3, 2};
  EXPECT_EQ(report->tiles[1].samples[0], expected);
}

TEST(ProfileRead, KindOutsideTheSchemaFailsTheWholeRead) {
  capnp::MallocMessageBuilder message;
  auto profile = make_profile(message, 3, 3, 3);
  profile.getTiles()[2].getSamples()[1].getStep().setKind(static_cast<profile_capnp::StepKind>(4));
  auto report = read_message(message);
  ASSERT_FALSE(report.has_value());
  ASSERT_NE(report.error().get_if<NotInSchema>(), nullptr);
  EXPECT_EQ(report.error().get_if<NotInSchema>()->value, 4);
  EXPECT_EQ(report.error().debug(), "SchemaEnum(NotInSchema(4))");
}

capnp::Text::Reader text_of(const std::string& bytes) {
  return capnp::Text::Reader(bytes.data(), bytes.size());
}

TEST(ProfileRead, BadUtf8InAnyTextFailsWithItsPosition) {
  const std::string bad = "a\xFF";
  const std::string cut = "gemm\xC3";
  using Setter = void (*)(profile_capnp::ProfileStep::Builder, capnp::Text::Reader);
  const std::pair<const char*, Setter> texts[] = {
      {"operation", [](auto step, auto text) { step.setOperation(text); }},
      {"kernel", [](auto step, auto text) { step.setKernel(text); }},
      {"metadata name", [](auto step, auto text) { step.getMetadata()[1].setName(text); }},
      {"metadata value", [](auto step, auto text) { step.getMetadata()[0].setValue(text); }},
  };
  for (const auto& [field, set] : texts) {
    capnp::MallocMessageBuilder message;
    auto profile = make_profile(message, 3, 2, 2);
    set(profile.getTiles()[1].getSamples()[0].getStep(), text_of(bad));
    auto report = read_message(message);
    ASSERT_FALSE(report.has_value()) << field;
    EXPECT_EQ(report.error().debug(), "Utf8(Utf8Error { valid_up_to: 1, error_len: Some(1) })") << field;

    set(profile.getTiles()[1].getSamples()[0].getStep(), text_of(cut));
    report = read_message(message);
    ASSERT_FALSE(report.has_value()) << field;
    EXPECT_EQ(report.error().debug(), "Utf8(Utf8Error { valid_up_to: 4, error_len: None })") << field;
  }
}

TEST(ProfileRead, FirstFaultInReadingOrderWins) {
  const std::string first = "\xFF";
  const std::string second = "ab\xFF";
  const auto fault_of = [](auto&& spoil) {
    capnp::MallocMessageBuilder message;
    auto profile = make_profile(message, 3, 2, 2);
    spoil(profile);
    auto report = read_message(message);
    return report.has_value() ? std::string("no fault") : report.error().debug();
  };
  const auto step = [](profile_capnp::Profile::Builder profile, unsigned tile, unsigned sample) {
    return profile.getTiles()[tile].getSamples()[sample].getStep();
  };
  const std::string first_fault = "Utf8(Utf8Error { valid_up_to: 0, error_len: Some(1) })";

  EXPECT_EQ(fault_of([&](auto profile) {
              step(profile, 0, 0).setOperation(text_of(first));
              step(profile, 0, 0).setKind(static_cast<profile_capnp::StepKind>(7));
            }),
            first_fault);
  EXPECT_EQ(fault_of([&](auto profile) {
              step(profile, 0, 0).setKind(static_cast<profile_capnp::StepKind>(7));
              step(profile, 0, 0).setKernel(text_of(first));
            }),
            "SchemaEnum(NotInSchema(7))");
  EXPECT_EQ(fault_of([&](auto profile) {
              step(profile, 0, 0).setKernel(text_of(first));
              step(profile, 0, 0).getMetadata()[0].setName(text_of(second));
            }),
            first_fault);
  EXPECT_EQ(fault_of([&](auto profile) {
              step(profile, 0, 0).getMetadata()[0].setName(text_of(first));
              step(profile, 0, 0).getMetadata()[0].setValue(text_of(second));
            }),
            first_fault);
  EXPECT_EQ(fault_of([&](auto profile) {
              step(profile, 0, 1).getMetadata()[1].setValue(text_of(first));
              step(profile, 1, 0).setOperation(text_of(second));
            }),
            first_fault);
  EXPECT_EQ(fault_of([&](auto profile) {
              step(profile, 0, 0).getMetadata()[1].setValue(text_of(first));
              step(profile, 0, 1).setOperation(text_of(second));
            }),
            first_fault);
}

TEST(ProfileRead, ReadsAMessageOfSeveralSegments) {
  // A first segment too small for the root's lists forces the builder to
  // spill into more segments, reached through far pointers.
  capnp::MallocMessageBuilder message(8, capnp::AllocationStrategy::FIXED_SIZE);
  make_profile(message, 2, 4, 3);
  ASSERT_GT(message.getSegmentsForOutput().size(), 1u);
  auto report = read_message(message);
  ASSERT_TRUE(report.has_value()) << report.error().debug();
  ASSERT_EQ(report->tiles.size(), 4u);
  EXPECT_EQ(report->tiles[3].physical_tile, 1468u);
  EXPECT_EQ(report->tiles[3].samples[2].step.metadata[0].value, "2");
}

TEST(ProfileRead, FieldsSitAtTheirWirePositions) {
  // The layout other writers rely on, spelled out word by word.
  using namespace testing;
  Segment segment;
  segment.add(struct_pointer(0, 2, 1));
  segment.add(2);                                 // schemaVersion in bytes 0 to 3
  segment.add(0x0000'0001'0000'0002);             // clockHz in bytes 8 to 15
  segment.add(list_pointer(0, ElementSize::Composite, 2));
  segment.add(list_tag(1, 1, 1));
  segment.add(0xFFFF'FFFF'0000'0400);             // physicalTile 1024, bytes 4 to 7 unused
  segment.add(list_pointer(0, ElementSize::Composite, 2));
  segment.add(list_tag(1, 1, 1));
  segment.add(0x0000'0020'0000'0010);             // startCycle 16, endCycle 32
  segment.add(struct_pointer(0, 2, 3));
  segment.add(0x0000'0006'0000'0005);             // localIndex 5, phase 6
  segment.add(0xFFFF'0003'0000'0007);             // epoch 7, kind 3, bytes 14 and 15 unused
  const std::size_t operation = segment.add(0);
  const std::size_t kernel = segment.add(0);
  const std::size_t metadata = segment.add(0);
  segment.words[operation] = list_pointer(Segment::offset(operation, segment.add_text("op")), ElementSize::Byte, 3);
  segment.words[kernel] = list_pointer(Segment::offset(kernel, segment.add_text("kern")), ElementSize::Byte, 5);
  segment.words[metadata] = list_pointer(Segment::offset(metadata, segment.add(list_tag(1, 0, 2))),
                                         ElementSize::Composite, 2);
  const std::size_t name = segment.add(0);
  const std::size_t value = segment.add(0);
  segment.words[name] = list_pointer(Segment::offset(name, segment.add_text("n")), ElementSize::Byte, 2);
  segment.words[value] = list_pointer(Segment::offset(value, segment.add_text("v")), ElementSize::Byte, 2);

  auto report = read_bytes(frame({segment}));
  ASSERT_TRUE(report.has_value()) << report.error().debug();
  EXPECT_EQ(report->clock_hz, 0x1'0000'0002u);
  ASSERT_EQ(report->tiles.size(), 1u);
  EXPECT_EQ(report->tiles[0].physical_tile, 1024u);
  ASSERT_EQ(report->tiles[0].samples.size(), 1u);
  ProfileBuilder builder;
  const CycleSample expected{
      {5, 6, 7, "op", ProfileStepKind::Idle, "kern", builder.list<ProfileMetadata>({{"n", "v"}})}, 16, 32};
  EXPECT_EQ(report->tiles[0].samples[0], expected);
}

TEST(ProfileRead, ShortDataSectionsReadAsZero) {
  // Root with a 1-word data section (version 3, no clockHz) and one pointer
  // to a list of one TileProfile whose data section is empty.
  auto report = read_bytes(words32({0, 5,
                                    0x00000000, 0x00010001,  // root: offset 0, 1 data word, 1 pointer
                                    3, 0,                    // schemaVersion 3
                                    0x00000001, 0x0000000F,  // composite list at +0, 1 word of elements... tag follows
                                    0x00000004, 0x00010000,  // tag: 1 element, 0 data words, 1 pointer
                                    0, 0}));                 // the element's null samples pointer
  ASSERT_TRUE(report.has_value()) << report.error().debug();
  EXPECT_EQ(report->clock_hz, 0u);
  ASSERT_EQ(report->tiles.size(), 1u);
  EXPECT_EQ(report->tiles[0].physical_tile, 0u);
  EXPECT_TRUE(report->tiles[0].samples.empty());
}

}  // namespace
}  // namespace zlu_package
