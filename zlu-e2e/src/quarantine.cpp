// quarantine and release: a card's record in the lock folder, by hand.
#include <algorithm>

#include <fmt/format.h>

#include "card_states.hpp"
#include "cards/card_settings.hpp"
#include "cards/quarantine.hpp"
#include "subcommands.hpp"
#include "tool.hpp"

namespace zlu_e2e {

namespace {

std::expected<hardware_e2e::LockFolder, int> open_lock_folder() {
  const std::string path = lock_dir_of_environment();
  auto folder = hardware_e2e::LockFolder::open(path, path == hardware_e2e::DEFAULT_LOCK_DIR);
  if (!folder) return std::unexpected(store_error(folder.error()));
  return std::move(*folder);
}

}  // namespace

int run_quarantine(const Invocation& invocation) {
  const auto& args = invocation.args;
  if (args.size() != 3 || args[1] != "--reason") return usage_error("quarantine takes N --reason TEXT");
  auto card = parse_card_argument(args[0]);
  if (!card) return usage_error(card.error());
  const std::string& reason = args[2];
  const bool printable = std::all_of(reason.begin(), reason.end(), [](char c) {
    return static_cast<unsigned char>(c) >= 0x20 && c != 0x7f;
  });
  if (reason.empty() || !printable) return usage_error("--reason needs a text of one line");
  auto folder = open_lock_folder();
  if (!folder) return folder.error();
  if (auto written = hardware_e2e::write_quarantine(*folder, hardware_e2e::new_quarantine(*card, reason, {}));
      !written) {
    return store_error(written.error());
  }
  return write_out(fmt::format("card {} quarantined: no suite on this host takes it until `zlu-e2e release {}`\n",
                               *card, *card))
             ? 0
             : store_error("standard output cannot be written");
}

int run_release(const Invocation& invocation) {
  if (invocation.args.size() != 1) return usage_error("release takes N");
  auto card = parse_card_argument(invocation.args[0]);
  if (!card) return usage_error(card.error());
  auto folder = open_lock_folder();
  if (!folder) return folder.error();
  auto removed = hardware_e2e::remove_quarantine(*folder, *card);
  if (!removed) return store_error(removed.error());
  const std::string text = *removed ? fmt::format("card {} released\n", *card)
                                    : fmt::format("card {} was not quarantined\n", *card);
  return write_out(text) ? 0 : store_error("standard output cannot be written");
}

}  // namespace zlu_e2e
