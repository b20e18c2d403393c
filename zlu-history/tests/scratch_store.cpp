#include "scratch_store.hpp"

#include <fcntl.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <stdexcept>
#include <thread>
#include <vector>

#include <fmt/format.h>

namespace zlu_history_tests {

namespace {

const std::filesystem::path POSTGRES_BIN = "/usr/lib/postgresql/15/bin";
constexpr const char* SERVER_USER = "nobody";
constexpr const char* ROLE = "history";

// Starts `args` as `user` (when root) with output to `log`; returns the pid.
int start_as(const passwd& user, const std::vector<std::string>& args, const std::filesystem::path& log) {
  const int pid = fork();
  if (pid != 0) return pid;
  if (geteuid() == 0 && (setgid(user.pw_gid) != 0 || setuid(user.pw_uid) != 0)) _exit(126);
  const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd >= 0) {
    dup2(fd, 1);
    dup2(fd, 2);
  }
  std::vector<char*> argv;
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

void execute(const std::string& url, const std::string& sql) {
  PGconn* connection = PQconnectdb(url.c_str());
  PGresult* result = PQexec(connection, sql.c_str());
  const bool done = PQresultStatus(result) == PGRES_COMMAND_OK;
  const std::string error = PQerrorMessage(connection);
  PQclear(result);
  PQfinish(connection);
  if (!done) throw std::runtime_error(fmt::format("{}: {}", sql, error));
}

}  // namespace

ScratchFolder::ScratchFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = fmt::format("{}/zlu-history-XXXXXX", tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

PostgresServer::PostgresServer() {
  const passwd* user = getpwnam(SERVER_USER);
  if (user == nullptr) throw std::runtime_error("no user nobody to run the PostgreSQL server as");
  const auto home = scratch_.path() / "pg";
  socket_dir_ = home / "socket";
  std::filesystem::create_directories(socket_dir_);
  // The server's user must reach its folder through the scratch folder.
  chmod(scratch_.path().c_str(), 0711);
  for (const auto& folder : {home, socket_dir_}) {
    if (chown(folder.c_str(), user->pw_uid, user->pw_gid) != 0) throw std::runtime_error("chown failed");
  }
  const auto data = home / "data";
  const auto log = home / "server.log";
  int status = 0;
  const int initdb = start_as(*user,
                              {(POSTGRES_BIN / "initdb").string(), "-D", data.string(), "-U", ROLE, "--auth=trust",
                               "--no-sync", "-E", "UTF8", "--locale=C"},
                              home / "initdb.log");
  waitpid(initdb, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error(fmt::format("initdb failed, see {}", (home / "initdb.log").string()));
  pid_ = start_as(*user,
                  {(POSTGRES_BIN / "postgres").string(), "-D", data.string(), "-k", socket_dir_.string(), "-c",
                   "listen_addresses=", "-c", "fsync=off"},
                  log);
  const std::string probe = fmt::format("host={} user={} dbname=postgres", socket_dir_.string(), ROLE);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (PQping(probe.c_str()) != PQPING_OK) {
    if (std::chrono::steady_clock::now() > deadline || waitpid(pid_, &status, WNOHANG) == pid_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      throw std::runtime_error(fmt::format("the PostgreSQL server did not start, see {}", log.string()));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

PostgresServer::~PostgresServer() {
  if (pid_ <= 0) return;
  // SIGINT is the server's fast shutdown: it ends every session and exits.
  kill(pid_, SIGINT);
  int status = 0;
  waitpid(pid_, &status, 0);
}

std::string PostgresServer::new_database_url() {
  const std::string name = fmt::format("history_{}", ++databases_);
  execute(fmt::format("host={} user={} dbname=postgres", socket_dir_.string(), ROLE),
          fmt::format("CREATE DATABASE {}", name));
  return fmt::format("postgresql://{}@/{}?host={}", ROLE, name, socket_dir_.string());
}

}  // namespace zlu_history_tests
