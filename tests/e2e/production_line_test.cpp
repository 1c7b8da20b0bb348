// The window's logic with the production line's settings: chips numbered
// from a pool of an SQLite database, their records written there, and no
// chip started when the database or the pool cannot be used.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>
#include <set>

#include "simulated_programmers.hpp"
#include "store/line_station.hpp"
#include "support/files.hpp"

namespace velkor {
namespace {

using namespace std::chrono_literals;

class ProductionLineTest : public test::SimulatedProgrammersTest {
 protected:
  void SetUp() override {
    line = std::make_unique<store::StationLine>([this](const std::string& text) { notices.push_back(text); },
                                                directory / "pending.jsonl");
    programmer->Line = line.get();
    database = (directory / "line.db").string();
  }
  void TearDown() override { programmer->Line = nullptr; }
  MainControls& c() { return programmer->Controls; }
  void Run(void (TQNProgrammer::*command)()) {
    programmer->RunCommand([&] { (programmer.get()->*command)(); });
  }

  void MakePool(store::FailedNumbers failed) {
    std::string error;
    auto made = store::OpenLineStore(database, error);
    ASSERT_TRUE(made) << error;
    store::PoolSpec spec;
    spec.name = "boards";
    spec.first = 0x500;
    spec.last = 0x5FF;
    spec.format = store::PoolFormatText({0x1000, true});
    spec.failed = failed;
    ASSERT_TRUE(made->CreatePool(spec));
  }
  void Press(void (TQNProgrammer::*command)()) {
    Run(command);
    ASSERT_TRUE(loop.runUntil([&] { return Idle(1) && Idle(2) && !programmer->NumberedRunPending(); }, 30s));
    loop.runFor(20ms);
  }

  std::unique_ptr<store::StationLine> line;
  std::string database;
  std::vector<std::string> notices;
};

TEST_F(ProductionLineTest, ThePoolNumbersEveryChipAndTheDatabaseHoldsItsRecord) {
  MakePool(store::FailedNumbers::Void);
  std::filesystem::create_directories(directory / "chips");
  Connect(2, {"--dump-chips", (directory / "chips").string()});
  Choose("24xx512");
  const auto data = LoadRandom(8 * 1024);
  c().EditLineDb.Text = database;
  c().EditStation.Text = "bench-7";
  c().EditLinePool.Text = "boards";
  Press(&TQNProgrammer::SpdBtnAutoPClick);
  Press(&TQNProgrammer::SpdBtnProgClick);
  EXPECT_TRUE(view.messages.empty()) << view.messages.front().text;
  EXPECT_TRUE(notices.empty());
  // The pool's format shows in the serial-number settings.
  EXPECT_TRUE(c().ChkBoxPCSN.Checked);
  EXPECT_EQ(c().AddrEdit.Text, "0x00001000");
  EXPECT_TRUE(c().SNOrderChk.Checked);

  std::string error;
  auto db = store::OpenLineStore(database, error);
  ASSERT_TRUE(db) << error;
  const auto numbers = db->PoolNumbers("boards");
  ASSERT_TRUE(numbers);
  std::map<uint64_t, std::string> used;
  for (const store::PoolNumber& n : *numbers.value) {
    EXPECT_EQ(n.state, store::NumberState::Used);
    EXPECT_EQ(n.station, "bench-7");
    used[n.number] = n.programmer;
  }
  EXPECT_EQ(used, (std::map<uint64_t, std::string>{
                      {0x500, "programmer 1"}, {0x501, "programmer 2"}, {0x502, "programmer 1"}, {0x503, "programmer 2"}}));
  const auto records = db->Records(store::Clock::time_point{});
  ASSERT_TRUE(records);
  ASSERT_EQ(records->size(), 4u);
  for (const store::StoredRecord& r : *records.value) {
    EXPECT_EQ(r.pool, "boards");
    EXPECT_EQ(r.result, "ok");
    EXPECT_EQ(r.station, "bench-7");
  }
  // In the chips, big-endian at 0x1000: the second press's numbers.
  sim.reset();
  for (int n = 1; n <= 2; ++n) {
    const std::string chip = test::ReadFile(directory / "chips" / ("programmer-" + std::to_string(n) + ".bin"));
    ASSERT_GE(chip.size(), 0x1004u);
    const uint32_t number = static_cast<uint8_t>(chip[0x1000]) << 24 | static_cast<uint8_t>(chip[0x1001]) << 16 |
                            static_cast<uint8_t>(chip[0x1002]) << 8 | static_cast<uint8_t>(chip[0x1003]);
    EXPECT_EQ(number, 0x502u + static_cast<uint32_t>(n) - 1);
    EXPECT_EQ(static_cast<uint8_t>(chip[0]), data[0]);
  }
}

TEST_F(ProductionLineTest, NoChipStartsWhenTheDatabaseOrThePoolCannotBeUsed) {
  Connect(2);
  Choose("24xx512");
  LoadRandom(8 * 1024);
  struct Case {
    std::string db;
    std::string pool;
    std::string said;
  };
  const Case cases[] = {
      {database, "missing", "there is no pool \"missing\""},
      {"postgresql:///line?host=" + (directory / "no-server").string(), "", "cannot be reached"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.db + " " + k.pool);
    view.messages.clear();
    c().EditLineDb.Text = k.db;
    c().EditLinePool.Text = k.pool;
    Run(&TQNProgrammer::SpdBtnAutoPClick);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_NE(view.messages[0].text.find(k.said), std::string::npos) << view.messages[0].text;
    EXPECT_NE(view.messages[0].text.find("No chip was started."), std::string::npos);
    EXPECT_TRUE(Idle(1) && Idle(2)) << "a programmer was started";
  }
  // Without settings the line is not asked.
  c().EditLineDb.Text.clear();
  c().EditLinePool.Text.clear();
  view.messages.clear();
  Press(&TQNProgrammer::SpdBtnProgClick);
  EXPECT_TRUE(view.messages.empty());
}

// A chip the operator stopped is unfinished: its number is a failed chip's
// (here issued again, by the pool's rule), and its record says stopped.
TEST_F(ProductionLineTest, AStoppedChipsNumberIsAFailedChipsAndItsRecordSaysStopped) {
  MakePool(store::FailedNumbers::Reuse);
  Connect(2, {"--block-time-us", "3000"});
  Choose("24xx512");
  LoadRandom(32 * 1024);
  c().EditLineDb.Text = database;
  c().EditLinePool.Text = "boards";
  // What the database holds, read on a connection of the test's own that is
  // closed again before the station writes.
  const auto numbersAndRecords = [this] {
    std::string error;
    auto db = store::OpenLineStore(database, error);
    EXPECT_TRUE(db) << error;
    std::map<uint64_t, store::NumberState> states;
    std::vector<std::pair<std::string, std::optional<uint64_t>>> records;
    if (!db) return std::make_pair(states, records);
    if (const auto numbers = db->PoolNumbers("boards"))
      for (const store::PoolNumber& n : *numbers.value) states[n.number] = n.state;
    if (const auto stored = db->Records(store::Clock::time_point{}))
      for (const store::StoredRecord& r : *stored.value) records.emplace_back(r.result, r.serialNumber);
    return std::make_pair(states, records);
  };
  using Records = std::vector<std::pair<std::string, std::optional<uint64_t>>>;

  Run(&TQNProgrammer::SpdBtnProgClick);
  ASSERT_TRUE(loop.runUntil([&] { return programmer->Channels.Channel(1).BlockPos >= 8; }, 20s));
  Run(&TQNProgrammer::SpdBtnStopClick);
  ASSERT_TRUE(loop.runUntil([&] { return Idle(1) && Idle(2) && !programmer->NumberedRunPending(); }, 20s));
  loop.runFor(20ms);
  auto [states, records] = numbersAndRecords();
  EXPECT_EQ(states, (std::map<uint64_t, store::NumberState>{{0x500, store::NumberState::Failed}}));
  EXPECT_EQ(records, (Records{{"stopped", 0x500}})) << "programmer 2 did not follow";

  // The next press gives the number to a chip that is finished.
  Press(&TQNProgrammer::SpdBtnProgClick);
  EXPECT_TRUE(view.messages.empty()) << view.messages.front().text;
  EXPECT_TRUE(notices.empty()) << notices.front();
  std::tie(states, records) = numbersAndRecords();
  EXPECT_EQ(states, (std::map<uint64_t, store::NumberState>{{0x500, store::NumberState::Used},
                                                             {0x501, store::NumberState::Used}}));
  EXPECT_EQ(records, (Records{{"stopped", 0x500}, {"ok", 0x500}, {"ok", 0x501}}));
}

}  // namespace
}  // namespace velkor
