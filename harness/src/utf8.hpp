// Turning captured bytes into text for the report.
#pragma once

#include <string>
#include <string_view>

namespace harness {

// Decodes `bytes` as UTF-8, replacing each maximal ill-formed subpart with
// U+FFFD, so that a test that wrote binary garbage still gets a readable
// report and the report itself stays valid UTF-8.
std::string decode_utf8_lossy(std::string_view bytes);

}  // namespace harness
