// A card's quarantine on its host: a record in the lock folder beside the
// card's lock file, card-<n>.quarantine, that every suite on the host looks
// for before it takes the card and that only its removal (a release) lifts.
// The record is text, one "key: value" line each:
//   card: 2
//   reason: failed tests that passed on other cards
//   evidence: direct_multicast_works, which passed on card 0
//   host: node-7
//   time: 2026-12-09T05:31:07Z
//   build: gnu:5d41402abc4b2a76b9719d911017c592
// with an evidence line per test, none for a card quarantined by hand.
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cards/card_lock.hpp"

namespace hardware_e2e {

struct QuarantineRecord {
  unsigned card = 0;
  std::string reason;
  std::vector<std::string> evidence;
  std::string host;
  std::string time;  // UTC, as 2026-12-09T05:31:07Z
  std::string build;
};

std::string render_quarantine(const QuarantineRecord& record);
// The record's text. A value's control characters become blanks, so that
// each stays on its line.

std::expected<QuarantineRecord, std::string> parse_quarantine(std::string_view text);
// The record `text` holds; the error says which line is not one of a record.

QuarantineRecord new_quarantine(unsigned card, std::string reason, std::vector<std::string> evidence);
// A record made now, on this host (as the run history names it), by this
// build.

std::string quarantine_file_path(const LockFolder& folder, unsigned card);

bool is_quarantined(const LockFolder& folder, unsigned card);
// Whether anything stands at the card's record: even a record that cannot
// be read keeps the card out of use until it is removed.

std::expected<void, std::string> write_quarantine(const LockFolder& folder, const QuarantineRecord& record);
// Writes the record in one step (readers see the old record or the new),
// replacing a link that stands at its name rather than writing through it.
// Anything but a plain file or a link there is refused.

std::expected<std::optional<QuarantineRecord>, std::string> read_quarantine(const LockFolder& folder, unsigned card);
// The card's record, or none when there is no record; an error for a record
// that is not a plain file or does not read as one.

std::expected<bool, std::string> remove_quarantine(const LockFolder& folder, unsigned card);
// Removes the card's record; false when there was none.

}  // namespace hardware_e2e
