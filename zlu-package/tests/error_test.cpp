#include <gtest/gtest.h>

#include <fmt/format.h>

#include "lib.hpp"

namespace zlu_package {
namespace {

TEST(PackageError, DebugFormNamesTheVariantAroundItsPayload) {
  EXPECT_EQ(PackageError::invalid("unsupported profile schema version 4").debug(),
            "Invalid(\"unsupported profile schema version 4\")");
  EXPECT_EQ(PackageError(NotInSchema{4}).debug(), "SchemaEnum(NotInSchema(4))");
  EXPECT_EQ(PackageError(NotInSchema{65535}).debug(), "SchemaEnum(NotInSchema(65535))");
  EXPECT_EQ(PackageError(Utf8Error{1, 1}).debug(), "Utf8(Utf8Error { valid_up_to: 1, error_len: Some(1) })");
  EXPECT_EQ(PackageError(Utf8Error{0, std::nullopt}).debug(), "Utf8(Utf8Error { valid_up_to: 0, error_len: None })");
  EXPECT_EQ(PackageError::invalid("say \"hi\"\\\n\t\x01").debug(), "Invalid(\"say \\\"hi\\\"\\\\\\n\\t\\u{1}\")");

  const PackageError capnp(kj::Exception(kj::Exception::Type::FAILED, "message.c++", 12,
                                         kj::heapString("Message ends prematurely.")));
  EXPECT_EQ(capnp.debug(), "Capnp(message.c++:12: failed: Message ends prematurely.)");
  EXPECT_EQ(fmt::format("{}", capnp), capnp.debug());

  const PackageError io(std::make_error_code(std::errc::no_such_file_or_directory));
  EXPECT_TRUE(io.debug().starts_with("Io(")) << io.debug();
  EXPECT_NE(io.debug().find("No such file or directory"), std::string::npos) << io.debug();
}

TEST(PackageError, WrappedErrorsConvertAndStayReachableAsTheCause) {
  const auto code = std::make_error_code(std::errc::io_error);
  const PackageError errors[] = {
      kj::Exception(kj::Exception::Type::DISCONNECTED, "serialize.c++", 3, kj::heapString("Premature EOF")),
      code,
      Utf8Error{2, 3},
      NotInSchema{7},
      PackageError::invalid("unsupported profile schema version 0"),
  };
  const PackageErrorKind kinds[] = {PackageErrorKind::Capnp, PackageErrorKind::Io, PackageErrorKind::Utf8,
                                    PackageErrorKind::SchemaEnum, PackageErrorKind::Invalid};
  for (std::size_t i = 0; i < std::size(errors); ++i) {
    EXPECT_EQ(errors[i].kind(), kinds[i]);
    EXPECT_EQ(errors[i].cause().has_value(), kinds[i] != PackageErrorKind::Invalid);
    EXPECT_EQ(errors[i].invalid_text() != nullptr, kinds[i] == PackageErrorKind::Invalid);
  }
  EXPECT_EQ(std::get<const kj::Exception*>(*errors[0].cause())->getDescription(), "Premature EOF");
  EXPECT_EQ(*std::get<const std::error_code*>(*errors[1].cause()), code);
  EXPECT_EQ(*std::get<const Utf8Error*>(*errors[2].cause()), (Utf8Error{2, 3}));
  EXPECT_EQ(std::get<const NotInSchema*>(*errors[3].cause())->value, 7);
  EXPECT_EQ(errors[2].get_if<NotInSchema>(), nullptr);
}

TEST(PackageError, PlainMessageShowsTheWrappedValue) {
  EXPECT_EQ(PackageError::invalid("unsupported profile schema version 4").message(),
            "unsupported profile schema version 4");
  EXPECT_NE(PackageError(NotInSchema{4}).message().find('4'), std::string::npos);
  const std::string utf8 = PackageError(Utf8Error{5, 2}).message();
  EXPECT_NE(utf8.find('5'), std::string::npos) << utf8;
  EXPECT_NE(utf8.find('2'), std::string::npos) << utf8;
  const PackageError capnp(kj::Exception(kj::Exception::Type::FAILED, "layout.c++", 1, kj::heapString("bad pointer")));
  EXPECT_NE(capnp.message().find("bad pointer"), std::string::npos);
}

}  // namespace
}  // namespace zlu_package
