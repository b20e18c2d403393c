// The error value of the cycle-profile package.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <variant>

#include <fmt/format.h>
#include <kj/exception.h>

#include "zlu-base/src/quote.hpp"
#include "zlu-base/src/utf8.hpp"

namespace zlu_package {

// Where and how a text stopped being valid UTF-8.
using Utf8Error = zlu_base::Utf8Error;

struct NotInSchema {
  // A raw enum value on the wire that names no enumerant of the schema.

  std::uint16_t value = 0;

  bool operator==(const NotInSchema&) const = default;
};

enum class PackageErrorKind { Capnp, Io, Utf8, SchemaEnum, Invalid };

// Read-only view of the library error a `PackageError` wraps.
using PackageErrorCause =
    std::variant<const kj::Exception*, const std::error_code*, const Utf8Error*, const NotInSchema*>;

class PackageError {
  // Why a profile could not be read: a Cap'n Proto failure (framing, pointers,
  // limits), a platform I/O error, bad UTF-8 in a text, a step kind outside
  // the schema, or an unsupported file.
  //
  // The four wrapped library errors convert implicitly and stay reachable
  // through `cause()`; `Invalid` carries only its own text.

 public:
  PackageError(kj::Exception error);
  PackageError(std::error_code error);
  PackageError(Utf8Error error);
  PackageError(NotInSchema error);

  static PackageError invalid(std::string text);

  PackageErrorKind kind() const;

  std::optional<PackageErrorCause> cause() const;
  // The wrapped library error; empty for `Invalid`.

  template <typename Wrapped>
  const Wrapped* get_if() const {
    if constexpr (std::is_same_v<Wrapped, kj::Exception>) {
      const auto* held = std::get_if<HeldException>(&payload_);
      return held != nullptr ? &*held->error : nullptr;
    } else {
      return std::get_if<Wrapped>(&payload_);
    }
  }
  // The wrapped error when it is of type `Wrapped` (kj::Exception,
  // std::error_code, Utf8Error or NotInSchema), else null.

  const std::string* invalid_text() const;
  // The text of an `Invalid` error, else null.

  std::string debug() const;
  // Variant name around the payload's debug form, e.g.
  // SchemaEnum(NotInSchema(4)) or Invalid("unsupported profile schema version 4").

  std::string message() const;
  // A sentence for people reading a failure report.

 private:
  struct InvalidText {
    std::string text;
  };

  struct HeldException {
    // kj::Exception can be copied but not assigned; this holder assigns by
    // rebuilding, which keeps PackageError an ordinary assignable value.
    explicit HeldException(kj::Exception exception) { error.emplace(kj::mv(exception)); }
    HeldException(const HeldException& other) { error.emplace(*other.error); }
    HeldException(HeldException&& other) noexcept { error.emplace(kj::mv(*other.error)); }
    HeldException& operator=(const HeldException& other) {
      if (this != &other) error.emplace(*other.error);
      return *this;
    }
    HeldException& operator=(HeldException&& other) noexcept {
      if (this != &other) error.emplace(kj::mv(*other.error));
      return *this;
    }

    std::optional<kj::Exception> error;
  };

  explicit PackageError(InvalidText text);

  std::variant<HeldException, std::error_code, Utf8Error, NotInSchema, InvalidText> payload_;
};

// `text` between double quotes, with quotes, backslashes and control
// characters escaped.
using zlu_base::debug_quoted;

}  // namespace zlu_package

template <>
struct fmt::formatter<zlu_package::PackageError> : fmt::formatter<std::string_view> {
  // Prints the debug form.
  template <typename FormatContext>
  auto format(const zlu_package::PackageError& error, FormatContext& context) const {
    return fmt::formatter<std::string_view>::format(error.debug(), context);
  }
};
