// The history's tables and how each version of them is reached.
#pragma once

#include <cstdint>
#include <expected>
#include <string>

#include "database.hpp"

namespace zlu_history {

// The version this build writes and reads.
std::int64_t current_schema_version();

// Brings the schema of `db` to the current version inside one transaction,
// creating it on first use. Several writers may race here: each takes the
// database's write lock first and sees what the winner made.
std::expected<void, std::string> migrate(Database& db);

// As migrate, up to `version` only: the history an earlier build wrote.
std::expected<void, std::string> migrate_to(Database& db, std::int64_t version);

// The version of the schema in `db`, 0 for a database without one; for a
// reader, which never changes what it reads.
std::expected<std::int64_t, std::string> schema_version(Database& db);

}  // namespace zlu_history
