#include "store/line_store.hpp"

#include <pwd.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <limits>
#include <map>
#include <mutex>
#include <system_error>

#include "app/trace_record.hpp"
#include "data/text_format.hpp"
#include "store/sql_connection.hpp"
#include "text/text_table.hpp"

namespace velkor::store {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kLargestNumber = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
constexpr int kAttempts = 3;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

int64_t ToMs(Clock::time_point time) {
  return std::chrono::floor<std::chrono::milliseconds>(time).time_since_epoch().count();
}

Clock::time_point FromMs(int64_t ms) { return Clock::time_point(std::chrono::milliseconds(ms)); }

int64_t ToInt(const std::optional<std::string>& text) {
  int64_t value = 0;
  if (!text) throw StoreError(Tx("the database holds an empty value where a number belongs"));
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (error != std::errc() || end != text->data() + text->size()) {
    throw StoreError(velkor::FormatText(Tx("the database holds \"%s\" where a number belongs"), text->c_str()));
  }
  return value;
}

std::string Text(const std::optional<std::string>& text) { return text.value_or(std::string()); }

// The length of the well-formed UTF-8 sequence at text[i] other than NUL;
// 0 when there is none.
std::size_t SequenceLength(std::string_view text, std::size_t i) {
  const auto byte = static_cast<unsigned char>(text[i]);
  if (byte == 0) return 0;
  if (byte < 0x80) return 1;
  // The sequence's length, its first bits, and the least code point that
  // needs that length (a longer form of a smaller one is refused).
  std::size_t length = 0;
  uint32_t point = 0;
  uint32_t least = 0;
  if ((byte & 0xE0) == 0xC0) {
    length = 2;
    point = byte & 0x1F;
    least = 0x80;
  } else if ((byte & 0xF0) == 0xE0) {
    length = 3;
    point = byte & 0x0F;
    least = 0x800;
  } else if ((byte & 0xF8) == 0xF0) {
    length = 4;
    point = byte & 0x07;
    least = 0x10000;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    point = (point << 6) | (next & 0x3F);
  }
  if (point < least || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return 0;
  return length;
}

// Well-formed UTF-8 without NUL: PostgreSQL refuses anything else and
// libpq would cut a text at its first NUL, so both engines refuse alike.
bool IsStorableText(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = SequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

void CheckText(const char* what, std::string_view text) {
  if (!IsStorableText(text))
    throw StoreError(velkor::FormatText(Tx("the %s is not UTF-8 text without NUL characters"), Tx(what)));
}

std::optional<NumberState> StateNamed(std::string_view name) {
  for (NumberState state : {NumberState::Reserved, NumberState::Used, NumberState::Failed, NumberState::Voided}) {
    if (name == NumberStateName(state)) return state;
  }
  return std::nullopt;
}

NumberState StateOf(const std::optional<std::string>& text) {
  const auto state = text ? StateNamed(*text) : std::nullopt;
  if (!state)
    throw StoreError(velkor::FormatText(Tx("the database holds an unknown number state \"%s\""), Text(text).c_str()));
  return *state;
}

FailedNumbers PolicyOf(const std::optional<std::string>& text) {
  if (text && *text == FailedNumbersName(FailedNumbers::Reuse)) return FailedNumbers::Reuse;
  if (text && *text == FailedNumbersName(FailedNumbers::Void)) return FailedNumbers::Void;
  throw StoreError(
      velkor::FormatText(Tx("the database holds an unknown failed-number policy \"%s\""), Text(text).c_str()));
}

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

// Nothing rather than an empty text: the same as in the rows made before a
// column was kept, so a report asks "IS NULL" alone.
SqlValue TextOrNull(const std::string& text) { return text.empty() ? SqlValue(nullptr) : SqlValue(text); }

// Both engines keep signed 64-bit integers.
void CheckCount(const char* what, std::optional<uint64_t> number) {
  if (number && *number > kLargestNumber) {
    throw StoreError(velkor::FormatText(Tx("the %s %s is beyond the largest %s the store keeps"), Tx(what),
                                        std::to_string(*number).c_str(), std::to_string(kLargestNumber).c_str()));
  }
}

std::array<uint8_t, 2> ChipIdOf(const std::string& text) {
  const auto id = ParseChipIdText(text);
  if (!id) throw StoreError("the database holds \"" + text + "\" where a chip's ID belongs");
  return *id;
}

// The session with every text as the store can keep it.
StoredSession StorableSession(StoredSession session) {
  for (std::string* text : {&session.station, &session.programVersion, &session.jobId, &session.chip,
                            &session.imageSha256, &session.lockedJob, &session.jobLock})
    *text = StorableText(*text);
  for (SessionProgrammer& p : session.programmers) {
    for (std::string* text : {&p.programmerId, &p.firmware, &p.adapterSerial}) *text = StorableText(*text);
  }
  return session;
}

// The counts go with the pool's row: one statement, one consistent view.
constexpr const char* kPoolColumns = R"(
SELECT p.name, p.first_number, p.step, p.last_number, p.format, p.failed_numbers, p.issued,
       COALESCE(SUM(CASE WHEN n.state = 'reserved' THEN 1 ELSE 0 END), 0),
       COALESCE(SUM(CASE WHEN n.state = 'used' THEN 1 ELSE 0 END), 0),
       COALESCE(SUM(CASE WHEN n.state = 'failed' THEN 1 ELSE 0 END), 0),
       COALESCE(SUM(CASE WHEN n.state = 'voided' THEN 1 ELSE 0 END), 0)
FROM pools p LEFT JOIN numbers n ON n.pool_id = p.id
)";

PoolInfo PoolFrom(const SqlRow& row) {
  PoolInfo info;
  info.spec.name = Text(row[0]);
  info.spec.first = static_cast<uint64_t>(ToInt(row[1]));
  info.spec.step = static_cast<uint64_t>(ToInt(row[2]));
  info.spec.last = static_cast<uint64_t>(ToInt(row[3]));
  info.spec.format = Text(row[4]);
  info.spec.failed = PolicyOf(row[5]);
  const auto issued = static_cast<uint64_t>(ToInt(row[6]));
  info.reserved = static_cast<uint64_t>(ToInt(row[7]));
  info.used = static_cast<uint64_t>(ToInt(row[8]));
  info.failed = static_cast<uint64_t>(ToInt(row[9]));
  info.voided = static_cast<uint64_t>(ToInt(row[10]));
  const uint64_t lastIndex = (info.spec.last - info.spec.first) / info.spec.step;
  if (issued <= lastIndex) {
    info.freshLeft = lastIndex - issued + 1;
    info.nextFresh = info.spec.first + issued * info.spec.step;
  }
  return info;
}

class SqlLineStore final : public LineStore {
 public:
  explicit SqlLineStore(std::unique_ptr<SqlConnection> db) : db_(std::move(db)) {}

  std::string Where() const override { return db_->Where(); }

  StoreResult<Done> CreatePool(const PoolSpec& spec) override {
    if (std::string why = ValidatePoolSpec(spec); !why.empty()) return {std::nullopt, why};
    return Guarded<Done>(Access::Write, [&] {
      const SqlRows made = db_->Run(
          "INSERT INTO pools (name, first_number, step, last_number, format, failed_numbers, created_ms) "
          "VALUES ($1, $2, $3, $4, $5, $6, $7) ON CONFLICT (name) DO NOTHING RETURNING id",
          {spec.name, static_cast<int64_t>(spec.first), static_cast<int64_t>(spec.step),
           static_cast<int64_t>(spec.last), spec.format, std::string(FailedNumbersName(spec.failed)), NowMs()});
      if (made.empty())
        throw StoreError(velkor::FormatText(Tx("a pool named %s already exists"), Quoted(spec.name).c_str()));
      return Done{};
    });
  }

  StoreResult<std::optional<PoolInfo>> Pool(const std::string& name) override {
    return Guarded<std::optional<PoolInfo>>(Access::None, [&]() -> std::optional<PoolInfo> {
      const SqlRows rows = db_->Run(std::string(kPoolColumns) + "WHERE p.name = $1 GROUP BY p.id", {name});
      if (rows.empty()) return std::nullopt;
      return PoolFrom(rows[0]);
    });
  }

  StoreResult<std::vector<PoolInfo>> Pools() override {
    return Guarded<std::vector<PoolInfo>>(Access::None, [&] {
      std::vector<PoolInfo> pools;
      for (const SqlRow& row : db_->Run(std::string(kPoolColumns) + "GROUP BY p.id ORDER BY p.id", {})) {
        pools.push_back(PoolFrom(row));
      }
      return pools;
    });
  }

  StoreResult<std::vector<PoolNumber>> PoolNumbers(const std::string& pool, std::optional<NumberState> only) override {
    return Guarded<std::vector<PoolNumber>>(Access::Read, [&] {
      const int64_t poolId = PoolId(pool);
      std::string sql =
          "SELECT n.number, n.state, n.reservation_id, r.station, r.programmer, r.reserved_ms, r.finished_ms, "
          "n.issued_count FROM numbers n JOIN reservations r ON r.id = n.reservation_id WHERE n.pool_id = $1";
      std::vector<SqlValue> params{poolId};
      if (only) {
        sql += " AND n.state = $2";
        params.emplace_back(std::string(NumberStateName(*only)));
      }
      sql += " ORDER BY n.number";
      std::vector<PoolNumber> numbers;
      for (const SqlRow& row : db_->Run(sql, params)) {
        PoolNumber number;
        number.number = static_cast<uint64_t>(ToInt(row[0]));
        number.state = StateOf(row[1]);
        number.reservation = ToInt(row[2]);
        number.station = Text(row[3]);
        number.programmer = Text(row[4]);
        number.reserved = FromMs(ToInt(row[5]));
        if (row[6]) number.finished = FromMs(ToInt(row[6]));
        number.timesIssued = static_cast<uint64_t>(ToInt(row[7]));
        numbers.push_back(std::move(number));
      }
      return numbers;
    });
  }

  // One transaction takes the number and marks it Reserved, so a number
  // is either issued and visible or not issued at all.
  //
  // SQLite: BEGIN IMMEDIATE holds the file's write lock for the whole
  // transaction, so the statements below run as if alone.
  //
  // PostgreSQL (READ COMMITTED): a fresh number comes from one UPDATE of
  // the pool's counter. The row lock it takes makes a second station's
  // UPDATE wait, and when the first commits the waiting one re-reads the
  // row and counts on from the new value, so no two stations ever get the
  // same count, and no station has to retry. A failed number to issue
  // again is picked with FOR UPDATE SKIP LOCKED: a row another station has
  // just locked is passed over instead of waited for, and a row that
  // station has already changed is re-checked against "state = 'failed'"
  // before it is taken, so each failed number goes to one station only.
  // Serialisable transactions would be as correct but would make stations
  // retry whenever they collide on the counter, which on a busy line is
  // every time.
  StoreResult<Reservation> Reserve(const std::string& pool, const std::string& station,
                                   const std::string& programmer) override {
    return Guarded<Reservation>(Access::Write, [&] {
      CheckText(TextKey("station"), station);
      CheckText(TextKey("programmer"), programmer);
      const SqlRows found =
          db_->Run("SELECT id, failed_numbers, first_number, step, last_number FROM pools WHERE name = $1", {pool});
      if (found.empty()) throw StoreError("there is no pool named " + Quoted(pool));
      const int64_t poolId = ToInt(found[0][0]);
      std::optional<int64_t> number;
      if (PolicyOf(found[0][1]) == FailedNumbers::Reuse) {
        const SqlRows failed = db_->Run(
            std::string("SELECT number FROM numbers WHERE pool_id = $1 AND state = 'failed' ORDER BY number LIMIT 1") +
                (db_->Kind() == Dialect::Postgres ? " FOR UPDATE SKIP LOCKED" : ""),
            {poolId});
        if (!failed.empty()) number = ToInt(failed[0][0]);
      }
      const bool fresh = !number;
      if (fresh) {
        const SqlRows taken = db_->Run(
            "UPDATE pools SET issued = issued + 1 "
            "WHERE id = $1 AND issued <= (last_number - first_number) / step "
            "RETURNING first_number + (issued - 1) * step",
            {poolId});
        if (taken.empty()) {
          const int64_t first = ToInt(found[0][2]);
          const int64_t step = ToInt(found[0][3]);
          const int64_t lastIssued = first + (ToInt(found[0][4]) - first) / step * step;
          throw StoreError("pool " + Quoted(pool) + " is used up: its last number " + std::to_string(lastIssued) +
                           " was issued");
        }
        number = ToInt(taken[0][0]);
      }
      const SqlRows reserved = db_->Run(
          "INSERT INTO reservations (pool_id, number, station, programmer, reserved_ms) "
          "VALUES ($1, $2, $3, $4, $5) RETURNING id",
          {poolId, *number, station, programmer, NowMs()});
      const int64_t id = ToInt(reserved.at(0).at(0));
      if (fresh) {
        db_->Run(
            "INSERT INTO numbers (pool_id, number, state, reservation_id, issued_count) "
            "VALUES ($1, $2, 'reserved', $3, 1)",
            {poolId, *number, id});
      } else {
        db_->Run(
            "UPDATE numbers SET state = 'reserved', reservation_id = $3, issued_count = issued_count + 1 "
            "WHERE pool_id = $1 AND number = $2",
            {poolId, *number, id});
      }
      return Reservation{id, pool, static_cast<uint64_t>(*number)};
    });
  }

  StoreResult<NumberState> Finish(int64_t reservation, bool chipGood) override {
    return End(reservation, chipGood, "finish");
  }

  StoreResult<NumberState> Release(int64_t reservation) override { return End(reservation, false, "release"); }

  StoreResult<Done> AddRecord(const StoredRecord& record) override {
    return Guarded<Done>(Access::Write, [&] {
      if (record.result != "ok" && record.result != "failed" && record.result != "timeout" &&
          record.result != "stopped") {
        throw StoreError(
            velkor::FormatText(Tx("a record's result is \"ok\", \"failed\", \"timeout\" or \"stopped\", not %s"),
                               Quoted(record.result).c_str()));
      }
      CheckText(TextKey("station"), record.station);
      CheckText(TextKey("programmer's identification"), record.programmerId);
      CheckText(TextKey("chip"), record.chip);
      CheckText(TextKey("operation"), record.operation);
      CheckText(TextKey("record's text"), record.text);
      CheckText(TextKey("image's SHA-256"), record.imageSha256);
      if (record.pool) CheckText(TextKey("pool"), *record.pool);
      CheckText(TextKey("image file"), record.imageFile);
      CheckText(TextKey("job id"), record.jobId);
      CheckText(TextKey("adapter's serial number"), record.adapterSerial);
      CheckText(TextKey("serial value"), record.serialText);
      CheckText(TextKey("locked job"), record.lockedJob);
      CheckText(TextKey("job's lock"), record.jobLock);
      CheckCount(TextKey("serial number"), record.serialNumber);
      CheckCount(TextKey("count of differences"), record.differences);
      db_->Run(
          "INSERT INTO records (time_ms, station, programmer, programmer_id, chip, operation, result, code, text, "
          "acc, crc, image_sha256, serial_number, pool, duration_ms, image_file, chip_id, job_id, first_difference, "
          "differences, adapter_serial, serial_text, locked_job, job_lock) "
          "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16, $17, $18, $19, $20, $21, "
          "$22, $23, $24)",
          {ToMs(record.time), record.station, static_cast<int64_t>(record.programmer), record.programmerId,
           record.chip, record.operation, record.result, static_cast<int64_t>(record.code), record.text,
           static_cast<int64_t>(record.acc), static_cast<int64_t>(record.crc), record.imageSha256,
           record.serialNumber ? SqlValue(static_cast<int64_t>(*record.serialNumber)) : SqlValue(nullptr),
           record.pool ? SqlValue(*record.pool) : SqlValue(nullptr), static_cast<int64_t>(record.duration.count()),
           TextOrNull(record.imageFile), record.chipId ? SqlValue(ChipIdText(*record.chipId)) : SqlValue(nullptr),
           TextOrNull(record.jobId),
           record.firstDifference ? SqlValue(static_cast<int64_t>(*record.firstDifference)) : SqlValue(nullptr),
           record.differences ? SqlValue(static_cast<int64_t>(*record.differences)) : SqlValue(nullptr),
           TextOrNull(record.adapterSerial), TextOrNull(record.serialText), TextOrNull(record.lockedJob),
           TextOrNull(record.jobLock)});
      return Done{};
    });
  }

  StoreResult<std::vector<StoredRecord>> Records(Clock::time_point since, std::optional<std::size_t> limit) override {
    return Guarded<std::vector<StoredRecord>>(Access::None, [&] {
      std::string sql =
          "SELECT time_ms, station, programmer, programmer_id, chip, operation, result, code, text, acc, crc, "
          "image_sha256, serial_number, pool, duration_ms, image_file, chip_id, job_id, first_difference, "
          "differences, adapter_serial, serial_text, locked_job, job_lock FROM records WHERE time_ms >= $1 "
          "ORDER BY time_ms, id";
      std::vector<SqlValue> params{ToMs(since)};
      if (limit) {
        sql += " LIMIT $2";
        params.emplace_back(static_cast<int64_t>(std::min<std::size_t>(*limit, kLargestNumber)));
      }
      std::vector<StoredRecord> records;
      for (const SqlRow& row : db_->Run(sql, params)) {
        StoredRecord record;
        record.time = FromMs(ToInt(row[0]));
        record.station = Text(row[1]);
        record.programmer = static_cast<int>(ToInt(row[2]));
        record.programmerId = Text(row[3]);
        record.chip = Text(row[4]);
        record.operation = Text(row[5]);
        record.result = Text(row[6]);
        record.code = static_cast<int>(ToInt(row[7]));
        record.text = Text(row[8]);
        record.acc = static_cast<uint16_t>(ToInt(row[9]));
        record.crc = static_cast<uint16_t>(ToInt(row[10]));
        record.imageSha256 = Text(row[11]);
        if (row[12]) record.serialNumber = static_cast<uint64_t>(ToInt(row[12]));
        record.pool = row[13];
        record.duration = std::chrono::milliseconds(ToInt(row[14]));
        record.imageFile = Text(row[15]);
        if (row[16]) record.chipId = ChipIdOf(*row[16]);
        record.jobId = Text(row[17]);
        if (row[18]) record.firstDifference = static_cast<uint32_t>(ToInt(row[18]));
        if (row[19]) record.differences = static_cast<uint64_t>(ToInt(row[19]));
        record.adapterSerial = Text(row[20]);
        record.serialText = Text(row[21]);
        record.lockedJob = Text(row[22]);
        record.jobLock = Text(row[23]);
        records.push_back(std::move(record));
      }
      return records;
    });
  }

  // The session and its programmers go in together, or not at all.
  StoreResult<int64_t> BeginSession(const StoredSession& given) override {
    const StoredSession session = StorableSession(given);
    return Guarded<int64_t>(Access::Write, [&] {
      CheckCount(TextKey("count of good chips"), session.good);
      CheckCount(TextKey("count of failed chips"), session.failed);
      const SqlRows made = db_->Run(
          "INSERT INTO sessions (station, program_version, job_id, chip, image_sha256, locked_job, job_lock, "
          "started_ms, ended_ms, good, failed) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11) RETURNING id",
          {session.station, session.programVersion, TextOrNull(session.jobId), session.chip,
           TextOrNull(session.imageSha256), TextOrNull(session.lockedJob), TextOrNull(session.jobLock),
           ToMs(session.started), session.ended ? SqlValue(ToMs(*session.ended)) : SqlValue(nullptr),
           static_cast<int64_t>(session.good), static_cast<int64_t>(session.failed)});
      const int64_t id = ToInt(made.at(0).at(0));
      for (std::size_t position = 0; position < session.programmers.size(); ++position) {
        const SessionProgrammer& p = session.programmers[position];
        db_->Run(
            "INSERT INTO session_programmers (session_id, position, programmer, programmer_id, firmware, "
            "adapter_serial) VALUES ($1, $2, $3, $4, $5, $6)",
            {id, static_cast<int64_t>(position), static_cast<int64_t>(p.programmer), p.programmerId, p.firmware,
             TextOrNull(p.adapterSerial)});
      }
      return id;
    });
  }

  StoreResult<Done> EndSession(int64_t id, Clock::time_point ended, uint64_t good, uint64_t failed) override {
    return Guarded<Done>(Access::Write, [&] {
      CheckCount(TextKey("count of good chips"), good);
      CheckCount(TextKey("count of failed chips"), failed);
      // One statement that only ends a running session: of two ends at
      // once, the second waits for the first's row lock and then finds the
      // session ended.
      const SqlRows changed = db_->Run(
          "UPDATE sessions SET ended_ms = $2, good = $3, failed = $4 WHERE id = $1 AND ended_ms IS NULL RETURNING id",
          {id, ToMs(ended), static_cast<int64_t>(good), static_cast<int64_t>(failed)});
      if (!changed.empty()) return Done{};
      const bool known = !db_->Run("SELECT id FROM sessions WHERE id = $1", {id}).empty();
      throw StoreError(velkor::FormatText(known ? Tx("session %s has ended already") : Tx("there is no session %s"),
                                          std::to_string(id).c_str()));
    });
  }

  StoreResult<std::vector<StoredSession>> Sessions(Clock::time_point since) override {
    return Guarded<std::vector<StoredSession>>(Access::Read, [&] {
      std::vector<StoredSession> sessions;
      std::map<int64_t, std::size_t> indexOf;
      for (const SqlRow& row : db_->Run(
               "SELECT id, station, program_version, job_id, chip, image_sha256, locked_job, job_lock, started_ms, "
               "ended_ms, good, failed FROM sessions WHERE started_ms >= $1 ORDER BY started_ms, id",
               {ToMs(since)})) {
        StoredSession session;
        session.id = ToInt(row[0]);
        session.station = Text(row[1]);
        session.programVersion = Text(row[2]);
        session.jobId = Text(row[3]);
        session.chip = Text(row[4]);
        session.imageSha256 = Text(row[5]);
        session.lockedJob = Text(row[6]);
        session.jobLock = Text(row[7]);
        session.started = FromMs(ToInt(row[8]));
        if (row[9]) session.ended = FromMs(ToInt(row[9]));
        session.good = static_cast<uint64_t>(ToInt(row[10]));
        session.failed = static_cast<uint64_t>(ToInt(row[11]));
        indexOf[session.id] = sessions.size();
        sessions.push_back(std::move(session));
      }
      for (const SqlRow& row : db_->Run(
               "SELECT p.session_id, p.programmer, p.programmer_id, p.firmware, p.adapter_serial "
               "FROM session_programmers p JOIN sessions s ON s.id = p.session_id WHERE s.started_ms >= $1 "
               "ORDER BY p.session_id, p.position",
               {ToMs(since)})) {
        SessionProgrammer p;
        p.programmer = static_cast<int>(ToInt(row[1]));
        p.programmerId = Text(row[2]);
        p.firmware = Text(row[3]);
        p.adapterSerial = Text(row[4]);
        sessions.at(indexOf.at(ToInt(row[0]))).programmers.push_back(std::move(p));
      }
      return sessions;
    });
  }

 private:
  enum class Access { None, Read, Write };

  // Runs body in a transaction (or none, for one statement that only
  // reads) and turns every failure into the result's error. A transaction
  // the engine gave up on because of another one is run again.
  template <class T, class Body>
  StoreResult<T> Guarded(Access access, Body&& body) {
    std::lock_guard lock(mutex_);
    for (int attempt = 1;; ++attempt) {
      try {
        db_->Connect();
        if (access == Access::Write) db_->BeginWrite();
        if (access == Access::Read) db_->BeginRead();
        T value = body();
        if (access != Access::None) db_->Commit();
        return {std::move(value), {}, false};
      } catch (const StoreError& failure) {
        db_->RollbackQuietly();
        if (failure.conflict && attempt < kAttempts) continue;
        return {std::nullopt, failure.what(), failure.unreachable};
      } catch (const std::exception& failure) {
        db_->RollbackQuietly();
        return {std::nullopt, db_->Where() + ": " + failure.what(), false};
      }
    }
  }

  int64_t PoolId(const std::string& pool) {
    const SqlRows found = db_->Run("SELECT id FROM pools WHERE name = $1", {pool});
    if (found.empty()) throw StoreError("there is no pool named " + Quoted(pool));
    return ToInt(found[0][0]);
  }

  StoreResult<NumberState> End(int64_t reservation, bool chipGood, const char* how) {
    return Guarded<NumberState>(Access::Write, [&] {
      // The reservation's row lock makes a Finish and a Release of the same
      // reservation at the same time end it once: the second one waits and
      // then sees it ended.
      const SqlRows found = db_->Run(
          std::string("SELECT r.pool_id, r.number, r.outcome, r.ended_by, p.name, p.failed_numbers "
                      "FROM reservations r JOIN pools p ON p.id = r.pool_id WHERE r.id = $1") +
              (db_->Kind() == Dialect::Postgres ? " FOR NO KEY UPDATE OF r" : ""),
          {reservation});
      if (found.empty())
        throw StoreError(velkor::FormatText(Tx("there is no reservation %s"), std::to_string(reservation).c_str()));
      const SqlRow& row = found[0];
      const std::string which =
          velkor::FormatText(Tx("reservation %s (number %s of pool %s)"), std::to_string(reservation).c_str(),
                             Text(row[1]).c_str(), Quoted(Text(row[4])).c_str());
      if (row[2]) {
        throw StoreError(velkor::FormatText(Text(row[3]) == "release"
                                                ? Tx("%s was released by an operator already: the number is %s")
                                                : Tx("%s was finished already: the number is %s"),
                                            which.c_str(), Text(row[2]).c_str()));
      }
      const NumberState state = chipGood                                         ? NumberState::Used
                                : PolicyOf(row[5]) == FailedNumbers::Reuse ? NumberState::Failed
                                                                                 : NumberState::Voided;
      const std::string stateName = NumberStateName(state);
      db_->Run("UPDATE reservations SET outcome = $2, ended_by = $3, finished_ms = $4 WHERE id = $1",
               {reservation, stateName, std::string(how), NowMs()});
      const SqlRows changed = db_->Run(
          "UPDATE numbers SET state = $3 WHERE pool_id = $1 AND number = $2 AND reservation_id = $4 RETURNING number",
          {ToInt(row[0]), ToInt(row[1]), stateName, reservation});
      if (changed.empty())
        throw StoreError(velkor::FormatText(Tx("%s no longer holds its number; nothing was changed"), which.c_str()));
      return state;
    });
  }

  std::mutex mutex_;
  std::unique_ptr<SqlConnection> db_;
};

bool ValidPoolNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
         c == '.';
}

}  // namespace

const char* NumberStateName(NumberState state) {
  switch (state) {
    case NumberState::Reserved:
      return "reserved";
    case NumberState::Used:
      return "used";
    case NumberState::Failed:
      return "failed";
    case NumberState::Voided:
      return "voided";
  }
  return "?";
}

std::string StorableText(std::string_view text) {
  std::string kept;
  kept.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = SequenceLength(text, i);
    if (length == 0) {
      kept += "\xEF\xBF\xBD";
      ++i;
    } else {
      kept.append(text.substr(i, length));
      i += length;
    }
  }
  return kept;
}

const char* FailedNumbersName(FailedNumbers policy) { return policy == FailedNumbers::Reuse ? "reuse" : "void"; }

std::string ValidatePoolSpec(const PoolSpec& spec) {
  if (spec.name.empty()) return Tx("a pool needs a name");
  if (spec.name.size() > 64)
    return velkor::FormatText(Tx("the pool name %s is longer than 64 characters"), Quoted(spec.name).c_str());
  for (char c : spec.name) {
    if (!ValidPoolNameCharacter(c)) {
      return velkor::FormatText(Tx("the pool name %s may hold only letters, digits, '-', '_' and '.'"),
                                Quoted(spec.name).c_str());
    }
  }
  const std::string pool = Quoted(spec.name);
  if (spec.step < 1) return velkor::FormatText(Tx("pool %s: the step must be 1 or more"), pool.c_str());
  if (spec.step > kLargestNumber) {
    return velkor::FormatText(Tx("pool %s: the step %s is beyond the largest %s the store keeps"), pool.c_str(),
                              std::to_string(spec.step).c_str(), std::to_string(kLargestNumber).c_str());
  }
  if (spec.first > spec.last) {
    return velkor::FormatText(Tx("pool %s: the first number %s is beyond the last %s"), pool.c_str(),
                              std::to_string(spec.first).c_str(), std::to_string(spec.last).c_str());
  }
  if (spec.last > kLargestNumber) {
    return velkor::FormatText(Tx("pool %s: the last number %s is beyond the largest %s the store keeps"), pool.c_str(),
                              std::to_string(spec.last).c_str(), std::to_string(kLargestNumber).c_str());
  }
  if (!IsStorableText(spec.format))
    return velkor::FormatText(Tx("pool %s: the format is not UTF-8 text without NUL characters"), pool.c_str());
  return {};
}

std::filesystem::path DefaultStorePath() {
  fs::path base;
  // A relative XDG_DATA_HOME is to be ignored.
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/') {
    base = data;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
      const passwd* user = getpwuid(getuid());
      home = user && user->pw_dir ? user->pw_dir : "/";
    }
    base = fs::path(home) / ".local" / "share";
  }
  return base / "velkor350qn" / "line.db";
}

bool IsPostgresAddress(const std::string& where) {
  return where.starts_with("postgresql://") || where.starts_with("postgres://") ||
         where.find("host=") != std::string::npos || where.find("dbname=") != std::string::npos;
}

std::unique_ptr<LineStore> OpenLineStore(const std::string& where, std::string& error, bool* unreachable) {
  error.clear();
  if (unreachable) *unreachable = false;
  std::string shown;
  try {
    std::unique_ptr<SqlConnection> db;
    if (IsPostgresAddress(where)) {
      shown = DescribePostgres(where);
      db = OpenPostgres(where);
    } else {
      const fs::path path = where.empty() ? DefaultStorePath() : fs::path(where);
      shown = path.string();
      std::error_code failure;
      if (path.has_parent_path() && !fs::is_directory(path.parent_path(), failure)) {
        fs::create_directories(path.parent_path(), failure);
        if (failure) {
          throw StoreError(
              velkor::FormatText(Tx("%s cannot be opened: its folder %s cannot be made: %s"), shown.c_str(),
                                 path.parent_path().string().c_str(), failure.message().c_str()),
              true);
        }
      }
      if (fs::is_directory(path, failure))
        throw StoreError(velkor::FormatText(Tx("%s cannot be opened: it is a folder"), shown.c_str()));
      db = OpenSqlite(path.string());
    }
    MigrateSchema(*db);
    return std::make_unique<SqlLineStore>(std::move(db));
  } catch (const StoreError& failure) {
    error = failure.what();
    if (unreachable) *unreachable = failure.unreachable;
  } catch (const std::exception& failure) {
    error = velkor::FormatText(Tx(kCannotBeOpened), shown.c_str(), failure.what());
  }
  return nullptr;
}

}  // namespace velkor::store
