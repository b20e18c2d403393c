// Reading one message of the unpacked stream framing into memory.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include <capnp/common.h>
#include <kj/io.h>

namespace zlu_package {

struct FreeWords {
  void operator()(capnp::word* words) const { std::free(words); }
};

struct FramedMessage {
  // The segments of one message, held in one owned buffer. The buffer comes
  // from malloc so that it can grow by realloc, which large blocks do by
  // remapping pages rather than copying them.
  std::unique_ptr<capnp::word, FreeWords> words;
  std::vector<kj::ArrayPtr<const capnp::word>> segments;
};

FramedMessage read_framed_message(kj::InputStream& source);
// Reads the segment table and then exactly the segments it announces, no
// byte further. Memory grows with the bytes that actually arrive, never with
// what the table merely announces, so a short source claiming gigabytes
// costs no more than its own length. Throws kj::Exception, as the library's
// own readers do, for a table that cannot be valid or a source that ends
// early.

}  // namespace zlu_package
