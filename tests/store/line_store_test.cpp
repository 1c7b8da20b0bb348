// The line store's behaviour, asked the same of the SQLite file and of the
// PostgreSQL database: pools and their refusals, numbers by policy, used-up
// pools, reservations that end once, operator releases, records, sessions,
// the schema's version, and databases that cannot be reached.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <chrono>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "store/line_store.hpp"
#include "store_location.hpp"
#include "support/files.hpp"

namespace velkor::store {
namespace {

using test::Engine;
using test::StoreLocation;
using namespace std::chrono_literals;

constexpr uint64_t kLargest = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());

PoolSpec Spec(const std::string& name, uint64_t first, uint64_t step, uint64_t last, FailedNumbers failed) {
  return PoolSpec{name, first, step, last, "addr=0x10 order=le width=4", failed};
}

class LineStoreBehaviour : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    location = std::make_unique<StoreLocation>(GetParam());
    ASSERT_FALSE(location->where.empty()) << location->error;
    store = Open();
    ASSERT_NE(store, nullptr);
  }

  std::unique_ptr<LineStore> Open() {
    std::string error;
    auto opened = OpenLineStore(location->where, error);
    EXPECT_NE(opened, nullptr) << error;
    return opened;
  }

  void MakePool(const PoolSpec& spec) {
    const auto made = store->CreatePool(spec);
    ASSERT_TRUE(made) << made.error;
  }

  Reservation Take(const std::string& pool, const std::string& station = "station-1",
                   const std::string& programmer = "programmer-A") {
    const auto taken = store->Reserve(pool, station, programmer);
    EXPECT_TRUE(taken) << taken.error;
    return taken ? *taken : Reservation{};
  }

  NumberState End(const Reservation& reservation, bool good) {
    const auto ended = store->Finish(reservation.id, good);
    EXPECT_TRUE(ended) << ended.error;
    return ended ? *ended : NumberState::Reserved;
  }

  PoolInfo Info(const std::string& name) {
    const auto info = store->Pool(name);
    EXPECT_TRUE(info && info->has_value()) << info.error;
    return info && info->has_value() ? **info : PoolInfo{};
  }

  std::vector<PoolNumber> Numbers(const std::string& pool, std::optional<NumberState> only = std::nullopt) {
    const auto numbers = store->PoolNumbers(pool, only);
    EXPECT_TRUE(numbers) << numbers.error;
    return numbers ? *numbers : std::vector<PoolNumber>{};
  }

  std::unique_ptr<StoreLocation> location;
  std::unique_ptr<LineStore> store;
};

TEST_P(LineStoreBehaviour, APoolIsMadeOnceAndKeepsWhatItWasGiven) {
  PoolSpec odd = Spec("boards.rev-B_2", 7, 3, 100, FailedNumbers::Reuse);
  odd.format = "address=0x1F00; order='big'; width=\"4\"; 序列号 \\ end";
  MakePool(odd);
  MakePool(Spec("a-later-pool", 0, 1, 9, FailedNumbers::Void));

  const PoolInfo info = Info("boards.rev-B_2");
  EXPECT_EQ(info.spec.name, odd.name);
  EXPECT_EQ(info.spec.first, 7u);
  EXPECT_EQ(info.spec.step, 3u);
  EXPECT_EQ(info.spec.last, 100u);
  EXPECT_EQ(info.spec.format, odd.format);
  EXPECT_EQ(info.spec.failed, FailedNumbers::Reuse);
  EXPECT_EQ(info.nextFresh, 7u);
  EXPECT_EQ(info.freshLeft, 32u);  // 7, 10, ..., 100
  EXPECT_EQ(info.reserved + info.used + info.failed + info.voided, 0u);

  PoolSpec again = Spec("boards.rev-B_2", 1, 1, 5, FailedNumbers::Void);
  const auto refused = store->CreatePool(again);
  EXPECT_FALSE(refused);
  EXPECT_NE(refused.error.find("\"boards.rev-B_2\" already exists"), std::string::npos) << refused.error;
  EXPECT_FALSE(refused.unreachable);
  EXPECT_EQ(Info("boards.rev-B_2").spec.first, 7u) << "the refused pool replaced the first";

  const auto pools = store->Pools();
  ASSERT_TRUE(pools) << pools.error;
  ASSERT_EQ(pools->size(), 2u);
  EXPECT_EQ((*pools)[0].spec.name, "boards.rev-B_2") << "pools are listed in the order they were made";
  EXPECT_EQ((*pools)[1].spec.name, "a-later-pool");

  const auto missing = store->Pool("no-such-pool");
  ASSERT_TRUE(missing) << missing.error;
  EXPECT_FALSE(missing->has_value());
}

TEST_P(LineStoreBehaviour, PoolsAreCheckedBeforeAnythingIsStored) {
  struct Case {
    PoolSpec spec;
    const char* refusal;  // nullptr: accepted
  };
  const std::string longest(64, 'n');
  const Case cases[] = {
      {Spec("", 1, 1, 10, FailedNumbers::Void), "needs a name"},
      {Spec("two words", 1, 1, 10, FailedNumbers::Void), "only letters, digits"},
      {Spec("slash/name", 1, 1, 10, FailedNumbers::Void), "only letters, digits"},
      {Spec("naïve", 1, 1, 10, FailedNumbers::Void), "only letters, digits"},
      {Spec(longest + "x", 1, 1, 10, FailedNumbers::Void), "longer than 64"},
      {Spec("step-zero", 1, 0, 10, FailedNumbers::Void), "step must be 1 or more"},
      {Spec("backwards", 11, 1, 10, FailedNumbers::Void), "first number 11 is beyond the last 10"},
      {Spec("too-large", 1, 1, kLargest + 1, FailedNumbers::Void), "beyond the largest 9223372036854775807"},
      {Spec("step-too-large", 1, kLargest + 1, 10, FailedNumbers::Void), "step 9223372036854775808 is beyond"},
      {Spec("widest-step", 1, kLargest, 10, FailedNumbers::Void), nullptr},
      {PoolSpec{"bad-format", 1, 1, 10, std::string("width=4\0", 8), FailedNumbers::Void}, "format is not UTF-8"},
      {PoolSpec{"bad-format-2", 1, 1, 10, "\xff\xfe", FailedNumbers::Void}, "format is not UTF-8"},
      {Spec(longest, 1, 1, 10, FailedNumbers::Void), nullptr},
      {Spec("one-number", 5, 1, 5, FailedNumbers::Void), nullptr},
      {Spec("whole-range", 0, 1, kLargest, FailedNumbers::Reuse), nullptr},
  };
  std::set<std::string> accepted;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spec.name);
    const auto made = store->CreatePool(c.spec);
    if (c.refusal) {
      EXPECT_FALSE(made);
      EXPECT_NE(made.error.find(c.refusal), std::string::npos) << made.error;
      EXPECT_EQ(ValidatePoolSpec(c.spec), made.error);
    } else {
      EXPECT_TRUE(made) << made.error;
      accepted.insert(c.spec.name);
    }
  }
  const auto pools = store->Pools();
  ASSERT_TRUE(pools) << pools.error;
  std::set<std::string> stored;
  for (const PoolInfo& pool : *pools) stored.insert(pool.spec.name);
  EXPECT_EQ(stored, accepted);

  // The ends of the widest pool come out whole.
  EXPECT_EQ(Take("whole-range").number, 0u);
  EXPECT_EQ(Info("whole-range").nextFresh, 1u);
  EXPECT_EQ(Take("one-number").number, 5u);
  EXPECT_FALSE(store->Reserve("one-number", "s", "p"));
}

TEST_P(LineStoreBehaviour, NumbersComeInStepsAndAFailedChipsNumberFollowsThePolicy) {
  struct Case {
    FailedNumbers policy;
    NumberState failedState;
    uint64_t fourthNumber;  // after 1000 used, 1010 failed, 1020 reserved
  };
  const Case cases[] = {
      {FailedNumbers::Void, NumberState::Voided, 1030},
      {FailedNumbers::Reuse, NumberState::Failed, 1010},
  };
  for (const Case& c : cases) {
    const std::string pool = std::string("serials-") + FailedNumbersName(c.policy);
    SCOPED_TRACE(pool);
    MakePool(Spec(pool, 1000, 10, 1090, c.policy));
    const Reservation first = Take(pool, "station-1", "programmer-A");
    const Reservation second = Take(pool, "station-1", "programmer-B");
    const Reservation third = Take(pool, "station-2", "programmer-A");
    EXPECT_EQ(first.pool, pool);
    EXPECT_EQ(first.number, 1000u);
    EXPECT_EQ(second.number, 1010u);
    EXPECT_EQ(third.number, 1020u);

    EXPECT_EQ(End(first, true), NumberState::Used);
    EXPECT_EQ(End(second, false), c.failedState);

    const auto numbers = Numbers(pool);
    ASSERT_EQ(numbers.size(), 3u);
    EXPECT_EQ(numbers[0].state, NumberState::Used);
    EXPECT_TRUE(numbers[0].finished.has_value());
    EXPECT_EQ(numbers[1].state, c.failedState);
    EXPECT_EQ(numbers[2].state, NumberState::Reserved);
    EXPECT_FALSE(numbers[2].finished.has_value());
    EXPECT_EQ(numbers[2].station, "station-2");
    EXPECT_EQ(numbers[2].programmer, "programmer-A");
    EXPECT_EQ(numbers[2].reservation, third.id);
    EXPECT_LE(Clock::now() - numbers[2].reserved, 60s);
    EXPECT_GE(Clock::now() - numbers[2].reserved, 0s);

    const Reservation fourth = Take(pool);
    EXPECT_EQ(fourth.number, c.fourthNumber);
    EXPECT_EQ(std::set<int64_t>({first.id, second.id, third.id, fourth.id}).size(), 4u)
        << "a reservation id came back";

    const PoolInfo info = Info(pool);
    const bool reuse = c.policy == FailedNumbers::Reuse;
    EXPECT_EQ(info.used, 1u);
    EXPECT_EQ(info.reserved, 2u);
    EXPECT_EQ(info.failed, 0u);
    EXPECT_EQ(info.voided, reuse ? 0u : 1u);
    EXPECT_EQ(info.nextFresh, reuse ? 1030u : 1040u);
    EXPECT_EQ(Numbers(pool, NumberState::Reserved).size(), 2u);
  }
}

TEST_P(LineStoreBehaviour, TheReusePolicyIssuesTheLowestFailedNumberBeforeAFreshOne) {
  MakePool(Spec("reuse", 0, 1, 100, FailedNumbers::Reuse));
  std::vector<Reservation> taken;
  for (int i = 0; i < 5; ++i) taken.push_back(Take("reuse"));
  End(taken[3], false);
  End(taken[1], false);
  End(taken[0], true);
  End(taken[2], true);
  End(taken[4], true);

  const auto failed = Numbers("reuse", NumberState::Failed);
  ASSERT_EQ(failed.size(), 2u);
  EXPECT_EQ(failed[0].number, 1u);
  EXPECT_EQ(failed[1].number, 3u);

  const Reservation again1 = Take("reuse", "station-2", "programmer-C");
  const Reservation again3 = Take("reuse");
  const Reservation fresh = Take("reuse");
  EXPECT_EQ(again1.number, 1u);
  EXPECT_EQ(again3.number, 3u);
  EXPECT_EQ(fresh.number, 5u);
  EXPECT_NE(again1.id, taken[1].id);

  const auto numbers = Numbers("reuse");
  ASSERT_EQ(numbers.size(), 6u);
  EXPECT_EQ(numbers[1].timesIssued, 2u);
  EXPECT_EQ(numbers[1].state, NumberState::Reserved);
  EXPECT_EQ(numbers[1].reservation, again1.id);
  EXPECT_EQ(numbers[1].station, "station-2") << "the number shows its latest reservation";
  EXPECT_EQ(numbers[0].timesIssued, 1u);

  // The old reservation of a number issued again stays ended.
  const auto late = store->Finish(taken[1].id, true);
  EXPECT_FALSE(late);
  EXPECT_EQ(Numbers("reuse")[1].state, NumberState::Reserved);
}

TEST_P(LineStoreBehaviour, AUsedUpPoolIsRefusedNamingItsLastNumber) {
  struct Case {
    FailedNumbers policy;
    bool failedNumberComesBack;
  };
  for (const Case c : {Case{FailedNumbers::Void, false}, Case{FailedNumbers::Reuse, true}}) {
    const std::string pool = std::string("small-") + FailedNumbersName(c.policy);
    SCOPED_TRACE(pool);
    MakePool(Spec(pool, 10, 5, 22, c.policy));  // 10, 15, 20; 22 is never reached
    EXPECT_EQ(Take(pool).number, 10u);
    const Reservation fifteen = Take(pool);
    EXPECT_EQ(fifteen.number, 15u);
    EXPECT_EQ(Take(pool).number, 20u);

    const std::string usedUp = "pool \"" + pool + "\" is used up: its last number 20 was issued";
    auto refused = store->Reserve(pool, "station-1", "programmer-A");
    EXPECT_FALSE(refused);
    EXPECT_EQ(refused.error, usedUp);
    EXPECT_FALSE(refused.unreachable);
    EXPECT_EQ(Info(pool).freshLeft, 0u);
    EXPECT_FALSE(Info(pool).nextFresh.has_value());

    End(fifteen, false);
    const auto after = store->Reserve(pool, "station-1", "programmer-A");
    EXPECT_EQ(static_cast<bool>(after), c.failedNumberComesBack) << after.error;
    if (c.failedNumberComesBack && after) {
      EXPECT_EQ(after->number, 15u);
      EXPECT_EQ(store->Reserve(pool, "station-1", "programmer-A").error, usedUp);
    } else {
      EXPECT_EQ(after.error, usedUp);
    }
    EXPECT_EQ(Numbers(pool).size(), 3u);
  }
}

TEST_P(LineStoreBehaviour, AReservationEndsOnceAndUnknownNamesAreRefused) {
  MakePool(Spec("once", 1, 1, 100, FailedNumbers::Void));
  const Reservation finished = Take("once");
  const Reservation released = Take("once");
  EXPECT_EQ(End(finished, true), NumberState::Used);
  const auto release = store->Release(released.id);
  ASSERT_TRUE(release) << release.error;
  EXPECT_EQ(*release, NumberState::Voided);

  struct Case {
    const char* what;
    StoreResult<NumberState> outcome;
    std::string refusal;
  };
  const std::string finishedName = "reservation " + std::to_string(finished.id) + " (number 1 of pool \"once\")";
  const std::string releasedName = "reservation " + std::to_string(released.id) + " (number 2 of pool \"once\")";
  const Case cases[] = {
      {"finish twice", store->Finish(finished.id, false), finishedName + " was finished already: the number is used"},
      {"release after finish", store->Release(finished.id), finishedName + " was finished already"},
      {"finish after release", store->Finish(released.id, true),
       releasedName + " was released by an operator already: the number is voided"},
      {"release twice", store->Release(released.id), releasedName + " was released by an operator already"},
      {"unknown reservation", store->Finish(987654, true), "there is no reservation 987654"},
      {"unknown reservation released", store->Release(-1), "there is no reservation -1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(c.outcome);
    EXPECT_NE(c.outcome.error.find(c.refusal), std::string::npos) << c.outcome.error;
    EXPECT_FALSE(c.outcome.unreachable);
  }
  const auto numbers = Numbers("once");
  ASSERT_EQ(numbers.size(), 2u);
  EXPECT_EQ(numbers[0].state, NumberState::Used) << "a refused finish changed the number";
  EXPECT_EQ(numbers[1].state, NumberState::Voided);

  const auto unknownPool = store->Reserve("nowhere", "station-1", "programmer-A");
  EXPECT_EQ(unknownPool.error, "there is no pool named \"nowhere\"");
  const auto unknownNumbers = store->PoolNumbers("nowhere");
  EXPECT_EQ(unknownNumbers.error, "there is no pool named \"nowhere\"");
  const auto badStation = store->Reserve("once", "station\xC0\x80", "programmer-A");
  EXPECT_NE(badStation.error.find("station is not UTF-8"), std::string::npos) << badStation.error;
  EXPECT_EQ(Numbers("once").size(), 2u) << "a refused reservation took a number";
  EXPECT_EQ(Info("once").nextFresh, 3u);
}

TEST_P(LineStoreBehaviour, AnOperatorReleasesAStaleReservationByThePolicy) {
  struct Case {
    FailedNumbers policy;
    NumberState released;
    uint64_t next;
  };
  for (const Case c : {Case{FailedNumbers::Void, NumberState::Voided, 52}, Case{FailedNumbers::Reuse, NumberState::Failed, 50}}) {
    const std::string pool = std::string("stale-") + FailedNumbersName(c.policy);
    SCOPED_TRACE(pool);
    MakePool(Spec(pool, 50, 1, 60, c.policy));
    const Reservation stale = Take(pool, "station-9", "programmer-gone");
    const Reservation live = Take(pool);

    const auto reserved = Numbers(pool, NumberState::Reserved);
    ASSERT_EQ(reserved.size(), 2u);
    EXPECT_EQ(reserved[0].reservation, stale.id);
    EXPECT_EQ(reserved[0].station, "station-9");

    const auto release = store->Release(stale.id);
    ASSERT_TRUE(release) << release.error;
    EXPECT_EQ(*release, c.released);
    EXPECT_EQ(Take(pool).number, c.next);
    EXPECT_EQ(End(live, true), NumberState::Used);
  }
}

StoredRecord MakeRecord(Clock::time_point time, const std::string& chip) {
  StoredRecord record;
  record.time = time;
  record.station = "station-1";
  record.programmer = 2;
  record.programmerId = "QN-0042";
  record.chip = chip;
  record.operation = "program";
  record.result = "ok";
  record.text = "programmed and verified";
  record.acc = 0x1234;
  record.crc = 0xFFFF;
  record.imageSha256 = std::string(64, 'a');
  record.serialNumber = 1000;
  record.pool = "boards";
  record.duration = 1234ms;
  return record;
}

TEST_P(LineStoreBehaviour, RecordsComeBackWholeInTimeOrderSinceATime) {
  const Clock::time_point t0 = Clock::time_point(std::chrono::milliseconds(1'780'000'000'123));
  StoredRecord full = MakeRecord(t0 + 2s, "W25Q64");
  full.serialNumber = kLargest;
  full.imageFile = "/srv/images/board v2 — 固件's \"final\".hex";
  full.chipId = std::array<uint8_t, 2>{0xEF, 0x40};
  full.jobId = "20261211T034512-7f3a9c21";
  full.differences = kLargest;
  full.firstDifference = 0xFFFFFFFF;
  full.adapterSerial = "FT1234AB";
  full.serialText = "00:1A:2B:3C:4D:5E";
  full.lockedJob = "/srv/jobs/线 3 'final'.job";
  full.jobLock = "hmac-sha256-passphrase " + std::string(64, 'f');
  StoredRecord bare = MakeRecord(t0 + 1s, "24C02");
  bare.result = "timeout";
  bare.code = -7;
  bare.text = "no answer — 无应答, 'quoted' \"text\"";
  bare.imageSha256.clear();
  bare.serialNumber.reset();
  bare.pool.reset();
  bare.acc = 0;
  bare.crc = 0;
  StoredRecord stopped = MakeRecord(t0 + 3s, "W25Q128");
  stopped.result = "stopped";
  StoredRecord before = MakeRecord(t0 - 1ms, "AT25DF");
  StoredRecord sameTime = MakeRecord(t0 + 2s, "second at the same time");
  sameTime.result = "failed";
  for (const StoredRecord& record : {full, stopped, bare, before, sameTime}) {
    const auto added = store->AddRecord(record);
    ASSERT_TRUE(added) << added.error;
  }

  const auto since = store->Records(t0);
  ASSERT_TRUE(since) << since.error;
  const std::vector<StoredRecord> expected{bare, full, sameTime, stopped};
  EXPECT_EQ(*since, expected);

  // In the columns as a person querying the database finds them: the ID as
  // text, and nothing where a record has none.
  using Row = std::vector<std::optional<std::string>>;
  const auto columns = location->Query(
      "SELECT chip, image_file, chip_id, job_id, first_difference, differences, adapter_serial, serial_text, "
      "locked_job, job_lock FROM records WHERE chip IN ('W25Q64', '24C02') ORDER BY chip");
  EXPECT_EQ(columns, (StoreLocation::Rows{
                         Row{"24C02", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                             std::nullopt, std::nullopt, std::nullopt, std::nullopt},
                         Row{"W25Q64", full.imageFile, "0xEF 0x40", "20261211T034512-7f3a9c21", "4294967295",
                             "9223372036854775807", "FT1234AB", "00:1A:2B:3C:4D:5E", full.lockedJob, full.jobLock}}));

  const auto limited = store->Records(t0, 2);
  ASSERT_TRUE(limited) << limited.error;
  EXPECT_EQ(*limited, std::vector<StoredRecord>(expected.begin(), expected.begin() + 2));

  const auto later = store->Records(t0 + 3s + 1ms);
  ASSERT_TRUE(later) << later.error;
  EXPECT_TRUE(later->empty());

  // A time finer than a millisecond is kept to its millisecond.
  StoredRecord fine = MakeRecord(t0 + 10s + std::chrono::microseconds(999), "fine");
  ASSERT_TRUE(store->AddRecord(fine));
  const auto fineBack = store->Records(t0 + 10s);
  ASSERT_TRUE(fineBack && fineBack->size() == 1u) << fineBack.error;
  EXPECT_EQ((*fineBack)[0].time, t0 + 10s);

  struct Refused {
    const char* what;
    StoredRecord record;
    const char* refusal;
  };
  StoredRecord badResult = MakeRecord(t0, "x");
  badResult.result = "maybe";
  StoredRecord badText = MakeRecord(t0, "x");
  badText.text = std::string("cut\0here", 8);
  StoredRecord badSerial = MakeRecord(t0, "x");
  badSerial.serialNumber = kLargest + 1;
  StoredRecord badFile = MakeRecord(t0, "x");
  badFile.imageFile = "/images/\xff.bin";
  StoredRecord badCount = MakeRecord(t0, "x");
  badCount.differences = kLargest + 1;
  StoredRecord badLock = MakeRecord(t0, "x");
  badLock.jobLock = "sha256 \xC3";
  const Refused refusals[] = {
      {"result", badResult, "not \"maybe\""},
      {"NUL in text", badText, "record's text is not UTF-8 text without NUL"},
      {"serial", badSerial, "serial number 9223372036854775808 is beyond the largest"},
      {"image file", badFile, "image file is not UTF-8 text"},
      {"differences", badCount, "count of differences 9223372036854775808 is beyond the largest"},
      {"job lock", badLock, "job's lock is not UTF-8 text"},
  };
  for (const Refused& r : refusals) {
    SCOPED_TRACE(r.what);
    const auto added = store->AddRecord(r.record);
    EXPECT_FALSE(added);
    EXPECT_NE(added.error.find(r.refusal), std::string::npos) << added.error;
  }
  const auto all = store->Records(t0 - 1h);
  ASSERT_TRUE(all) << all.error;
  EXPECT_EQ(all->size(), 6u) << "a refused record was stored";
}

TEST_P(LineStoreBehaviour, AReopenedStoreKeepsItsDataAndANewerOneIsRefused) {
  MakePool(Spec("kept", 1, 1, 10, FailedNumbers::Reuse));
  const Reservation open = Take("kept");
  store.reset();

  store = Open();
  ASSERT_NE(store, nullptr);
  EXPECT_EQ(Numbers("kept", NumberState::Reserved).size(), 1u);
  EXPECT_EQ(Take("kept").number, open.number + 1);
  store.reset();

  ASSERT_EQ(location->Sql("INSERT INTO schema_version (version, applied_ms) VALUES (99, 0)"), "");
  std::string error;
  bool unreachable = true;
  EXPECT_EQ(OpenLineStore(location->where, error, &unreachable), nullptr);
  EXPECT_NE(error.find("written by a newer program"), std::string::npos) << error;
  EXPECT_NE(error.find("version 99"), std::string::npos) << error;
  EXPECT_FALSE(unreachable);
}

// The tables as the released programs made them, version 1 or 2: the
// databases out on production lines that this program must open and bring
// up to date.
std::string TablesOfVersion(int version, Engine engine) {
  std::string sql = R"(
CREATE TABLE schema_version (version BIGINT PRIMARY KEY, applied_ms BIGINT NOT NULL);
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
INSERT INTO schema_version (version, applied_ms) VALUES (1, 1780000000000);
)";
  if (version >= 2) {
    sql += R"(
ALTER TABLE records ADD COLUMN image_file TEXT;
ALTER TABLE records ADD COLUMN chip_id TEXT;
ALTER TABLE records ADD COLUMN job_id TEXT;
ALTER TABLE records ADD COLUMN first_difference BIGINT;
ALTER TABLE records ADD COLUMN differences BIGINT;
ALTER TABLE records ADD COLUMN adapter_serial TEXT;
CREATE INDEX records_by_job ON records (job_id);
INSERT INTO schema_version (version, applied_ms) VALUES (2, 1790000000000);
)";
  }
  const std::string id = engine == Engine::Sqlite ? "INTEGER PRIMARY KEY AUTOINCREMENT"
                                                  : "BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY";
  for (std::size_t at; (at = sql.find("{ID}")) != std::string::npos;) sql.replace(at, 4, id);
  return sql;
}

TEST_P(LineStoreBehaviour, AnOlderDatabaseIsUpgradedInPlaceKeepingItsRecordsAndPools) {
  using Row = std::vector<std::optional<std::string>>;
  for (const int version : {1, 2}) {
    SCOPED_TRACE("version " + std::to_string(version));
    StoreLocation old(GetParam());
    ASSERT_FALSE(old.where.empty()) << old.error;
    ASSERT_EQ(old.Sql(TablesOfVersion(version, GetParam())), "");
    // A chip recorded and a pool half used by the older program.
    ASSERT_EQ(old.Sql("INSERT INTO records (time_ms, station, programmer, programmer_id, chip, operation, result, "
                      "code, text, acc, crc, image_sha256, serial_number, pool, duration_ms) VALUES (1780000000123, "
                      "'north', 3, 'Velkor350QN V3.10', 'W25x64xx', 'auto', 'ok', 0, 'done', 4660, 65535, '" +
                      std::string(64, 'c') + "', 1000, 'boards', 412);"
                      "INSERT INTO pools (name, first_number, step, last_number, format, failed_numbers, issued, "
                      "created_ms) VALUES ('boards', 1000, 1, 1999, 'address=0x00000020 order=little', 'void', 1, "
                      "1780000000000)"),
              "");
    StoredRecord before;
    before.time = Clock::time_point(std::chrono::milliseconds(1'780'000'000'123));
    before.station = "north";
    before.programmer = 3;
    before.programmerId = "Velkor350QN V3.10";
    before.chip = "W25x64xx";
    before.operation = "auto";
    before.result = "ok";
    before.text = "done";
    before.acc = 4660;
    before.crc = 65535;
    before.imageSha256 = std::string(64, 'c');
    before.serialNumber = 1000;
    before.pool = "boards";
    before.duration = 412ms;
    if (version >= 2) {
      ASSERT_EQ(old.Sql("UPDATE records SET job_id = '20261211T034512-7f3a9c21', chip_id = '0xEF 0x16', "
                        "adapter_serial = 'FT0001'"),
                "");
      before.jobId = "20261211T034512-7f3a9c21";
      before.chipId = std::array<uint8_t, 2>{0xEF, 0x16};
      before.adapterSerial = "FT0001";
    }

    std::string error;
    auto upgraded = OpenLineStore(old.where, error);
    ASSERT_NE(upgraded, nullptr) << error;
    StoredRecord after = MakeRecord(before.time + 1h, "W25x64xx");
    after.imageFile = "/srv/images/board.hex";
    after.chipId = std::array<uint8_t, 2>{0xEF, 0x17};
    after.jobId = "20270101T000000-00000001";
    after.differences = 2;
    after.firstDifference = 0x10;
    after.serialText = "00:1A:2B:3C:4D:5E";
    after.lockedJob = "line3.job";
    after.jobLock = "sha256 " + std::string(64, 'd');
    const auto added = upgraded->AddRecord(after);
    ASSERT_TRUE(added) << added.error;
    const auto records = upgraded->Records(Clock::time_point{});
    ASSERT_TRUE(records) << records.error;
    EXPECT_EQ(*records, (std::vector<StoredRecord>{before, after}));
    const auto taken = upgraded->Reserve("boards", "north", "programmer 1");
    ASSERT_TRUE(taken) << taken.error;
    EXPECT_EQ(taken->number, 1001u) << "the pool counts on from where the older program left it";
    StoredSession session;
    session.station = "north";
    session.chip = "W25x64xx";
    session.started = after.time;
    session.programmers = {{1, "Velkor350QN V3.10", "V3.10", ""}};
    const auto begun = upgraded->BeginSession(session);
    ASSERT_TRUE(begun) << begun.error;
    session.id = *begun;
    upgraded.reset();

    EXPECT_EQ(old.Query("SELECT MAX(version), COUNT(*) FROM schema_version"), (StoreLocation::Rows{Row{"3", "3"}}));
    const std::optional<std::string> oldJob =
        version >= 2 ? std::optional<std::string>("20261211T034512-7f3a9c21") : std::nullopt;
    EXPECT_EQ(old.Query("SELECT station, job_id, chip_id, differences, serial_text, locked_job, job_lock FROM records "
                        "ORDER BY id"),
              (StoreLocation::Rows{
                  Row{"north", oldJob, version >= 2 ? std::optional<std::string>("0xEF 0x16") : std::nullopt,
                      std::nullopt, std::nullopt, std::nullopt, std::nullopt},
                  Row{"station-1", "20270101T000000-00000001", "0xEF 0x17", "2", "00:1A:2B:3C:4D:5E", "line3.job",
                      after.jobLock}}));
    // Opened again, it is up to date: nothing is applied twice.
    upgraded = OpenLineStore(old.where, error);
    ASSERT_NE(upgraded, nullptr) << error;
    EXPECT_EQ(upgraded->Records(Clock::time_point{})->size(), 2u);
    EXPECT_EQ(*upgraded->Sessions(Clock::time_point{}), std::vector<StoredSession>{session});
    EXPECT_EQ(old.Query("SELECT COUNT(*) FROM schema_version"), (StoreLocation::Rows{Row{"3"}}));
  }
}

StoredSession MakeSession(const std::string& station, Clock::time_point started, int programmerBase = 0) {
  StoredSession session;
  session.station = station;
  session.programVersion = "0.4.0";
  session.jobId = "20261211T034512-7f3a9c21";
  session.chip = "W25x64xx";
  session.imageSha256 = std::string(64, 'b');
  session.lockedJob = "/srv/jobs/line3.job";
  session.jobLock = "hmac-sha256-passphrase " + std::string(64, '3');
  session.started = started;
  session.programmers = {{programmerBase + 1, "Velkor350QN V3.10", "V3.10", "FT" + station},
                         {programmerBase + 2, "Velkor350QN V3.10", "V3.08", ""}};
  return session;
}

TEST_P(LineStoreBehaviour, ASessionReadsBackWholeAndEndsOnce) {
  const Clock::time_point t0 = Clock::time_point(std::chrono::milliseconds(1'780'000'000'123));
  // Begun finer than a millisecond, with the programmer's own bytes, and
  // counts carried over from before.
  StoredSession session = MakeSession("bench-3", t0 + std::chrono::microseconds(999));
  session.programmers[0].programmerId = "Velkor\xB0\xE6 V3.10";
  session.lockedJob = std::string("/jobs/\xff") + '\0' + "line 3 — 线.job";
  session.good = 5;
  session.failed = 1;
  const auto begun = store->BeginSession(session);
  ASSERT_TRUE(begun) << begun.error;
  StoredSession expected = session;
  expected.id = *begun;
  expected.started = t0;
  expected.programmers[0].programmerId = StorableText(session.programmers[0].programmerId);
  expected.lockedJob = StorableText(session.lockedJob);
  EXPECT_EQ(expected.lockedJob, "/jobs/\uFFFD\uFFFDline 3 — 线.job");
  const auto running = store->Sessions(t0);
  ASSERT_TRUE(running) << running.error;
  EXPECT_EQ(*running, std::vector<StoredSession>{expected});

  const auto ended = store->EndSession(*begun, t0 + 1h + std::chrono::microseconds(500), 412, 3);
  ASSERT_TRUE(ended) << ended.error;
  expected.ended = t0 + 1h;
  expected.good = 412;
  expected.failed = 3;

  // A session of nothing but what it must have, begun already ended.
  StoredSession bare;
  bare.station = "bench-4";
  bare.chip = "24xx02";
  bare.started = t0 + 1s;
  bare.ended = t0 + 2s;
  bare.programmers = {{2, "Velkor350QN V3.10", "V3.10", ""}};
  const auto bareBegun = store->BeginSession(bare);
  ASSERT_TRUE(bareBegun) << bareBegun.error;
  EXPECT_NE(*bareBegun, *begun);
  bare.id = *bareBegun;

  struct Case {
    const char* what;
    StoreResult<Done> outcome;
    std::string refusal;
  };
  const std::string sessionName = "session " + std::to_string(*begun);
  const Case cases[] = {
      {"ended twice", store->EndSession(*begun, t0 + 2h, 1, 1), sessionName + " has ended already"},
      {"begun ended", store->EndSession(*bareBegun, t0 + 2h, 1, 1),
       "session " + std::to_string(*bareBegun) + " has ended already"},
      {"unknown session", store->EndSession(987654, t0 + 2h, 1, 1), "there is no session 987654"},
      {"too many", store->EndSession(*begun, t0 + 2h, kLargest + 1, 0),
       "count of good chips 9223372036854775808 is beyond the largest"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(c.outcome);
    EXPECT_NE(c.outcome.error.find(c.refusal), std::string::npos) << c.outcome.error;
    EXPECT_FALSE(c.outcome.unreachable);
  }
  StoredSession tooMany = MakeSession("bench-5", t0);
  tooMany.failed = kLargest + 1;
  const auto refusedBegin = store->BeginSession(tooMany);
  EXPECT_FALSE(refusedBegin);
  EXPECT_NE(refusedBegin.error.find("count of failed chips 9223372036854775808"), std::string::npos)
      << refusedBegin.error;

  const auto all = store->Sessions(t0);
  ASSERT_TRUE(all) << all.error;
  EXPECT_EQ(*all, (std::vector<StoredSession>{expected, bare})) << "a refused call changed a session";

  // In the tables as a report finds them: nothing where a session has none.
  using Row = std::vector<std::optional<std::string>>;
  EXPECT_EQ(location->Query("SELECT station, program_version, job_id, image_sha256, locked_job, job_lock, started_ms, "
                            "ended_ms, good, failed FROM sessions WHERE id = " +
                            std::to_string(bare.id)),
            (StoreLocation::Rows{Row{"bench-4", "", std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                     "1780000001123", "1780000002123", "0", "0"}}));
  EXPECT_EQ(location->Query("SELECT p.programmer, p.firmware, p.adapter_serial, s.station FROM session_programmers p "
                            "JOIN sessions s ON s.id = p.session_id ORDER BY s.started_ms, p.position"),
            (StoreLocation::Rows{Row{"1", "V3.10", "FTbench-3", "bench-3"}, Row{"2", "V3.08", std::nullopt, "bench-3"},
                                 Row{"2", "V3.10", std::nullopt, "bench-4"}}));
}

TEST_P(LineStoreBehaviour, SessionsSinceATimeComeInStartOrderEachWithItsOwnProgrammers) {
  const Clock::time_point t0 = Clock::time_point(std::chrono::milliseconds(1'780'000'000'123));
  // Two stations on one database, each through its own connection; the
  // second runs two window instances (programmers 3 and 4 in another
  // order).
  auto south = Open();
  ASSERT_NE(south, nullptr);
  StoredSession north1 = MakeSession("north", t0 + 2s);
  StoredSession early = MakeSession("north", t0 - 1ms);
  StoredSession north2 = MakeSession("north", t0 + 3s);
  north2.programmers.clear();
  StoredSession south1 = MakeSession("south", t0 + 1s, 2);
  std::swap(south1.programmers[0], south1.programmers[1]);
  StoredSession south2 = MakeSession("south", t0 + 2s, 2);
  south2.jobId.clear();
  south2.lockedJob.clear();
  south2.jobLock.clear();
  const std::pair<LineStore*, StoredSession*> begins[] = {
      {store.get(), &north1}, {store.get(), &early}, {south.get(), &south2},
      {store.get(), &north2}, {south.get(), &south1}};
  for (const auto& [where, session] : begins) {
    const auto begun = where->BeginSession(*session);
    ASSERT_TRUE(begun) << begun.error;
    session->id = *begun;
  }
  ASSERT_TRUE(south->EndSession(south1.id, t0 + 5s, 7, 0));
  south1.ended = t0 + 5s;
  south1.good = 7;

  struct Case {
    Clock::time_point since;
    std::vector<StoredSession> sessions;
  };
  const Case cases[] = {
      {t0, {south1, north1, south2, north2}},  // the same start: in the order they began
      {t0 - 1ms, {early, south1, north1, south2, north2}},
      {t0 + 2s + 1ms, {north2}},
      {t0 + 1h, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE((c.since - t0).count());
    for (LineStore* reader : {store.get(), south.get()}) {
      const auto found = reader->Sessions(c.since);
      ASSERT_TRUE(found) << found.error;
      EXPECT_EQ(*found, c.sessions);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, LineStoreBehaviour, ::testing::Values(Engine::Sqlite, Engine::Postgres),
                         [](const auto& engine) { return test::EngineName(engine.param); });

// Where a store cannot be opened, the error says where and why, and
// tells a database that could not be reached. A password is never shown.
TEST(LineStoreOpen, AnUnreachableDatabaseIsRefusedNamingWhereAndWhy) {
  StoreLocation scratch(Engine::Sqlite);
  ASSERT_FALSE(scratch.folder.empty());
  const auto plainFile = scratch.folder / "plain-file";
  test::WriteFile(plainFile, "not a folder");
  const auto notDatabase = scratch.folder / "garbage.db";
  test::WriteFile(notDatabase, std::string(4096, 'x'));
  const std::string noServer = (scratch.folder / "no-server").string();
  std::filesystem::create_directory(noServer);

  struct Case {
    const char* what;
    std::string where;
    std::vector<std::string> mentions;
    bool unreachable;
  };
  const Case cases[] = {
      {"SQLite file in a folder that cannot be made", (plainFile / "sub" / "line.db").string(),
       {(plainFile / "sub" / "line.db").string(), "cannot be made", "Not a directory"}, true},
      {"SQLite path that is a folder", scratch.folder.string(), {scratch.folder.string(), "it is a folder"}, false},
      {"file that is not a database", notDatabase.string(), {notDatabase.string(), "not a database"}, false},
      {"PostgreSQL socket folder without a server", "host=" + noServer + " dbname=line user=station password=hunter2",
       {"host=" + noServer, "dbname=line", "cannot be reached", "No such file or directory"}, true},
      {"PostgreSQL URI without a server", "postgresql://station:hunter2@/line?host=" + noServer,
       {"host=" + noServer, "user=station", "cannot be reached"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string error;
    bool unreachable = !c.unreachable;
    EXPECT_EQ(OpenLineStore(c.where, error, &unreachable), nullptr);
    for (const std::string& mention : c.mentions) EXPECT_NE(error.find(mention), std::string::npos) << error;
    EXPECT_EQ(error.find("hunter2"), std::string::npos) << error;
    EXPECT_EQ(unreachable, c.unreachable) << error;
  }
}

TEST(LineStoreOpen, WhereDecidesTheEngineAndTheDefaultFile) {
  struct Case {
    const char* where;
    bool postgres;
  };
  const Case cases[] = {
      {"postgresql://db.line/serials", true}, {"postgres://station@db/serials", true},
      {"host=db.line dbname=serials", true},  {"dbname=serials", true},
      {"/var/lib/line/line.db", false},       {"line.db", false},
      {"postgresql.db", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsPostgresAddress(c.where), c.postgres) << c.where;

  const char* savedData = getenv("XDG_DATA_HOME");
  const char* savedHome = getenv("HOME");
  const std::string keptData = savedData ? savedData : "";
  const std::string keptHome = savedHome ? savedHome : "";
  setenv("HOME", "/home/operator", 1);
  setenv("XDG_DATA_HOME", "/srv/data", 1);
  EXPECT_EQ(DefaultStorePath(), "/srv/data/velkor350qn/line.db");
  setenv("XDG_DATA_HOME", "relative/data", 1);
  EXPECT_EQ(DefaultStorePath(), "/home/operator/.local/share/velkor350qn/line.db");
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(DefaultStorePath(), "/home/operator/.local/share/velkor350qn/line.db");
  savedData ? setenv("XDG_DATA_HOME", keptData.c_str(), 1) : unsetenv("XDG_DATA_HOME");
  savedHome ? setenv("HOME", keptHome.c_str(), 1) : unsetenv("HOME");
}

// A station whose connection was cut learns that the database could not be
// reached (so it can keep its record and retry), and the next call connects
// again by itself.
TEST(LineStorePostgres, ALostConnectionIsReportedUnreachableAndTheNextCallConnectsAgain) {
  StoreLocation location(Engine::Postgres);
  ASSERT_FALSE(location.where.empty()) << location.error;
  std::string error;
  auto store = OpenLineStore(location.where + " password=hunter2", error);
  ASSERT_NE(store, nullptr) << error;
  EXPECT_EQ(store->Where().find("hunter2"), std::string::npos) << store->Where();

  ASSERT_EQ(location.Sql("SELECT pg_terminate_backend(pid, 5000) FROM pg_stat_activity "
                         "WHERE datname = current_database() AND pid <> pg_backend_pid()"),
            "");
  const StoredRecord record = MakeRecord(Clock::now(), "W25Q64");
  const auto lost = store->AddRecord(record);
  EXPECT_FALSE(lost);
  EXPECT_TRUE(lost.unreachable) << lost.error;
  EXPECT_NE(lost.error.find("cannot be reached"), std::string::npos) << lost.error;

  const auto kept = store->AddRecord(record);
  ASSERT_TRUE(kept) << kept.error;
  const auto records = store->Records(record.time - 1s);
  ASSERT_TRUE(records) << records.error;
  EXPECT_EQ(records->size(), 1u);
}

}  // namespace
}  // namespace velkor::store
