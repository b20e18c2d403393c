// The embedded store: one SQLite file that several processes on a host
// write at once.
#pragma once

#include <expected>
#include <filesystem>
#include <memory>
#include <string>

#include "database.hpp"

namespace zlu_history {

// Whether opening may create the file: a suite creates its history on first
// use, while a reader of a path that names nothing is told so.
enum class CreateFile { No, Yes };

// Opens the SQLite database at `path` with a busy time-out, so that the
// writers of several suites wait for each other instead of failing; a writer
// (CreateFile::Yes) puts the file in write-ahead-log mode, where readers and
// writers do not block each other. The error is SQLite's message.
std::expected<std::unique_ptr<Database>, std::string> open_sqlite(const std::filesystem::path& path, CreateFile create);

}  // namespace zlu_history
