// A PostgreSQL server of the test program's own: made in a temporary
// folder on first use, reachable only through a Unix socket in that
// folder, stopped and removed when the program ends. As root (initdb
// refuses root) it runs as the postgres user, or nobody.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velkor::test {

class PostgresServer {
 public:
  // The program's server, started the first time it is asked for.
  static PostgresServer& Shared();

  // Empty when the server runs, otherwise why it could not be started.
  const std::string& Failure() const { return failure_; }
  const std::string& SocketFolder() const { return folder_; }
  const std::string& User() const { return user_; }

  // A new, empty database on the server: its connection string, or empty
  // with error set.
  std::string NewDatabase(std::string& error);
  std::string ConnectionString(const std::string& database) const;

  // Runs sql as the server's superuser; an empty string, or the error.
  std::string Admin(const std::string& database, const std::string& sql) const;
  // The rows sql answers, run as the superuser: each value as text, NULL
  // as nothing; error set when it fails.
  std::vector<std::vector<std::optional<std::string>>> Query(const std::string& database, const std::string& sql,
                                                             std::string& error) const;

  void Stop();

 private:
  PostgresServer();
  void Start();

  std::string bin_;
  std::string folder_;
  std::string user_;
  std::string failure_;
  int starter_ = 0;  // the process that started it, the only one to stop it
  int databases_ = 0;
};

}  // namespace velkor::test
