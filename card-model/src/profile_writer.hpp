// Writing the card's step logs as a cycle-profile file: one Cap'n Proto
// message of the profile schema, replaced atomically at its path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "card.hpp"
#include "cycle_model.hpp"

namespace zlu_card {

// The profile format version this writer produces.
inline constexpr std::uint32_t PROFILE_SCHEMA_VERSION = 3;

struct ProfileFaults {
  // Deliberate defects of a written profile, so that the checks of a profile's
  // reader can be shown to catch each one. The default writes a sound profile.

  // Write nothing at all, and report success.
  bool skip_file = false;
  // Write only the first N tiles (by physical number).
  std::optional<std::uint32_t> tile_limit;
  // Stamp a clock frequency of 0.
  bool zero_clock = false;
  // Leave the last written tile without samples.
  bool empty_tile = false;
  // Leave out every sample of this kind.
  std::optional<StepKind> without_kind;
  // Stamp this format version instead of PROFILE_SCHEMA_VERSION.
  std::optional<std::uint32_t> version;
  // Write bytes that are not a message: a segment table announcing more
  // data than follows it.
  bool garbage = false;

  friend bool operator==(const ProfileFaults&, const ProfileFaults&) = default;
};

struct ProfileWriteError {
  // Why a profile could not be written. The message names the file and the
  // failed operation, e.g. "rename /x/.p.tmp to /x/p: Permission denied".

  std::string message;
  // The path names what a profile never replaces (a directory, a block
  // device, a socket), rather than a write that failed.
  bool refused = false;
};

// The bytes of the profile of `card`: every tile in physical order with its
// logged steps as samples, the card's clock and PROFILE_SCHEMA_VERSION,
// altered by `faults` (skip_file is ignored here). A step whose cycles do not
// fit the format's 32-bit counters is an error rather than a wrapped value.
std::expected<std::vector<std::byte>, ProfileWriteError> encode_profile(const Card& card,
                                                                        const ProfileFaults& faults = {});

// Encodes the profile of `card` and puts it at `target` with replace_file;
// with faults.skip_file it writes nothing and succeeds.
std::expected<void, ProfileWriteError> write_profile(const Card& card, const std::filesystem::path& target,
                                                     const ProfileFaults& faults = {});

// Writes `bytes` to a new file beside `target` (created exclusively, never
// through a link, flushed to disk) and renames it to `target`. The file gets
// mode 0644, or the mode of the file it replaces. A link planted at `target`
// is replaced, never followed; a character device or a FIFO there is written
// in place. On any error the new file is removed and `target` is left as it
// was.
std::expected<void, ProfileWriteError> replace_file(const std::filesystem::path& target,
                                                    std::span<const std::byte> bytes);

}  // namespace zlu_card
