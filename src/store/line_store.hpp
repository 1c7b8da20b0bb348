// The production line's store: serial-number pools that the stations of a
// line draw from without ever handing out a number twice, the record of
// every chip, and the sessions (each run of a job at a station), all in one
// database. An SQLite file serves one station (its programs share the
// file); a PostgreSQL database serves several stations.
// Nothing outside this folder sees SQL.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velkor::store {

using Clock = std::chrono::system_clock;

// What becomes of the number of a chip that failed.
enum class FailedNumbers {
  Void,   // never issued again
  Reuse,  // issued again, lowest first, before any fresh number
};

enum class NumberState {
  Reserved,  // handed to a programmer, its chip not finished yet
  Used,      // on a good chip
  Failed,    // the chip failed; the number waits to be issued again (Reuse)
  Voided,    // the chip failed; the number is never issued again (Void)
};

// "reserved", "used", "failed", "voided"; "void", "reuse".
const char* NumberStateName(NumberState state);
const char* FailedNumbersName(FailedNumbers policy);

// A pool hands out first, first + step, ... up to last at most. The
// numbers are stored as signed 64-bit integers by both engines, so last may
// not exceed 2^63 - 1.
struct PoolSpec {
  std::string name;  // letters, digits, '-', '_', '.'; 1 to 64 of them
  uint64_t first = 0;
  uint64_t step = 1;
  uint64_t last = 0;
  std::string format;  // how a chip gets its number; kept as given
  FailedNumbers failed = FailedNumbers::Void;
};

// An empty string, or why the pool cannot be made.
std::string ValidatePoolSpec(const PoolSpec& spec);

struct PoolInfo {
  PoolSpec spec;
  uint64_t reserved = 0;  // numbers in each state
  uint64_t used = 0;
  uint64_t failed = 0;
  uint64_t voided = 0;
  uint64_t freshLeft = 0;             // numbers never issued yet
  std::optional<uint64_t> nextFresh;  // the next of them, none when used up
};

struct Reservation {
  int64_t id = 0;  // never repeats, even when a failed number is issued again
  std::string pool;
  uint64_t number = 0;
};

// A number that was issued, with its latest reservation.
struct PoolNumber {
  uint64_t number = 0;
  NumberState state = NumberState::Reserved;
  int64_t reservation = 0;
  std::string station;
  std::string programmer;
  Clock::time_point reserved;
  std::optional<Clock::time_point> finished;
  uint64_t timesIssued = 0;  // more than one only for numbers issued again
};

// One chip's record. Times are kept to the millisecond.
struct StoredRecord {
  Clock::time_point time;
  std::string station;
  int programmer = 0;
  std::string programmerId;
  std::string chip;
  std::string operation;
  std::string result;  // "ok", "failed", "timeout" or "stopped"
  int code = 0;
  std::string text;
  uint16_t acc = 0;
  uint16_t crc = 0;
  std::string imageSha256;  // may be empty
  std::optional<uint64_t> serialNumber;
  std::optional<std::string> pool;
  std::chrono::milliseconds duration{0};
  // Kept since the second version of the tables; a record made before has
  // none of them.
  std::string imageFile;  // the file the image came from; may be empty
  std::optional<std::array<uint8_t, 2>> chipId;
  std::string jobId;  // may be empty
  std::string adapterSerial;  // the programmer's USB adapter's serial number; may be empty
  std::optional<uint64_t> differences;  // bytes that differ, when read back
  std::optional<uint32_t> firstDifference;
  // Kept since the third version of the tables; empty in the records made
  // before.
  std::string serialText;  // a serial value of other bytes than a number (a MAC address, a generator's hex)
  std::string lockedJob;   // the locked job's file the chip's job came from; may be empty
  std::string jobLock;     // its lock, "hmac-sha256-passphrase 3f9a..."; may be empty

  bool operator==(const StoredRecord&) const = default;
};

// A programmer that takes part in a session.
struct SessionProgrammer {
  int programmer = 0;          // 1 or 2 (or base + 1/2 with several window instances)
  std::string programmerId;    // the programmer's identification text
  std::string firmware;        // its firmware version
  std::string adapterSerial;   // the USB adapter's serial number; may be empty
  bool operator==(const SessionProgrammer&) const = default;
};

// One run of a job at a station: from when the job starts being run until
// it stops. Times are kept to the millisecond.
struct StoredSession {
  int64_t id = 0;              // given by BeginSession
  std::string station;
  std::string programVersion;
  std::string jobId;           // may be empty
  std::string chip;
  std::string imageSha256;     // may be empty
  std::string lockedJob;       // may be empty (a job that is not locked)
  std::string jobLock;         // may be empty
  Clock::time_point started;
  std::optional<Clock::time_point> ended;   // none while it runs (or when its program went away)
  std::vector<SessionProgrammer> programmers;  // in the order given
  uint64_t good = 0;
  uint64_t failed = 0;
  bool operator==(const StoredSession&) const = default;
};

// text as the store can keep it: every byte that is not part of
// well-formed UTF-8, and every NUL, becomes U+FFFD.
std::string StorableText(std::string_view text);

// A call's outcome: a value, or why there is none. unreachable tells a
// database that could not be reached (connection lost, server down, file
// locked by another program for too long) from a refusal: the caller may
// keep its record locally and try again later. A change whose connection
// was lost while it was being committed may or may not have been made; a
// reservation made so shows up as Reserved and waits for Release.
template <class T>
struct StoreResult {
  std::optional<T> value;
  std::string error;
  bool unreachable = false;

  explicit operator bool() const { return value.has_value(); }
  const T& operator*() const { return *value; }
  const T* operator->() const { return &*value; }
};

struct Done {};

// One object serves one thread at a time (calls are serialised inside);
// programs and threads that want to work in parallel open their own.
class LineStore {
 public:
  virtual ~LineStore() = default;

  // Where the store is, fit to show: a path, or the connection's host,
  // port, database and user (never its password).
  virtual std::string Where() const = 0;

  // Refuses an invalid pool (see ValidatePoolSpec) and a name already taken.
  virtual StoreResult<Done> CreatePool(const PoolSpec& spec) = 0;
  // An empty optional when there is no such pool.
  virtual StoreResult<std::optional<PoolInfo>> Pool(const std::string& name) = 0;
  // Every pool, in the order they were made.
  virtual StoreResult<std::vector<PoolInfo>> Pools() = 0;
  // The pool's issued numbers, in order, all or only those in one state.
  virtual StoreResult<std::vector<PoolNumber>> PoolNumbers(const std::string& pool,
                                                           std::optional<NumberState> only = std::nullopt) = 0;

  // Takes the pool's next number for a chip: with the Reuse policy the
  // lowest Failed number first, otherwise the next fresh one. Never the
  // same number to two callers, whichever program or station they are in.
  virtual StoreResult<Reservation> Reserve(const std::string& pool, const std::string& station,
                                           const std::string& programmer) = 0;
  // The chip of a reservation is done: its number becomes Used, or when
  // the chip failed, Failed or Voided by the pool's policy (the state is
  // returned). A reservation ends once: a second Finish, or one after
  // Release, is refused.
  virtual StoreResult<NumberState> Finish(int64_t reservation, bool chipGood) = 0;
  // An operator ends a reservation whose program went away before
  // finishing it: the number is treated as a failed chip's.
  virtual StoreResult<NumberState> Release(int64_t reservation) = 0;

  virtual StoreResult<Done> AddRecord(const StoredRecord& record) = 0;
  // Records made at since or later, oldest first, at most limit of them.
  virtual StoreResult<std::vector<StoredRecord>> Records(Clock::time_point since,
                                                         std::optional<std::size_t> limit = std::nullopt) = 0;

  // A session begins: its id (never repeats). The counts given are stored
  // as they are (and an end, when one is given); session.id is not used.
  // Its texts are kept as StorableText makes them: a programmer's own bytes
  // never keep a session out.
  virtual StoreResult<int64_t> BeginSession(const StoredSession& session) = 0;
  // The session ends with its final counts; ending an unknown or already
  // ended session is refused.
  virtual StoreResult<Done> EndSession(int64_t id, Clock::time_point ended, uint64_t good, uint64_t failed) = 0;
  // Sessions begun at since or later, oldest first, with their programmers.
  virtual StoreResult<std::vector<StoredSession>> Sessions(Clock::time_point since) = 0;
};

// $XDG_DATA_HOME/velkor350qn/line.db, or ~/.local/share/velkor350qn/line.db.
std::filesystem::path DefaultStorePath();

// Whether where names a PostgreSQL database (a postgresql:// or
// postgres:// URI, or a libpq connection string with host= or dbname=)
// rather than an SQLite file.
bool IsPostgresAddress(const std::string& where);

// Opens the store at where (empty: DefaultStorePath()), creating the SQLite
// file and its folders, and the tables, as needed, and bringing an older
// database up to this program's form. nullptr with error set when it
// cannot be opened; *unreachable then tells a database that could not be
// reached from one that was refused.
std::unique_ptr<LineStore> OpenLineStore(const std::string& where, std::string& error, bool* unreachable = nullptr);

}  // namespace velkor::store
