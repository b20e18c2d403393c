#include <utility>

#include "lib.hpp"

namespace zlu_package {

ProfileReport::ProfileReport(std::uint64_t clock_hz, ListView<TileProfile> tiles,
                             std::shared_ptr<const ProfileArena> arena)
    : clock_hz(clock_hz), tiles(tiles), arena_(std::move(arena)) {}

ProfileReport::ProfileReport(ProfileReport&& other) noexcept
    : clock_hz(std::exchange(other.clock_hz, 0)),
      tiles(std::exchange(other.tiles, {})),
      arena_(std::move(other.arena_)) {}

ProfileReport& ProfileReport::operator=(ProfileReport&& other) noexcept {
  if (this != &other) {
    clock_hz = std::exchange(other.clock_hz, 0);
    tiles = std::exchange(other.tiles, {});
    arena_ = std::move(other.arena_);
  }
  return *this;
}

bool operator==(const ProfileReport& left, const ProfileReport& right) {
  return left.clock_hz == right.clock_hz && left.tiles == right.tiles;
}

ProfileBuilder::ProfileBuilder() : arena_(std::make_shared<ProfileArena>()) {}

std::string_view ProfileBuilder::text(std::string_view text) { return arena_->copy_text(text); }

namespace {

// `items` copied into `arena`, each through `copy`, which may itself fill
// the arena with the element's texts and lists.
template <typename T, typename Copy>
ListView<T> copy_list(ProfileArena& arena, std::span<const T> items, Copy copy) {
  if (items.empty()) return {};
  T* copies = arena.allocate<T>(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) new (copies + i) T(copy(items[i]));
  return {copies, items.size()};
}

}  // namespace

ListView<ProfileMetadata> ProfileBuilder::list(std::span<const ProfileMetadata> entries) {
  return copy_list(*arena_, entries, [&](const ProfileMetadata& entry) {
    return ProfileMetadata{text(entry.name), text(entry.value)};
  });
}

ProfileStep ProfileBuilder::copy(const ProfileStep& step) {
  ProfileStep copied = step;
  copied.operation = text(step.operation);
  copied.kernel = text(step.kernel);
  copied.metadata = list(std::span(step.metadata.begin(), step.metadata.size()));
  return copied;
}

ListView<CycleSample> ProfileBuilder::list(std::span<const CycleSample> samples) {
  return copy_list(*arena_, samples, [&](const CycleSample& sample) {
    return CycleSample{copy(sample.step), sample.start_cycle, sample.end_cycle};
  });
}

ListView<TileProfile> ProfileBuilder::list(std::span<const TileProfile> tiles) {
  return copy_list(*arena_, tiles, [&](const TileProfile& tile) {
    return TileProfile{tile.physical_tile, list(std::span(tile.samples.begin(), tile.samples.size()))};
  });
}

ProfileReport ProfileBuilder::report(std::uint64_t clock_hz, std::span<const TileProfile> tiles) {
  return ProfileReport(clock_hz, list(tiles), arena_);
}

}  // namespace zlu_package
