// The options the harness accepts and the first pass over the arguments:
// splitting them into option occurrences and filters. What the values mean
// is decided afterwards, by parse_opts.
#pragma once

#include <expected>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace harness {

struct OptionSpec {
  // One accepted option, as the parser matches it and the help shows it.
  char letter = '\0';         // the short form, '\0' when there is none
  std::string_view name;      // the long form without dashes, empty when there is none
  std::string_view hint;      // the argument's placeholder, empty for a flag
  std::span<const std::string_view> description;  // lines as stored; the help refills them
  bool repeatable = false;
  bool in_help = true;

  bool takes_argument() const { return !hint.empty(); }
  // How the option is named in messages and looked up in ScannedArgs.
  std::string_view key() const { return name.empty() ? std::string_view(&letter, 1) : name; }
};

// Every option, in the order of the help's option list (hidden ones last).
std::span<const OptionSpec> option_table();

struct ScannedArgs {
  // The arguments after the first pass: which options occurred with which
  // values (a flag's value is empty), and the filters in the order given.
  std::map<std::string, std::vector<std::string>, std::less<>> occurrences;
  std::vector<std::string> filters;

  bool has(std::string_view key) const { return occurrences.contains(key); }
  // The value of an option that may occur once.
  std::optional<std::string> value(std::string_view key) const;
  // All values of a repeatable option, in the order given.
  std::vector<std::string> values(std::string_view key) const;
};

// Splits `args` (without the program name) into options and filters. The
// error is the message for an argument that is not valid UTF-8 (an
// unrecognised option, shown with U+FFFD for the bad bytes), else for the
// first faulty argument: an unknown option, a missing argument, an option
// given twice, or a flag given a value.
std::expected<ScannedArgs, std::string> scan_args(std::span<const std::string> args);

}  // namespace harness
