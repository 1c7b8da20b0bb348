// A fresh, empty place for a store, for one test: an SQLite file in a
// temporary folder of its own, or a new database on the test program's
// PostgreSQL server. The same behaviour is asked of both.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

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

  // The rows a query answers, read straight from the database: each value
  // as the engine gives it as text, NULL as nothing. A failure fails the
  // test.
  using Rows = std::vector<std::vector<std::optional<std::string>>>;
  Rows Query(const std::string& sql) const {
    std::string failure;
    Rows rows;
    if (engine_ == Engine::Postgres) {
      rows = PostgresServer::Shared().Query(database_, sql, failure);
    } else {
      sqlite3* db = nullptr;
      sqlite3_stmt* statement = nullptr;
      if (sqlite3_open_v2(where.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK ||
          sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        failure = sqlite3_errmsg(db);
      } else {
        int step = SQLITE_OK;
        while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
          auto& row = rows.emplace_back();
          for (int c = 0; c < sqlite3_column_count(statement); ++c) {
            const auto* text = sqlite3_column_text(statement, c);
            row.push_back(text ? std::optional<std::string>(reinterpret_cast<const char*>(text)) : std::nullopt);
          }
        }
        if (step != SQLITE_DONE) failure = sqlite3_errmsg(db);
      }
      sqlite3_finalize(statement);
      sqlite3_close(db);
    }
    EXPECT_EQ(failure, "") << sql;
    return rows;
  }

  std::string where;
  std::string error;  // why there is no place, when where is empty
  std::filesystem::path folder;

 private:
  Engine engine_;
  std::string database_;
};

}  // namespace velkor::test
