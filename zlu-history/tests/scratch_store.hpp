// Real stores for tests: an SQLite file in a scratch folder, and a PostgreSQL
// server started in its own scratch folder and stopped by its process id.
#pragma once

#include <filesystem>
#include <string>

namespace zlu_history_tests {

class ScratchFolder {
  // A fresh folder (mkdtemp under TMPDIR), removed with everything in it.
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

class PostgresServer {
  // A PostgreSQL server of the Debian package, run as the unprivileged user
  // `nobody` on a socket in its scratch folder (no TCP port), with a cluster
  // made by initdb there. Construction throws when it cannot start, so that
  // a missing package fails the tests that need it instead of skipping them.
 public:
  PostgresServer();
  ~PostgresServer();
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  // The URL of a new, empty database on this server.
  std::string new_database_url();

 private:
  ScratchFolder scratch_;
  std::filesystem::path socket_dir_;
  int pid_ = -1;
  int databases_ = 0;
};

}  // namespace zlu_history_tests
