// The little the store needs from a database engine: statements with
// numbered parameters ($1, $2, ...) and rows of texts back. The store's
// logic is written once on top of this, so both engines keep the same
// tables and behave alike; only what the engines really do differently
// (row locks, transaction start, identity columns) asks for the dialect.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "text/text_table.hpp"

namespace velkor::store {

enum class Dialect { Sqlite, Postgres };

using SqlValue = std::variant<std::nullptr_t, int64_t, std::string>;
using SqlRow = std::vector<std::optional<std::string>>;  // nullopt: NULL
using SqlRows = std::vector<SqlRow>;

// The database (as shown to a person) and why it cannot be opened.
inline constexpr const char* kCannotBeOpened = TextKey("%s cannot be opened: %s");

// Every failure inside the store travels as this and is turned into a
// StoreResult at the store's edge. conflict marks a transaction the engine
// gave up on because of another one (deadlock, serialisation): it rolled
// back and may simply be run again.
struct StoreError : std::runtime_error {
  explicit StoreError(const std::string& message, bool unreachableDatabase = false, bool conflictWithOther = false)
      : std::runtime_error(message), unreachable(unreachableDatabase), conflict(conflictWithOther) {}
  bool unreachable;
  bool conflict;
};

class SqlConnection {
 public:
  virtual ~SqlConnection() = default;
  virtual Dialect Kind() const = 0;
  // Where the database is, fit to show (no password).
  virtual const std::string& Where() const = 0;
  // Makes sure the connection is usable, connecting again when it was lost.
  virtual void Connect() = 0;
  // One statement; throws StoreError.
  virtual SqlRows Run(std::string_view sql, const std::vector<SqlValue>& params = {}) = 0;
  // Several statements without parameters (schema changes).
  virtual void Script(std::string_view sql) = 0;
  // Starts a transaction that will write; with SQLite it takes the write
  // lock at once, waiting for other programs up to the busy timeout.
  virtual void BeginWrite() = 0;
  // Starts a transaction that only reads, seeing one state throughout.
  virtual void BeginRead() = 0;
  virtual void Commit() = 0;
  // Ends a transaction after a failure; never throws.
  virtual void RollbackQuietly() noexcept = 0;
};

// Both throw StoreError (unreachable set when the database could not be
// reached at all).
std::unique_ptr<SqlConnection> OpenSqlite(const std::string& path);
std::unique_ptr<SqlConnection> OpenPostgres(const std::string& connectionString);

// The connection string's host, port, database and user, never its
// password.
std::string DescribePostgres(const std::string& connectionString);

// Brings the database's tables to the form this program knows; refuses a
// database made by a newer program. Throws StoreError.
void MigrateSchema(SqlConnection& db);
// The newest schema version this program knows.
int64_t KnownSchemaVersion();

}  // namespace velkor::store
