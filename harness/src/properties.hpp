// Per-test collection of the properties a test body records.
#pragma once

#include "result.hpp"

namespace harness {

class PropertyScope {
  // While alive, `record_property` on the current thread records into
  // `properties`.
 public:
  explicit PropertyScope(TestProperties& properties);
  ~PropertyScope();
  PropertyScope(const PropertyScope&) = delete;
  PropertyScope& operator=(const PropertyScope&) = delete;

 private:
  TestProperties* previous_;
};

}  // namespace harness
