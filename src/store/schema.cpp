// The store's tables, made and brought up to date by the program itself.
// Each step moves the database from one version to the next; steps are
// only ever added at the end, never changed once released, because
// databases out on production lines were made by them.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "data/text_format.hpp"
#include "store/sql_connection.hpp"
#include "text/text_table.hpp"

namespace velkor::store {
namespace {

struct Step {
  int64_t version;
  const char* sql;  // {ID} stands for the engine's auto-numbered key
};

// pools.issued counts the fresh numbers handed out: the next one is
// first_number + issued * step. Counting (rather than keeping the next
// number) means the counter never has to hold a value past last_number,
// which could overflow 64 bits.
//
// numbers holds each issued number's present state and latest
// reservation; reservations holds every time a number was handed out, so a
// number issued again after a failed chip keeps the history of both chips
// and a reservation id never comes back.
const std::vector<Step>& Steps() {
  static const std::vector<Step> steps = {
      {1, R"(
CREATE TABLE pools (
  id {ID},
  name TEXT NOT NULL UNIQUE,
  first_number BIGINT NOT NULL,
  step BIGINT NOT NULL CHECK (step >= 1),
  last_number BIGINT NOT NULL,
  format TEXT NOT NULL,
  failed_numbers TEXT NOT NULL CHECK (failed_numbers IN ('void', 'reuse')),
  issued BIGINT NOT NULL DEFAULT 0,
  created_ms BIGINT NOT NULL,
  CHECK (first_number <= last_number)
);
CREATE TABLE reservations (
  id {ID},
  pool_id BIGINT NOT NULL REFERENCES pools (id),
  number BIGINT NOT NULL,
  station TEXT NOT NULL,
  programmer TEXT NOT NULL,
  reserved_ms BIGINT NOT NULL,
  finished_ms BIGINT,
  outcome TEXT CHECK (outcome IN ('used', 'failed', 'voided')),
  ended_by TEXT CHECK (ended_by IN ('finish', 'release'))
);
CREATE TABLE numbers (
  pool_id BIGINT NOT NULL REFERENCES pools (id),
  number BIGINT NOT NULL,
  state TEXT NOT NULL CHECK (state IN ('reserved', 'used', 'failed', 'voided')),
  reservation_id BIGINT NOT NULL REFERENCES reservations (id),
  issued_count BIGINT NOT NULL,
  PRIMARY KEY (pool_id, number)
);
CREATE INDEX numbers_by_state ON numbers (pool_id, state, number);
CREATE TABLE records (
  id {ID},
  time_ms BIGINT NOT NULL,
  station TEXT NOT NULL,
  programmer INTEGER NOT NULL,
  programmer_id TEXT NOT NULL,
  chip TEXT NOT NULL,
  operation TEXT NOT NULL,
  result TEXT NOT NULL CHECK (result IN ('ok', 'failed', 'timeout', 'stopped')),
  code INTEGER NOT NULL,
  text TEXT NOT NULL,
  acc INTEGER NOT NULL,
  crc INTEGER NOT NULL,
  image_sha256 TEXT NOT NULL,
  serial_number BIGINT,
  pool TEXT,
  duration_ms BIGINT NOT NULL
);
CREATE INDEX records_by_time ON records (time_ms, id);
)"},
      // What a record tells besides: the file the image came from, the
      // chip's ID ("0xEF 0x40"), the job the chip belongs to, where a chip
      // read back differs, and the programmer's USB adapter. Nullable: the records made before have none.
      {2, R"(
ALTER TABLE records ADD COLUMN image_file TEXT;
ALTER TABLE records ADD COLUMN chip_id TEXT;
ALTER TABLE records ADD COLUMN job_id TEXT;
ALTER TABLE records ADD COLUMN first_difference BIGINT;
ALTER TABLE records ADD COLUMN differences BIGINT;
ALTER TABLE records ADD COLUMN adapter_serial TEXT;
CREATE INDEX records_by_job ON records (job_id);
)"},
      // A record's serial value of other bytes and its locked job; and the
      // sessions: each run of a job at a station, with the programmers
      // that took part, one row each so that a line's reports can join
      // them. position keeps the programmers in the order they were given.
      {3, R"(
ALTER TABLE records ADD COLUMN serial_text TEXT;
ALTER TABLE records ADD COLUMN locked_job TEXT;
ALTER TABLE records ADD COLUMN job_lock TEXT;
CREATE TABLE sessions (
  id {ID},
  station TEXT NOT NULL,
  program_version TEXT NOT NULL,
  job_id TEXT,
  chip TEXT NOT NULL,
  image_sha256 TEXT,
  locked_job TEXT,
  job_lock TEXT,
  started_ms BIGINT NOT NULL,
  ended_ms BIGINT,
  good BIGINT NOT NULL CHECK (good >= 0),
  failed BIGINT NOT NULL CHECK (failed >= 0)
);
CREATE INDEX sessions_by_start ON sessions (started_ms, id);
CREATE TABLE session_programmers (
  session_id BIGINT NOT NULL REFERENCES sessions (id),
  position INTEGER NOT NULL,
  programmer INTEGER NOT NULL,
  programmer_id TEXT NOT NULL,
  firmware TEXT NOT NULL,
  adapter_serial TEXT,
  PRIMARY KEY (session_id, position)
);
)"},
  };
  return steps;
}

std::string ForEngine(std::string sql, Dialect dialect) {
  // AUTOINCREMENT: SQLite would otherwise hand the largest id out again
  // after that row was deleted.
  const std::string id = dialect == Dialect::Sqlite ? "INTEGER PRIMARY KEY AUTOINCREMENT"
                                                    : "BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY";
  for (std::size_t at = sql.find("{ID}"); at != std::string::npos; at = sql.find("{ID}", at)) {
    sql.replace(at, 4, id);
  }
  return sql;
}

int64_t ToInt(const std::optional<std::string>& text) { return text ? std::stoll(*text) : 0; }

}  // namespace

int64_t KnownSchemaVersion() { return Steps().back().version; }

void MigrateSchema(SqlConnection& db) {
  db.BeginWrite();
  try {
    if (db.Kind() == Dialect::Postgres) {
      // Two stations opening a new database at once would both try to
      // create the tables; the lock makes the second wait and find them.
      db.Run("SELECT pg_advisory_xact_lock(735011)", {});
    }
    // Looked up rather than CREATE TABLE IF NOT EXISTS: a station's user
    // that may change rows but not make tables can still open a database
    // that is up to date.
    const SqlRows found =
        db.Kind() == Dialect::Postgres
            ? db.Run("SELECT to_regclass('schema_version') IS NOT NULL", {})
            : db.Run("SELECT COUNT(*) > 0 FROM sqlite_master WHERE type = 'table' AND name = 'schema_version'", {});
    const bool hasVersions = !found.empty() && found[0][0] && (*found[0][0] == "t" || *found[0][0] == "1");
    if (!hasVersions) {
      db.Script("CREATE TABLE schema_version (version BIGINT PRIMARY KEY, applied_ms BIGINT NOT NULL)");
    }
    const SqlRows rows = db.Run("SELECT MAX(version) FROM schema_version", {});
    const int64_t current = rows.empty() ? 0 : ToInt(rows[0][0]);
    if (current > KnownSchemaVersion()) {
      throw StoreError(velkor::FormatText(Tx("%s was written by a newer program (its tables are version %s, this "
                                             "program knows up to version %s): use the newer program"),
                                          db.Where().c_str(), std::to_string(current).c_str(),
                                          std::to_string(KnownSchemaVersion()).c_str()));
    }
    for (const Step& step : Steps()) {
      if (step.version <= current) continue;
      db.Script(ForEngine(step.sql, db.Kind()));
      db.Run("INSERT INTO schema_version (version, applied_ms) VALUES ($1, $2)",
             {step.version, static_cast<int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                     std::chrono::system_clock::now().time_since_epoch())
                                                     .count())});
    }
    db.Commit();
  } catch (...) {
    db.RollbackQuietly();
    throw;
  }
}

}  // namespace velkor::store
