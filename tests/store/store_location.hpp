// A fresh, empty place for a store, for one test: an SQLite file in a
// temporary folder of its own, or a new database on the test program's
// PostgreSQL server. The same behaviour is asked of both.
#pragma once

#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "postgres_server.hpp"

namespace velkor::test {

enum class Engine { Sqlite, Postgres };

inline std::string EngineName(Engine engine) { return engine == Engine::Sqlite ? "sqlite" : "postgresql"; }

class StoreLocation {
 public:
  explicit StoreLocation(Engine engine) : engine_(engine) {
    char pattern[] = "/tmp/velkor-store-XXXXXX";
    if (!mkdtemp(pattern)) {
      error = "cannot make a temporary folder";
      return;
    }
    folder = pattern;
    if (engine == Engine::Sqlite) {
      where = (folder / "line.db").string();
    } else {
      PostgresServer& server = PostgresServer::Shared();
      where = server.NewDatabase(error);
      if (const auto at = where.find("dbname="); at != std::string::npos) database_ = where.substr(at + 7);
    }
  }
  ~StoreLocation() {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  StoreLocation(const StoreLocation&) = delete;
  StoreLocation& operator=(const StoreLocation&) = delete;

  // Runs sql straight on the database, behind the store's back: an empty
  // string, or the error.
  std::string Sql(const std::string& sql) const {
    if (engine_ == Engine::Postgres) return PostgresServer::Shared().Admin(database_, sql);
    sqlite3* db = nullptr;
    std::string failure;
    if (sqlite3_open(where.c_str(), &db) != SQLITE_OK) {
      failure = sqlite3_errmsg(db);
    } else {
      char* message = nullptr;
      sqlite3_busy_timeout(db, 5000);
      if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) failure = message ? message : "?";
      sqlite3_free(message);
    }
    sqlite3_close(db);
    return failure;
  }

  std::string where;
  std::string error;  // why there is no place, when where is empty
  std::filesystem::path folder;

 private:
  Engine engine_;
  std::string database_;
};

}  // namespace velkor::test
