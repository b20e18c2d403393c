// Profiles the stand-in GEMM runner writes, chosen by the test.
#pragma once

#include <optional>
#include <string>
#include <string_view>

std::optional<std::string> write_chosen_profile(const char* path, std::string_view choice);
// Writes a profile at `path`. `choice` is a comma-separated list; empty
// writes a sound profile (version 3, all 1472 tiles, all four kinds on every
// tile). Items: "none" (write nothing), "garbage" (bytes that are no
// message), "tiles=N", "clock=N", "version=V", "empty-tile" (tile 5 without
// samples), "without=KIND" (no samples of exchange, compute, synchronization
// or idle; repeatable), "spread" (exchange only on tile 0; synchronization
// and idle only on tile 1; compute on every other tile), "symlink" (a sound
// profile at path + ".target" and a symbolic link to it at `path`), "fifo"
// (a FIFO at `path` instead of a file), "owner=UID" (the file given to that
// user).
// Returns an error text for an unknown item or a failed write.
