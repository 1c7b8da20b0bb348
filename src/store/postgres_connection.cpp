// The PostgreSQL engine: one database shared by the stations of a line.
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "data/text_format.hpp"
#include "store/postgres_client.hpp"
#include "store/sql_connection.hpp"
#include "text/text_table.hpp"

namespace velkor::store {
namespace {

struct ResultFree {
  void operator()(PGresult* result) const { LoadPostgresClient().clear(result); }
};
using Result = std::unique_ptr<PGresult, ResultFree>;

struct OptionsFree {
  void operator()(PQconninfoOption* options) const { LoadPostgresClient().conninfoFree(options); }
};

// libpq's messages end in a line end and may run over several lines
// ("...failed: ...\n\tIs the server running...?"): one line to show.
std::string Trimmed(const std::string& text) {
  std::string line;
  bool space = false;
  for (char c : text) {
    if (c == '\n' || c == '\t' || c == ' ') {
      space = !line.empty();
      continue;
    }
    if (space) line += ' ';
    space = false;
    line += c;
  }
  return line;
}

// The password the connection string carries, empty when none.
std::string PasswordIn(const std::string& connectionString) {
  const PostgresClient& pq = LoadPostgresClient();
  char* error = nullptr;
  std::unique_ptr<PQconninfoOption, OptionsFree> options(pq.conninfoParse(connectionString.c_str(), &error));
  pq.freemem(error);
  if (!options) return {};
  for (const PQconninfoOption* option = options.get(); option->keyword; ++option) {
    if (std::string_view(option->keyword) == "password" && option->val) return option->val;
  }
  return {};
}

// libpq's messages do not quote the password, but nothing the program
// shows may ever contain it.
std::string WithoutPassword(std::string text, const std::string& password) {
  if (password.empty()) return text;
  for (std::size_t at = text.find(password); at != std::string::npos; at = text.find(password, at + 3)) {
    text.replace(at, password.size(), "***");
  }
  return text;
}

class PostgresConnection final : public SqlConnection {
 public:
  explicit PostgresConnection(const std::string& connectionString)
      : pq_(LoadPostgresClient()), where_(DescribePostgres(connectionString)), password_(PasswordIn(connectionString)) {
    // Defaults first: whatever the connection string says overrides them.
    // A lock held by a station that stopped mid-transaction fails the
    // waiting call after 10 s instead of freezing every other station.
    // Given here, options would hide PGOPTIONS, so that is kept after it.
    std::string options = "-c lock_timeout=10s";
    if (const char* fromEnvironment = std::getenv("PGOPTIONS"); fromEnvironment && *fromEnvironment) {
      options.append(" ").append(fromEnvironment);
    }
    const char* keys[] = {"connect_timeout", "client_encoding", "application_name", "options", "dbname", nullptr};
    const char* values[] = {"10", "UTF8", "velkor350qn", options.c_str(), connectionString.c_str(), nullptr};
    connection_ = pq_.connectdbParams(keys, values, 1);
    if (!connection_ || pq_.status(connection_) != CONNECTION_OK) {
      const std::string reason = connection_ ? Trimmed(pq_.errorMessage(connection_)) : std::string(Tx("out of memory"));
      pq_.finish(connection_);
      connection_ = nullptr;
      throw StoreError(velkor::FormatText(Tx("%s cannot be reached: %s"), where_.c_str(),
                                          WithoutPassword(reason, password_).c_str()),
                       true);
    }
    // The server's notices ("skipping", ...) are not the user's business.
    pq_.setNoticeProcessor(connection_, [](void*, const char*) {}, nullptr);
  }

  ~PostgresConnection() override { pq_.finish(connection_); }

  Dialect Kind() const override { return Dialect::Postgres; }
  const std::string& Where() const override { return where_; }

  void Connect() override {
    if (pq_.status(connection_) == CONNECTION_OK) return;
    pq_.reset(connection_);
    if (pq_.status(connection_) != CONNECTION_OK) {
      throw StoreError(velkor::FormatText(Tx("%s cannot be reached: %s"), where_.c_str(), Message().c_str()), true);
    }
  }

  SqlRows Run(std::string_view sql, const std::vector<SqlValue>& params) override {
    std::vector<std::string> texts(params.size());
    std::vector<const char*> values(params.size(), nullptr);
    for (std::size_t i = 0; i < params.size(); ++i) {
      if (const auto* number = std::get_if<int64_t>(&params[i])) {
        texts[i] = std::to_string(*number);
        values[i] = texts[i].c_str();
      } else if (const auto* text = std::get_if<std::string>(&params[i])) {
        values[i] = text->c_str();  // the store refuses texts with NUL before they get here
      }
    }
    const std::string statement(sql);
    Result result(pq_.execParams(connection_, statement.c_str(), static_cast<int>(values.size()), nullptr,
                               values.data(), nullptr, nullptr, 0));
    Check(result.get());
    SqlRows rows;
    const int count = pq_.ntuples(result.get());
    const int columns = pq_.nfields(result.get());
    rows.reserve(count);
    for (int r = 0; r < count; ++r) {
      SqlRow row;
      row.reserve(columns);
      for (int c = 0; c < columns; ++c) {
        if (pq_.getisnull(result.get(), r, c)) {
          row.emplace_back(std::nullopt);
        } else {
          row.emplace_back(std::string(pq_.getvalue(result.get(), r, c),
                                       static_cast<std::size_t>(pq_.getlength(result.get(), r, c))));
        }
      }
      rows.push_back(std::move(row));
    }
    return rows;
  }

  void Script(std::string_view sql) override {
    const std::string statements(sql);
    Result result(pq_.exec(connection_, statements.c_str()));
    Check(result.get());
  }

  // Changes run in READ COMMITTED, whatever the server's default: every
  // statement that takes a number locks the row it changes and sees the
  // latest committed state of it (see the store), so no change ever has to
  // be retried because of another station.
  void BeginWrite() override { Script("BEGIN ISOLATION LEVEL READ COMMITTED"); }
  void BeginRead() override { Script("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"); }

  void Commit() override {
    Result result(pq_.exec(connection_, "COMMIT"));
    Check(result.get());
    // A transaction that failed earlier answers COMMIT with ROLLBACK.
    if (std::string_view(pq_.cmdStatus(result.get())) != "COMMIT") {
      throw StoreError(velkor::FormatText(Tx("%s: the change was rolled back"), where_.c_str()));
    }
  }

  void RollbackQuietly() noexcept override {
    const PGTransactionStatusType status = pq_.transactionStatus(connection_);
    if (status == PQTRANS_INTRANS || status == PQTRANS_INERROR) pq_.clear(pq_.exec(connection_, "ROLLBACK"));
  }

 private:
  std::string Message() const { return WithoutPassword(Trimmed(pq_.errorMessage(connection_)), password_); }

  void Check(PGresult* result) const {
    const ExecStatusType status = result ? pq_.resultStatus(result) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return;
    if (!result || pq_.status(connection_) != CONNECTION_OK) {
      throw StoreError(velkor::FormatText(Tx("%s cannot be reached: %s"), where_.c_str(), Message().c_str()), true);
    }
    const char* code = pq_.resultErrorField(result, PG_DIAG_SQLSTATE);
    const std::string state = code ? code : "";
    const std::string reason = WithoutPassword(Trimmed(pq_.resultErrorMessage(result)), password_);
    // Class 08: the connection failed; 57P: the server is shutting down or
    // restarting; 55P03: a lock was not granted in time (lock_timeout).
    if (state.starts_with("08") || state.starts_with("57P")) {
      throw StoreError(velkor::FormatText(Tx("%s cannot be reached: %s"), where_.c_str(), reason.c_str()), true);
    }
    if (state == "55P03")
      throw StoreError(velkor::FormatText(Tx("%s is busy: %s"), where_.c_str(), reason.c_str()), true);
    const bool conflict = state == "40001" || state == "40P01";
    throw StoreError(where_ + ": " + reason, false, conflict);
  }

  const PostgresClient& pq_;
  std::string where_;
  std::string password_;
  PGconn* connection_ = nullptr;
};

}  // namespace

std::string DescribePostgres(const std::string& connectionString) {
  const PostgresClient& pq = LoadPostgresClient();
  char* error = nullptr;
  std::unique_ptr<PQconninfoOption, OptionsFree> options(pq.conninfoParse(connectionString.c_str(), &error));
  pq.freemem(error);
  if (!options) return Tx("the PostgreSQL database (its connection string cannot be read)");
  std::string shown;
  for (const PQconninfoOption* option = options.get(); option->keyword; ++option) {
    const std::string_view keyword = option->keyword;
    if (!option->val || !*option->val) continue;
    if (keyword == "host" || keyword == "hostaddr" || keyword == "port" || keyword == "dbname" ||
        keyword == "user" || keyword == "service") {
      if (!shown.empty()) shown += ' ';
      shown.append(keyword).append("=").append(option->val);
    }
  }
  return velkor::FormatText(Tx("the PostgreSQL database (%s)"), shown.empty() ? Tx("libpq's defaults") : shown.c_str());
}

std::unique_ptr<SqlConnection> OpenPostgres(const std::string& connectionString) {
  return std::make_unique<PostgresConnection>(connectionString);
}

}  // namespace velkor::store
