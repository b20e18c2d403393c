// The `trace` view: a profile as a Trace Event Format document, the JSON
// that trace viewers open.
#pragma once

#include <ostream>

#include "zlu-package/src/lib.hpp"

namespace zlu_profile {

// The clock used to place events when the profile's clock is 0 Hz: one
// cycle to the microsecond, so the events keep their order and proportions.
inline constexpr std::uint64_t FALLBACK_CLOCK_HZ = 1'000'000;

// Writes `profile` to `out` as one JSON object whose "traceEvents" hold: a
// process for the card, a thread per tile entry named by its physical number,
// row and position, and a complete event per sample with start and duration
// in microseconds, the operation as name, the kind as category and the
// kernel, step numbers, cycles and metadata as arguments. Events are written
// one at a time, so the document is never held whole in memory.
void write_trace(const zlu_package::ProfileReport& profile, std::ostream& out);

}  // namespace zlu_profile
