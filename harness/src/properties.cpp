#include "properties.hpp"

#include <algorithm>

#include "lib.hpp"

namespace harness {
namespace {

thread_local TestProperties* active_properties = nullptr;

}  // namespace

PropertyScope::PropertyScope(TestProperties& properties) : previous_(active_properties) {
  active_properties = &properties;
}

PropertyScope::~PropertyScope() { active_properties = previous_; }

void record_property(std::string name, std::string value) {
  if (active_properties == nullptr) return;
  const auto recorded = std::ranges::find(*active_properties, name, &TestProperties::value_type::first);
  if (recorded != active_properties->end()) {
    recorded->second = std::move(value);
  } else {
    active_properties->emplace_back(std::move(name), std::move(value));
  }
}

}  // namespace harness
