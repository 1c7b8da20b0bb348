#include "postgres_server.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace velkor::test {
namespace {

namespace fs = std::filesystem;

PostgresServer* shared = nullptr;

std::string Tail(const fs::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  const std::string all = text.str();
  return all.size() > 2000 ? all.substr(all.size() - 2000) : all;
}

std::string FirstLineOf(const std::string& command) {
  std::string line;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[512];
    if (fgets(buffer, sizeof buffer, pipe)) line = buffer;
    pclose(pipe);
  }
  while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
  return line;
}

// pg_config's folder when it holds the server programs, otherwise the
// newest /usr/lib/postgresql/<version>/bin.
std::string ServerPrograms() {
  const std::string configured = FirstLineOf("pg_config --bindir 2>/dev/null");
  if (!configured.empty() && access((configured + "/initdb").c_str(), X_OK) == 0) return configured;
  std::string best;
  int bestVersion = -1;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ignored)) {
    const std::string bin = (entry.path() / "bin").string();
    const int version = std::atoi(entry.path().filename().c_str());
    if (version > bestVersion && access((bin + "/initdb").c_str(), X_OK) == 0) {
      best = bin;
      bestVersion = version;
    }
  }
  return best;
}

// Runs args in folder, as user when switching, output to log; the exit
// status.
int Run(const std::vector<std::string>& args, const std::string& folder, const std::string& user, bool switchUser,
        const fs::path& log) {
  std::vector<std::string> full;
  if (switchUser) full = {"runuser", "-u", user, "--"};
  full.insert(full.end(), args.begin(), args.end());
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    const int in = open("/dev/null", O_RDONLY);
    if (out < 0 || in < 0 || chdir(folder.c_str()) != 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    std::vector<char*> argv;
    for (std::string& arg : full) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    const std::string why = "cannot run " + full[0] + ": " + std::strerror(errno) + "\n";
    (void)!write(2, why.data(), why.size());
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class StopServerAtEnd : public ::testing::Environment {
 public:
  void TearDown() override {
    if (shared) shared->Stop();
  }
};

[[maybe_unused]] ::testing::Environment* const kStopServer =
    ::testing::AddGlobalTestEnvironment(new StopServerAtEnd);

}  // namespace

PostgresServer& PostgresServer::Shared() {
  if (!shared) {
    shared = new PostgresServer();  // never deleted: children of fork must not stop it
    shared->Start();
  }
  return *shared;
}

PostgresServer::PostgresServer() = default;

void PostgresServer::Start() {
  starter_ = getpid();
  bin_ = ServerPrograms();
  if (bin_.empty()) {
    failure_ = "no PostgreSQL server programs (initdb) in pg_config --bindir nor /usr/lib/postgresql/*/bin";
    return;
  }
  char pattern[] = "/tmp/velkor-pg-XXXXXX";
  if (!mkdtemp(pattern)) {
    failure_ = std::string("cannot make a temporary folder: ") + std::strerror(errno);
    return;
  }
  folder_ = pattern;
  const bool root = geteuid() == 0;
  if (root) {
    const passwd* account = getpwnam("postgres");
    if (!account) account = getpwnam("nobody");
    if (!account) {
      failure_ = "running as root, and there is neither a postgres nor a nobody user to run the server as";
      return;
    }
    user_ = account->pw_name;
    if (chown(folder_.c_str(), account->pw_uid, account->pw_gid) != 0) {
      failure_ = "cannot give " + folder_ + " to " + user_ + ": " + std::strerror(errno);
      return;
    }
  } else {
    const passwd* account = getpwuid(geteuid());
    user_ = account ? account->pw_name : "postgres";
  }
  const fs::path log = fs::path(folder_) / "tools.log";
  const std::string data = folder_ + "/data";
  const int made = Run({bin_ + "/initdb", "-D", data, "-N", "-E", "UTF8", "--locale=C", "-U", user_, "-A", "trust"},
                       folder_, user_, root, log);
  if (made != 0) {
    failure_ = "initdb failed (status " + std::to_string(made) + "):\n" + Tail(log);
    return;
  }
  const std::string options = "-c listen_addresses='' -c unix_socket_directories='" + folder_ + "' -c fsync=off";
  const int started = Run({bin_ + "/pg_ctl", "-D", data, "-w", "-t", "30", "-s", "-l", folder_ + "/server.log", "-o",
                           options, "start"},
                          folder_, user_, root, log);
  if (started != 0) {
    failure_ = "pg_ctl start failed (status " + std::to_string(started) + "):\n" + Tail(log) + Tail(folder_ + "/server.log");
  }
}

void PostgresServer::Stop() {
  if (folder_.empty() || getpid() != starter_) return;
  if (failure_.empty() || fs::exists(folder_ + "/data/postmaster.pid")) {
    Run({bin_ + "/pg_ctl", "-D", folder_ + "/data", "-m", "immediate", "-w", "-s", "stop"}, folder_, user_,
        geteuid() == 0, fs::path(folder_) / "tools.log");
  }
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
  folder_.clear();
}

std::string PostgresServer::ConnectionString(const std::string& database) const {
  return "host=" + folder_ + " user=" + user_ + " dbname=" + database;
}

std::string PostgresServer::Admin(const std::string& database, const std::string& sql) const {
  PGconn* connection = PQconnectdb(ConnectionString(database).c_str());
  std::string error;
  if (PQstatus(connection) != CONNECTION_OK) {
    error = PQerrorMessage(connection);
  } else {
    PGresult* result = PQexec(connection, sql.c_str());
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) error = PQresultErrorMessage(result);
    PQclear(result);
  }
  PQfinish(connection);
  return error;
}

std::vector<std::vector<std::optional<std::string>>> PostgresServer::Query(const std::string& database,
                                                                           const std::string& sql,
                                                                           std::string& error) const {
  std::vector<std::vector<std::optional<std::string>>> rows;
  error.clear();
  PGconn* connection = PQconnectdb(ConnectionString(database).c_str());
  if (PQstatus(connection) != CONNECTION_OK) {
    error = PQerrorMessage(connection);
  } else {
    PGresult* result = PQexec(connection, sql.c_str());
    if (PQresultStatus(result) != PGRES_TUPLES_OK) {
      error = PQresultErrorMessage(result);
    } else {
      for (int r = 0; r < PQntuples(result); ++r) {
        auto& row = rows.emplace_back();
        for (int c = 0; c < PQnfields(result); ++c)
          row.push_back(PQgetisnull(result, r, c) ? std::nullopt
                                                  : std::optional<std::string>(PQgetvalue(result, r, c)));
      }
    }
    PQclear(result);
  }
  PQfinish(connection);
  return rows;
}

std::string PostgresServer::NewDatabase(std::string& error) {
  if (!failure_.empty()) {
    error = "the test's PostgreSQL server did not start: " + failure_;
    return {};
  }
  const std::string name = "line_" + std::to_string(getpid()) + "_" + std::to_string(++databases_);
  error = Admin("postgres", "CREATE DATABASE " + name);
  return error.empty() ? ConnectionString(name) : std::string();
}

}  // namespace velkor::test
