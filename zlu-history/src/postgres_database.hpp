// The fleet's store: a PostgreSQL database that the tasks of many hosts
// write at once.
#pragma once

#include <expected>
#include <memory>
#include <string>

#include "database.hpp"

namespace zlu_history {

// Connects to the PostgreSQL database `url` names (postgresql://...); the
// error is the server's or the client library's message.
std::expected<std::unique_ptr<Database>, std::string> open_postgres(const std::string& url);

}  // namespace zlu_history
