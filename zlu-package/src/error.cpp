#include "error.hpp"

#include <utility>

#include <fmt/format.h>

namespace zlu_package {

namespace {

// kj's own description of an exception without the stack trace it appends,
// which holds only addresses of this process.
std::string describe(const kj::Exception& error) {
  std::string text;
  if (error.getFile() != nullptr) {
    text = fmt::format("{}:{}: ", error.getFile(), error.getLine());
  }
  text += kj::str(error.getType()).cStr();
  text += ": ";
  text += error.getDescription().cStr();
  return text;
}

std::string describe(const std::error_code& error) {
  return fmt::format("{} ({} error {})", error.message(), error.category().name(), error.value());
}

std::string debug_utf8(const Utf8Error& error) {
  return fmt::format("Utf8Error {{ valid_up_to: {}, error_len: {} }}", error.valid_up_to,
                     error.error_len ? fmt::format("Some({})", *error.error_len) : "None");
}

}  // namespace

PackageError::PackageError(kj::Exception error) : payload_(HeldException(std::move(error))) {}
PackageError::PackageError(std::error_code error) : payload_(error) {}
PackageError::PackageError(Utf8Error error) : payload_(error) {}
PackageError::PackageError(NotInSchema error) : payload_(error) {}
PackageError::PackageError(InvalidText text) : payload_(std::move(text)) {}

PackageError PackageError::invalid(std::string text) {
  return PackageError(InvalidText{std::move(text)});
}

PackageErrorKind PackageError::kind() const {
  return static_cast<PackageErrorKind>(payload_.index());
}

std::optional<PackageErrorCause> PackageError::cause() const {
  if (const auto* error = get_if<kj::Exception>()) return PackageErrorCause(error);
  if (const auto* error = get_if<std::error_code>()) return PackageErrorCause(error);
  if (const auto* error = get_if<Utf8Error>()) return PackageErrorCause(error);
  if (const auto* error = get_if<NotInSchema>()) return PackageErrorCause(error);
  return std::nullopt;
}

const std::string* PackageError::invalid_text() const {
  const auto* invalid = std::get_if<InvalidText>(&payload_);
  return invalid != nullptr ? &invalid->text : nullptr;
}

std::string PackageError::debug() const {
  switch (kind()) {
    case PackageErrorKind::Capnp:
      return fmt::format("Capnp({})", describe(*get_if<kj::Exception>()));
    case PackageErrorKind::Io:
      return fmt::format("Io({})", describe(*get_if<std::error_code>()));
    case PackageErrorKind::Utf8:
      return fmt::format("Utf8({})", debug_utf8(*get_if<Utf8Error>()));
    case PackageErrorKind::SchemaEnum:
      return fmt::format("SchemaEnum(NotInSchema({}))", get_if<NotInSchema>()->value);
    case PackageErrorKind::Invalid:
      return fmt::format("Invalid({})", debug_quoted(*invalid_text()));
  }
  return {};
}

std::string PackageError::message() const {
  switch (kind()) {
    case PackageErrorKind::Capnp:
      return "cannot decode the profile message: " + describe(*get_if<kj::Exception>());
    case PackageErrorKind::Io:
      return "cannot read the profile: " + describe(*get_if<std::error_code>());
    case PackageErrorKind::Utf8: {
      const Utf8Error& error = *get_if<Utf8Error>();
      if (!error.error_len) {
        return fmt::format(
            "a profile text is not valid UTF-8: it ends inside an incomplete sequence after {} "
            "valid bytes",
            error.valid_up_to);
      }
      return fmt::format(
          "a profile text is not valid UTF-8: an invalid sequence of {} byte(s) follows {} valid "
          "bytes",
          *error.error_len, error.valid_up_to);
    }
    case PackageErrorKind::SchemaEnum:
      return fmt::format("a profile step kind of {} is not in the schema (0 to 3)",
                         get_if<NotInSchema>()->value);
    case PackageErrorKind::Invalid:
      return *invalid_text();
  }
  return {};
}

}  // namespace zlu_package
