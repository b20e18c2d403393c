// Writes the seed corpus of the profile reader's fuzz target into the
// directory named on the command line: valid profiles of several shapes and
// hand-made broken ones, one file each.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <capnp/message.h>
#include <capnp/serialize.h>
#include <kj/io.h>

#include "profile.capnp.h"
#include "words.hpp"

namespace {

using zlu_package::testing::ElementSize;
using zlu_package::testing::frame;
using zlu_package::testing::Segment;

std::vector<kj::byte> serialize(capnp::MessageBuilder& message) {
  kj::VectorOutputStream output;
  capnp::writeMessage(output, message);
  auto bytes = output.getArray();
  return {bytes.begin(), bytes.end()};
}

std::vector<kj::byte> profile(std::uint32_t version, std::uint32_t tiles, std::uint32_t samples,
                              std::uint16_t kind_bias, capnp::uint first_segment_words) {
  capnp::MallocMessageBuilder message(first_segment_words, capnp::AllocationStrategy::FIXED_SIZE);
  auto root = message.initRoot<profile_capnp::Profile>();
  root.setSchemaVersion(version);
  root.setClockHz(1'000'000'000);
  auto tile_list = root.initTiles(tiles);
  for (std::uint32_t t = 0; t < tiles; ++t) {
    tile_list[t].setPhysicalTile(t * 3);
    auto sample_list = tile_list[t].initSamples(samples);
    for (std::uint32_t s = 0; s < samples; ++s) {
      sample_list[s].setStartCycle(s * 10);
      sample_list[s].setEndCycle(s * 10 + 7);
      auto step = sample_list[s].initStep();
      step.setLocalIndex(s);
      step.setOperation(s % 2 == 0 ? "gemm" : "exchange \xC3\xA9");
      step.setKind(static_cast<profile_capnp::StepKind>((s + kind_bias) % 4));
      step.setKernel("block_kernel");
      auto metadata = step.initMetadata(s % 3);
      for (auto entry : metadata) {
        entry.setName("rows");
        entry.setValue("16");
      }
    }
  }
  return serialize(message);
}

std::vector<kj::byte> zero_sized_tiles() {
  Segment segment;
  segment.add(zlu_package::testing::struct_pointer(0, 2, 1));
  segment.add(3);
  segment.add(5);
  segment.add(zlu_package::testing::list_pointer(0, ElementSize::Composite, 0));
  segment.add(zlu_package::testing::list_tag(1u << 20, 0, 0));
  return frame({segment});
}

void write(const std::string& directory, const std::string& name, const std::vector<kj::byte>& bytes) {
  std::ofstream file(directory + "/" + name, std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!file) {
    std::fprintf(stderr, "cannot write %s/%s\n", directory.c_str(), name.c_str());
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
    return 2;
  }
  const std::string directory = argv[1];
  write(directory, "valid-small", profile(3, 2, 4, 0, 1024));
  write(directory, "valid-multi-segment", profile(1, 4, 3, 1, 16));
  write(directory, "valid-empty-tiles", profile(2, 3, 0, 0, 1024));
  write(directory, "valid-no-tiles", profile(2, 0, 0, 0, 1024));

  auto bad_version = profile(4, 1, 1, 0, 1024);
  write(directory, "bad-version", bad_version);
  auto truncated = profile(3, 2, 2, 0, 1024);
  truncated.resize(truncated.size() / 2);
  write(directory, "truncated", truncated);
  write(directory, "empty", {});

  capnp::MallocMessageBuilder kind;
  auto root = kind.initRoot<profile_capnp::Profile>();
  root.setSchemaVersion(3);
  auto step = root.initTiles(1)[0].initSamples(1)[0].initStep();
  step.setKind(static_cast<profile_capnp::StepKind>(4));
  write(directory, "bad-kind", serialize(kind));
  step.setKind(profile_capnp::StepKind::IDLE);
  const char bad_text[] = {'a', static_cast<char>(0xFF)};
  step.setOperation(capnp::Text::Reader(bad_text, sizeof bad_text));
  write(directory, "bad-utf8", serialize(kind));

  write(directory, "zero-sized-tiles", zero_sized_tiles());
  return 0;
}
