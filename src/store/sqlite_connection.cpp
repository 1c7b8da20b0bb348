// The SQLite engine: one file shared by the programs of one station.
//
// The file is kept in WAL mode so readers never wait for a writer, with a
// busy timeout so a writer waits its turn instead of failing at once, and
// every change runs in BEGIN IMMEDIATE: the write lock is taken before
// anything is read, so two programs can never both read the same counter
// and both take the same number (a deferred transaction would read first
// and could only fail when it tries to write). synchronous=FULL because a
// reservation that a power cut undoes would hand its number out again.
#include <sqlite3.h>

#include <chrono>
#include <string>
#include <unordered_map>

#include "data/text_format.hpp"
#include "store/sql_connection.hpp"
#include "text/text_table.hpp"

namespace velkor::store {
namespace {

constexpr int kBusyTimeoutMs = 10000;

bool IsUnreachable(int code) {
  switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR:
    case SQLITE_FULL:
      return true;
    default:
      return false;
  }
}

// $n to ?n: SQLite would take $1 as a named parameter and number the
// names in the order they first appear.
std::string ToSqliteParameters(std::string_view sql) {
  std::string out(sql);
  for (std::size_t i = 0; i + 1 < out.size(); ++i) {
    if (out[i] == '$' && out[i + 1] >= '0' && out[i + 1] <= '9') out[i] = '?';
  }
  return out;
}

class SqliteConnection final : public SqlConnection {
 public:
  explicit SqliteConnection(const std::string& path) : where_(path) {
    const int opened = sqlite3_open_v2(path.c_str(), &db_,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (opened != SQLITE_OK) {
      const std::string reason = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(opened);
      sqlite3_close(db_);
      db_ = nullptr;
      throw StoreError(velkor::FormatText(Tx(kCannotBeOpened), where_.c_str(), reason.c_str()), true);
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    // The first statement that reads the file tells one that is not a
    // database at all.
    try {
      // A file system without shared memory keeps the file in its old
      // mode; the locks still keep the programs apart.
      Run("PRAGMA journal_mode=WAL", {});
      Script("PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;");
    } catch (...) {
      Close();
      throw;
    }
  }

  ~SqliteConnection() override { Close(); }

  Dialect Kind() const override { return Dialect::Sqlite; }
  const std::string& Where() const override { return where_; }
  void Connect() override {}

  SqlRows Run(std::string_view sql, const std::vector<SqlValue>& params) override {
    sqlite3_stmt* statement = Prepared(sql);
    struct Reset {
      sqlite3_stmt* s;
      ~Reset() {
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
      }
    } reset{statement};
    for (std::size_t i = 0; i < params.size(); ++i) {
      const int index = static_cast<int>(i + 1);
      int bound = SQLITE_OK;
      if (const auto* number = std::get_if<int64_t>(&params[i])) {
        bound = sqlite3_bind_int64(statement, index, *number);
      } else if (const auto* text = std::get_if<std::string>(&params[i])) {
        bound = sqlite3_bind_text(statement, index, text->data(), static_cast<int>(text->size()), SQLITE_TRANSIENT);
      } else {
        bound = sqlite3_bind_null(statement, index);
      }
      if (bound != SQLITE_OK) Fail(bound);
    }
    SqlRows rows;
    for (;;) {
      const int step = sqlite3_step(statement);
      if (step == SQLITE_DONE) break;
      if (step != SQLITE_ROW) Fail(step);
      SqlRow row;
      const int columns = sqlite3_column_count(statement);
      row.reserve(columns);
      for (int c = 0; c < columns; ++c) {
        if (sqlite3_column_type(statement, c) == SQLITE_NULL) {
          row.emplace_back(std::nullopt);
        } else {
          const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, c));
          row.emplace_back(std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, c))));
        }
      }
      rows.push_back(std::move(row));
    }
    return rows;
  }

  void Script(std::string_view sql) override {
    char* message = nullptr;
    const int code = sqlite3_exec(db_, std::string(sql).c_str(), nullptr, nullptr, &message);
    if (code != SQLITE_OK) {
      const std::string reason = message ? message : sqlite3_errstr(code);
      sqlite3_free(message);
      throw Error(code, reason);
    }
  }

  void BeginWrite() override { Script("BEGIN IMMEDIATE"); }
  void BeginRead() override { Script("BEGIN"); }
  void Commit() override { Script("COMMIT"); }
  void RollbackQuietly() noexcept override {
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }

 private:
  sqlite3_stmt* Prepared(std::string_view sql) {
    const std::string key(sql);
    if (auto found = statements_.find(key); found != statements_.end()) return found->second;
    const std::string text = ToSqliteParameters(sql);
    sqlite3_stmt* statement = nullptr;
    const int code = sqlite3_prepare_v3(db_, text.c_str(), static_cast<int>(text.size()), SQLITE_PREPARE_PERSISTENT,
                                        &statement, nullptr);
    if (code != SQLITE_OK) Fail(code);
    statements_.emplace(key, statement);
    return statement;
  }

  StoreError Error(int code, const std::string& reason) const {
    if (code == SQLITE_BUSY) {
      return StoreError(velkor::FormatText(Tx("%s is busy: another program held it for over %s s"), where_.c_str(),
                                           std::to_string(kBusyTimeoutMs / 1000).c_str()),
                        true);
    }
    return StoreError(where_ + ": " + reason, IsUnreachable(code));
  }

  [[noreturn]] void Fail(int code) const { throw Error(code, sqlite3_errmsg(db_)); }

  void Close() noexcept {
    for (auto& [text, statement] : statements_) sqlite3_finalize(statement);
    statements_.clear();
    sqlite3_close(db_);
    db_ = nullptr;
  }

  std::string where_;
  sqlite3* db_ = nullptr;
  std::unordered_map<std::string, sqlite3_stmt*> statements_;
};

}  // namespace

std::unique_ptr<SqlConnection> OpenSqlite(const std::string& path) { return std::make_unique<SqliteConnection>(path); }

}  // namespace velkor::store
