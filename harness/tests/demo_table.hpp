// Table entries for the demo test executables that the harness's end-to-end
// tests run as children.
#pragma once

#include <optional>
#include <string_view>

#include "lib.hpp"

namespace harness::demo {

// An integration test declared at `line` of `source_path`, its name spanning
// from column 6, as `void name()` puts it.
constexpr TestDescAndFn entry(std::string_view source_path, std::string_view name, TestFn fn, unsigned line) {
  TestDesc desc;
  desc.name = name;
  desc.source_path = source_path;
  desc.start_line = line;
  desc.start_col = 6;
  desc.end_line = line;
  desc.end_col = 6 + static_cast<unsigned>(name.size());
  desc.test_type = TestType::IntegrationTest;
  return {desc, fn};
}

// `test`, marked ignored with an optional reason.
inline TestDescAndFn ignored(TestDescAndFn test, std::optional<std::string_view> message) {
  test.desc.ignore = true;
  test.desc.ignore_message = message;
  return test;
}

}  // namespace harness::demo
