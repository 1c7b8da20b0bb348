// A station at work on the line's store: pool numbers for its programmers,
// and every chip's record, kept in the station's file while the store is
// out of reach and written once it is back.
#include "store/line_station.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace velkor::store {
namespace {

namespace fs = std::filesystem;

// The real SQLite store, with its records refused as out of reach while
// down is set: the way a lost connection looks to the station.
class FlakyStore final : public LineStore {
 public:
  explicit FlakyStore(std::unique_ptr<LineStore> store) : store_(std::move(store)) {}
  bool down = false;

  std::string Where() const override { return store_->Where(); }
  StoreResult<Done> CreatePool(const PoolSpec& spec) override { return store_->CreatePool(spec); }
  StoreResult<std::optional<PoolInfo>> Pool(const std::string& name) override { return store_->Pool(name); }
  StoreResult<std::vector<PoolInfo>> Pools() override { return store_->Pools(); }
  StoreResult<std::vector<PoolNumber>> PoolNumbers(const std::string& pool, std::optional<NumberState> only) override {
    return store_->PoolNumbers(pool, only);
  }
  StoreResult<Reservation> Reserve(const std::string& pool, const std::string& station,
                                   const std::string& programmer) override {
    if (down) return Unreachable<Reservation>();
    return store_->Reserve(pool, station, programmer);
  }
  StoreResult<NumberState> Finish(int64_t reservation, bool chipGood) override {
    if (down) return Unreachable<NumberState>();
    return store_->Finish(reservation, chipGood);
  }
  StoreResult<NumberState> Release(int64_t reservation) override {
    if (down) return Unreachable<NumberState>();
    return store_->Release(reservation);
  }
  StoreResult<Done> AddRecord(const StoredRecord& record) override {
    if (down) return Unreachable<Done>();
    return store_->AddRecord(record);
  }
  StoreResult<std::vector<StoredRecord>> Records(Clock::time_point since, std::optional<std::size_t> limit) override {
    return store_->Records(since, limit);
  }
  StoreResult<int64_t> BeginSession(const StoredSession& session) override { return store_->BeginSession(session); }
  StoreResult<Done> EndSession(int64_t id, Clock::time_point ended, uint64_t good, uint64_t failed) override {
    return store_->EndSession(id, ended, good, failed);
  }
  StoreResult<std::vector<StoredSession>> Sessions(Clock::time_point since) override {
    return store_->Sessions(since);
  }

 private:
  template <class T>
  static StoreResult<T> Unreachable() {
    StoreResult<T> result;
    result.error = "the server closed the connection";
    result.unreachable = true;
    return result;
  }
  std::unique_ptr<LineStore> store_;
};

class LineStationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/velkor-station-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder = pattern;
    std::string error;
    auto opened = OpenLineStore((folder / "line.db").string(), error);
    ASSERT_TRUE(opened) << error;
    store = std::make_unique<FlakyStore>(std::move(opened));
  }
  void TearDown() override { fs::remove_all(folder); }

  TraceRecord Chip(int programmer, uint32_t number) const {
    TraceRecord r;
    r.time = Clock::now();
    r.programmer = programmer;
    r.programmerId = "Velkor350QN V3.10";
    r.chip = "24xx02";
    r.operation = "program";
    r.result = "ok";
    r.serialNumber = number;
    r.pool = "boards";
    return r;
  }

  fs::path folder;
  std::unique_ptr<FlakyStore> store;
  std::vector<std::string> notices;
  StationNotice notice = [this](const std::string& text) { notices.push_back(text); };
};

TEST(PoolFormatTest, TextRoundTripsAndAnythingElseIsRefused) {
  for (const PoolFormat& format : {PoolFormat{0, false}, PoolFormat{0x20, true}, PoolFormat{0xFFFFFFFC, false}}) {
    const auto parsed = ParsePoolFormat(PoolFormatText(format));
    ASSERT_TRUE(parsed) << PoolFormatText(format);
    EXPECT_EQ(parsed->address, format.address);
    EXPECT_EQ(parsed->bigEndian, format.bigEndian);
  }
  EXPECT_EQ(PoolFormatText({0x20, false}), "address=0x00000020 order=little");
  for (const char* wrong : {"", "address=0x20", "address=0x20 order=middle", "address=0x20 order=big extra",
                            "order=big address=0x20", "address=0x100000000 order=big"})
    EXPECT_FALSE(ParsePoolFormat(wrong)) << wrong;
}

TEST_F(LineStationTest, RecordsWaitInTheStationsFileWhileTheStoreIsOutOfReachAndGoInOnceItIsBack) {
  const fs::path pending = folder / "pending.jsonl";
  StoreRecordSink sink(*store, "north", pending, notice);
  sink.Add(Chip(1, 100));
  store->down = true;
  sink.Add(Chip(2, 101));
  sink.Add(Chip(1, 102));
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_NE(notices.back().find("2 record(s) wait in " + pending.string()), std::string::npos) << notices.back();
  EXPECT_EQ(sink.Flush(), 2u) << "still out of reach";
  EXPECT_EQ(store->Records(Clock::time_point{}, std::nullopt)->size(), 1u);

  // Back: the next record takes the waiting ones in with it, oldest first.
  store->down = false;
  sink.Add(Chip(2, 103));
  const auto records = store->Records(Clock::time_point{}, std::nullopt);
  ASSERT_TRUE(records);
  std::vector<uint64_t> numbers;
  for (const StoredRecord& r : *records.value) {
    numbers.push_back(*r.serialNumber);
    EXPECT_EQ(r.station, "north");
    EXPECT_EQ(r.pool, "boards");
  }
  EXPECT_EQ(numbers, (std::vector<uint64_t>{100, 101, 102, 103}));
  EXPECT_FALSE(fs::exists(pending)) << "nothing waits any more";

  // Records left waiting by an earlier run go in with the next run's Flush.
  store->down = true;
  sink.Add(Chip(1, 104));
  store->down = false;
  StoreRecordSink nextRun(*store, "north", pending, notice);
  EXPECT_EQ(nextRun.Flush(), 0u);
  EXPECT_EQ(store->Records(Clock::time_point{}, std::nullopt)->size(), 5u);
}

TEST_F(LineStationTest, PendingLinesOfEarlierProgramsGoInAndNewFieldsSurviveTheWait) {
  const fs::path pending = folder / "pending.jsonl";
  // A record left waiting by the program before the record's later fields.
  std::ofstream(pending) << R"({"time_ms":1780000000123,"station":"north","programmer":2,)"
                            R"("programmer_id":"Velkor350QN V3.10","chip":"24xx02","operation":"program",)"
                            R"("result":"ok","code":0,"text":"done","acc":4660,"crc":65535,"image_sha256":"",)"
                            R"("duration_ms":412,"serial_number":100,"pool":"boards"})"
                         << '\n';
  StoreRecordSink sink(*store, "north", pending, notice);
  // Out of reach, the next record waits with everything it tells.
  store->down = true;
  TraceRecord chip = Chip(1, 101);
  chip.station = "bench-7";
  chip.jobId = "20261211T034512-7f3a9c21";
  chip.imageFile = "/srv/images/board.hex";
  chip.chipId = std::array<uint8_t, 2>{0xEF, 0x40};
  chip.differences = 3;
  chip.firstDifference = 0x1000;
  chip.adapterSerial = "FT1234AB";
  chip.serialText = "00:1A:2B:3C:4D:5E";
  chip.lockedJob = "/srv/jobs/line3.job";
  chip.jobLock = "hmac-sha256-passphrase " + std::string(64, 'e');
  sink.Add(chip);
  {
    std::ifstream in(pending);
    std::vector<nlohmann::json> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1]["chip_id"], (nlohmann::json{0xEF, 0x40}));
    EXPECT_EQ(lines[1]["job_id"], "20261211T034512-7f3a9c21");
    EXPECT_EQ(lines[1]["adapter_serial"], "FT1234AB");
    EXPECT_EQ(lines[1]["locked_job"], "/srv/jobs/line3.job");
    EXPECT_FALSE(lines[0].contains("serial_text") || lines[0].contains("locked_job") || lines[0].contains("job_lock"));
  }
  store->down = false;
  EXPECT_EQ(sink.Flush(), 0u);
  const auto records = store->Records(Clock::time_point{}, std::nullopt);
  ASSERT_TRUE(records) << records.error;
  ASSERT_EQ(records->size(), 2u);
  const StoredRecord& old = (*records.value)[0];
  EXPECT_EQ(old.serialNumber, 100u);
  EXPECT_EQ(old.programmer, 2);
  EXPECT_EQ(old.imageFile, "");
  EXPECT_EQ(old.jobId, "");
  EXPECT_FALSE(old.chipId || old.differences || old.firstDifference);
  EXPECT_EQ(old.serialText + old.lockedJob + old.jobLock, "");
  const StoredRecord& later = (*records.value)[1];
  EXPECT_EQ(later.station, "bench-7") << "the record's station, the one its record line names";
  EXPECT_EQ(later.jobId, chip.jobId);
  EXPECT_EQ(later.imageFile, chip.imageFile);
  EXPECT_EQ(later.chipId, chip.chipId);
  EXPECT_EQ(later.differences, 3u);
  EXPECT_EQ(later.firstDifference, 0x1000u);
  EXPECT_EQ(later.adapterSerial, "FT1234AB");
  EXPECT_EQ(later.serialText, chip.serialText);
  EXPECT_EQ(later.lockedJob, chip.lockedJob);
  EXPECT_EQ(later.jobLock, chip.jobLock);
}

TEST_F(LineStationTest, TextsThatAreNotUtf8GoInReplacedRatherThanHoldingUpTheRecords) {
  const fs::path pending = folder / "pending.jsonl";
  StoreRecordSink sink(*store, "north", pending, notice);
  TraceRecord odd = Chip(1, 200);
  odd.programmerId = "Velkor\xB0\xE6 V3.10";  // the programmer's own bytes
  odd.imageFile = std::string("/data/\xff\0.bin", 12);
  odd.lockedJob = "/jobs/\xC0\x80.job";  // a file name in another code page
  sink.Add(odd);
  sink.Add(Chip(2, 201));
  EXPECT_TRUE(notices.empty()) << notices.front();
  EXPECT_FALSE(fs::exists(pending)) << "nothing waits";
  const auto records = store->Records(Clock::time_point{}, std::nullopt);
  ASSERT_TRUE(records) << records.error;
  ASSERT_EQ(records->size(), 2u);
  EXPECT_EQ((*records.value)[0].programmerId, "Velkor\uFFFD\uFFFD V3.10");
  EXPECT_EQ((*records.value)[0].imageFile, "/data/\uFFFD\uFFFD.bin");
  EXPECT_EQ((*records.value)[0].lockedJob, "/jobs/\uFFFD\uFFFD.job");
  EXPECT_EQ((*records.value)[1].serialNumber, 201u);
}

TEST_F(LineStationTest, PoolNumbersAreReservedPerChipAndEndAsTheChipDid) {
  PoolSpec spec;
  spec.name = "boards";
  spec.first = 10;
  spec.last = 20;
  spec.format = PoolFormatText({0x10, false});
  spec.failed = FailedNumbers::Void;
  ASSERT_TRUE(store->CreatePool(spec));
  // The second group of a run: programmers 3 and 4.
  PoolNumberSource numbers(*store, "boards", "north", 2, notice);
  std::string error;
  const auto a = numbers.Take(1, error);
  const auto b = numbers.Take(2, error);
  const auto c = numbers.Take(1, error);
  ASSERT_TRUE(a && b && c) << error;
  EXPECT_EQ(*a, 10u);
  EXPECT_EQ(*b, 11u);
  numbers.Done(1, *a, NumberEnd::Good);
  numbers.Done(2, *b, NumberEnd::Failed);
  numbers.Done(1, *c, NumberEnd::NotUsed);
  std::map<uint64_t, std::pair<NumberState, std::string>> states;
  const auto issued = store->PoolNumbers("boards", std::nullopt);
  ASSERT_TRUE(issued) << issued.error;
  for (const PoolNumber& n : *issued.value) states[n.number] = {n.state, n.programmer};
  EXPECT_EQ(states[10], std::make_pair(NumberState::Used, std::string("programmer 3")));
  EXPECT_EQ(states[11], std::make_pair(NumberState::Voided, std::string("programmer 4")));
  EXPECT_EQ(states[12].first, NumberState::Voided) << "a number taken and not used ends as the policy says";

  // Out of reach at the end of a chip: the number stays reserved, and the
  // operator is told which reservation to release.
  const auto d = numbers.Take(2, error);
  ASSERT_TRUE(d) << error;
  store->down = true;
  numbers.Done(2, *d, NumberEnd::Good);
  ASSERT_FALSE(notices.empty());
  EXPECT_NE(notices.back().find("stays reserved"), std::string::npos) << notices.back();
  EXPECT_FALSE(numbers.Take(1, error));
  EXPECT_NE(error.find("pool \"boards\""), std::string::npos) << error;
  store->down = false;
  EXPECT_EQ(store->PoolNumbers("boards", NumberState::Reserved)->size(), 1u);
}

TEST_F(LineStationTest, APoolNumberBeyondFourBytesIsRefusedAndGoesBack) {
  PoolSpec spec;
  spec.name = "wide";
  spec.first = 0xFFFFFFFFull;
  spec.last = 0x100000001ull;
  spec.format = PoolFormatText({0, false});
  ASSERT_TRUE(store->CreatePool(spec));
  PoolNumberSource numbers(*store, "wide", "north", 0, notice);
  std::string error;
  EXPECT_EQ(numbers.Take(1, error), 0xFFFFFFFFu);
  EXPECT_FALSE(numbers.Take(1, error));
  EXPECT_NE(error.find("does not fit the chip's four bytes"), std::string::npos) << error;
  EXPECT_TRUE(store->PoolNumbers("wide", NumberState::Reserved)->size() == 1u) << "only the first stays reserved";
}

}  // namespace
}  // namespace velkor::store
