// The traceability record: its line, its file, and which ends of the
// window's operations write one.
#include "app/trace_record.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>

#include "link/operation_codes.hpp"
#include "programmer_fixture.hpp"

namespace velkor {
namespace {

using Json = nlohmann::json;

TEST(TraceRecordLine, HoldsEveryFieldAndSurvivesTextsThatAreNotUtf8) {
  TraceRecord r;
  r.time = std::chrono::system_clock::from_time_t(1765377302) + std::chrono::milliseconds(45);
  r.programmer = 2;
  r.programmerId = std::string("Velkor\xB0\xE6 V3.10");  // GBK bytes from a programmer
  r.chip = "24xx04";
  r.acc = 0x1F2E;
  r.crc = 0x9A41;
  r.operation = "verify";
  r.result = "failed";
  r.code = 0x31;
  r.text = "数据校验错误！";
  r.duration = std::chrono::milliseconds(1234);

  const char* previous = std::getenv("TZ");
  const std::string saved = previous ? previous : "";
  for (const auto& [zone, stamp] : {std::pair{"UTC0", "2025-12-10T14:35:02.045+00:00"},
                                     std::pair{"XST+03:30", "2025-12-10T11:05:02.045-03:30"}}) {
    ::setenv("TZ", zone, 1);
    ::tzset();
    const Json line = Json::parse(TraceRecordLine(r));
    EXPECT_EQ(line["time"], stamp) << zone;
    EXPECT_EQ(line["programmer"], 2);
    EXPECT_EQ(line["programmer_id"], "Velkor\xEF\xBF\xBD\xEF\xBF\xBD V3.10");
    EXPECT_EQ(line["acc"], "0x1F2E");
    EXPECT_EQ(line["crc"], "0x9A41");
    EXPECT_TRUE(line["serial_number"].is_null());
    EXPECT_EQ(line["code"], 0x31);
    EXPECT_EQ(line["text"], "数据校验错误！");
    EXPECT_EQ(line["duration_ms"], 1234);
  }
  if (previous) ::setenv("TZ", saved.c_str(), 1); else ::unsetenv("TZ");
  ::tzset();
  r.serialNumber = 0xFFFFFFFF;
  EXPECT_EQ(Json::parse(TraceRecordLine(r))["serial_number"], 0xFFFFFFFFu);
  EXPECT_EQ(TraceRecordLine(r).find('\n'), std::string::npos);
}

TEST(TraceRecordLine, CarriesTheJobStationFileIdAndDifferencesOnlyWhereKnown) {
  TraceRecord known;
  known.station = "bench-7";
  known.jobId = "20261211T034512-7f3a9c21";
  known.imageFile = "/srv/images/board v2 — 固件.hex";
  known.chipId = std::array<uint8_t, 2>{0xEF, 0x40};
  known.differences = 3;
  known.firstDifference = 0xFFFFFFFF;
  known.adapterSerial = "FT1234AB";
  TraceRecord matched;  // read back, and no byte differs
  matched.differences = 0;
  struct Case {
    const char* what;
    TraceRecord record;
    Json expected;  // the keys below as the line holds them; null: left out
  };
  const Case cases[] = {
      {"all known", known,
       Json{{"station", "bench-7"},
            {"job_id", "20261211T034512-7f3a9c21"},
            {"image_file", "/srv/images/board v2 — 固件.hex"},
            {"chip_id", Json::array({0xEF, 0x40})},
            {"differences", 3},
            {"first_difference", 0xFFFFFFFFu},
            {"adapter_serial", "FT1234AB"}}},
      {"read back, nothing differs", matched,
       Json{{"station", nullptr}, {"job_id", nullptr}, {"image_file", nullptr}, {"chip_id", nullptr},
            {"differences", 0}, {"first_difference", nullptr}, {"adapter_serial", nullptr}}},
      {"none known", TraceRecord{},
       Json{{"station", nullptr}, {"job_id", nullptr}, {"image_file", nullptr}, {"chip_id", nullptr},
            {"differences", nullptr}, {"first_difference", nullptr}, {"adapter_serial", nullptr}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Json line = Json::parse(TraceRecordLine(c.record));
    for (const auto& [key, value] : c.expected.items()) {
      if (value.is_null())
        EXPECT_FALSE(line.contains(key)) << key;
      else
        EXPECT_EQ(line.value(key, Json()), value) << key;
    }
  }
}

TEST(JobId, IsTheUtcSecondAndTheRandomBitsAndEveryNewOneDiffers) {
  const auto time = std::chrono::system_clock::from_time_t(1765377302) + std::chrono::milliseconds(999);
  const char* previous = std::getenv("TZ");
  const std::string saved = previous ? previous : "";
  for (const char* zone : {"UTC0", "XST+03:30", "YST-13"}) {
    ::setenv("TZ", zone, 1);
    ::tzset();
    EXPECT_EQ(MakeJobId(time, 0x7f3a9c21), "20251210T143502-7f3a9c21") << zone;
    EXPECT_EQ(MakeJobId(time, 0x2a), "20251210T143502-0000002a") << zone;
  }
  if (previous) ::setenv("TZ", saved.c_str(), 1); else ::unsetenv("TZ");
  ::tzset();

  std::set<std::string> ids;
  for (int i = 0; i < 32; ++i) {
    const std::string id = NewJobId();
    EXPECT_TRUE(std::regex_match(id, std::regex("20[0-9]{2}[01][0-9][0-3][0-9]T[0-2][0-9][0-5][0-9][0-6][0-9]-[0-9a-f]{8}")))
        << id;
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), 32u) << "two jobs with one id";
}

TEST(ChipIdText, IsTheTwoBytesInHexAndOnlyThatFormReadsBack) {
  for (const std::array<uint8_t, 2> id : {std::array<uint8_t, 2>{0xEF, 0x40}, std::array<uint8_t, 2>{0x00, 0xFF}}) {
    EXPECT_EQ(ParseChipIdText(ChipIdText(id)), id);
  }
  EXPECT_EQ(ChipIdText({0xEF, 0x40}), "0xEF 0x40");
  for (const char* wrong : {"", "0xEF", "0xef 0x40", "0xEF,0x40", "0xEF 0x40 ", " 0xEF 0x40", "0x1EF 0x40", "EF 40"})
    EXPECT_FALSE(ParseChipIdText(wrong)) << wrong;
}

class TraceRecordTest : public test::ProgrammerFixture {
 protected:
  void SetUp() override {
    programmer->Controls.ChkBoxRecord.Checked = true;
    programmer->Controls.EditRecordFile.Text = "records.jsonl";
    Choose("24xx04");
    programmer->Channels.Channel(1).Identified = 1;
    programmer->DeviceName[0] = "Velkor350QN V3.10";
  }
  // Ends an operation on channel 1 as a reply would.
  void End(uint8_t operation, bool autoRun, bool failed, const EndCause& cause = {}) {
    LinkChannel& ch = programmer->Channels.Channel(1);
    ch.Operation = operation;
    ch.AutoRun = autoRun;
    programmer->BeginOperation(1, 10);
    programmer->EndOperation(1, failed, cause);
    loop.runFor(std::chrono::milliseconds(5));  // boxes follow the event
  }
  std::vector<Json> Records() const {
    std::ifstream in(directory / "records.jsonl");
    std::vector<Json> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(Json::parse(line));
    return lines;
  }
};

TEST_F(TraceRecordTest, ChipOperationsAndStandAloneCyclesWriteALineDownloadsDoNot) {
  End(kOpProgram, true, false);
  End(kOpDownload, false, false);
  End(kOpBlankCheck, false, true, {0x15, false, "Chip is Not Blank!"});
  End(kOpReadId, false, true, {0, true, "芯片1 ：操作超时！"});
  End(kOpFirmware, false, false);
  // A chip the programmer programmed by itself: start and end of a cycle.
  auto report = [this](std::vector<uint8_t> bytes) {
    uint8_t sum = 0;
    for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
    bytes.push_back(static_cast<uint8_t>(0x100 - sum));
    std::copy(bytes.begin(), bytes.end(), programmer->Channels.Channel(1).PacketBuffer.begin());
    programmer->ShowProgressReport(1);
  };
  report({0xFD, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00});
  report({0xFD, 0xF0, 0x31, 0x00, 0x00, 0x00, 0x00});

  const auto lines = Records();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0]["operation"], "auto");
  EXPECT_EQ(lines[0]["result"], "ok");
  EXPECT_EQ(lines[0]["text"], "操作成功！");
  EXPECT_EQ(lines[0]["chip"], "24xx04");
  EXPECT_EQ(lines[0]["programmer_id"], "Velkor350QN V3.10");
  EXPECT_EQ(lines[1]["operation"], "blank");
  EXPECT_EQ(lines[1]["code"], 0x15);
  EXPECT_EQ(lines[1]["text"], "Chip is Not Blank!");
  EXPECT_EQ(lines[2]["operation"], "id");
  EXPECT_EQ(lines[2]["result"], "timeout");
  EXPECT_EQ(lines[3]["operation"], "stand-alone");
  EXPECT_EQ(lines[3]["result"], "failed");
  EXPECT_EQ(lines[3]["code"], 0x31);
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(TraceRecordTest, ARecordThatCannotBeWrittenIsAnErrorNotASilentLoss) {
  programmer->Controls.EditRecordFile.Text = "no-such-folder/records.jsonl";
  End(kOpProgram, false, false);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].kind, MessageKind::Error);
  EXPECT_NE(view.messages[0].text.find("could not be written"), std::string::npos) << view.messages[0].text;
  EXPECT_NE(view.lines.back().find("could not be written"), std::string::npos);

  programmer->Controls.EditRecordFile.Text.clear();
  End(kOpProgram, false, false);
  EXPECT_EQ(view.messages.size(), 2u) << "a record switched on without a file name";
}

TEST_F(TraceRecordTest, ARecordNamesTheStationAndTheFileOnlyWhileTheImageIsTheFiles) {
  std::ofstream(directory / "data.bin", std::ios::binary) << "0123456789abcdef";
  const std::string file = (directory / "data.bin").string();
  char host[256] = {};
  ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
  struct Step {
    const char* what;
    std::function<void()> before;
    uint8_t operation;
    bool autoRun;
    const char* imageFile;  // nullptr: left out
    std::string station;
  };
  auto load = [this] { programmer->LoadFile("data.bin"); };
  auto none = [] {};
  const Step steps[] = {
      {"program after the load", load, kOpProgram, false, file.c_str(), host},
      {"erase: no image", none, kOpErase, false, nullptr, host},
      {"auto, on a station of the line",
       [this] { programmer->Controls.EditStation.Text = "bench-7"; }, kOpVerify, true, file.c_str(), "bench-7"},
      {"a read replaces the image", [this] { programmer->Controls.EditStation.Text.clear(); }, kOpReadBlocks, false,
       nullptr, host},
      {"verify against the chip's data", none, kOpVerify, false, nullptr, host},
      {"loaded again", load, kOpVerify, false, file.c_str(), host},
      {"another chip forgets the data", [this] { Choose("24xx08"); }, kOpBlankCheck, false, nullptr, host},
  };
  for (const Step& step : steps) {
    step.before();
    End(step.operation, step.autoRun, false);
  }
  const auto lines = Records();
  ASSERT_EQ(lines.size(), std::size(steps));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(steps[i].what);
    if (steps[i].imageFile)
      EXPECT_EQ(lines[i].value("image_file", ""), steps[i].imageFile);
    else
      EXPECT_FALSE(lines[i].contains("image_file")) << lines[i].dump();
    EXPECT_EQ(lines[i]["station"], steps[i].station);
  }
  EXPECT_EQ(lines[4]["operation"], "verify");
  EXPECT_TRUE(lines[4].contains("sha256")) << "compared with an image, though not a file's";
}

TEST_F(TraceRecordTest, TheJobIdChangesWithTheJobAndTheLogNamesEachRecordedJobOnce) {
  std::ofstream(directory / "data.bin", std::ios::binary) << "0123456789abcdef";
  std::vector<std::string> used;
  auto chip = [&] {
    End(kOpProgram, false, false);
    used.push_back(programmer->JobId());
  };
  chip();
  chip();
  const std::string first = used.back();
  Choose("24xx04");  // the same chip: the same job
  EXPECT_EQ(programmer->JobId(), first);
  Choose("24xx08");
  const std::string unrecorded = programmer->JobId();
  EXPECT_NE(unrecorded, first);
  programmer->LoadFile("data.bin");
  EXPECT_NE(programmer->JobId(), unrecorded);
  chip();
  const std::string loaded = used.back();
  view.fileAnswers.push_back((directory / "job.vpj").string());
  programmer->RunCommand([this] { programmer->SaveToOrvAneProjectClick(); });
  view.fileAnswers.push_back((directory / "job.vpj").string());
  programmer->RunCommand([this] { programmer->LoadFromOrvaneProjectClick(); });
  EXPECT_NE(programmer->JobId(), loaded);
  chip();

  // One run holds its id whatever the job does.
  programmer->HoldJobId("20270101T000000-00000001");
  programmer->LoadFile("data.bin");
  Choose("24xx16");
  programmer->LoadFile("data.bin");
  chip();
  EXPECT_EQ(used.back(), "20270101T000000-00000001");

  const auto lines = Records();
  ASSERT_EQ(lines.size(), used.size());
  for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i]["job_id"], used[i]) << i;
  const std::set<std::string> jobs(used.begin(), used.end());
  EXPECT_EQ(jobs.size(), 4u);
  for (const std::string& job : jobs) {
    const auto named = std::count_if(view.lines.begin(), view.lines.end(),
                                     [&](const std::string& l) { return l.find("Job " + job + ": ") != std::string::npos; });
    EXPECT_EQ(named, 1) << job;
  }
  EXPECT_EQ(std::count_if(view.lines.begin(), view.lines.end(),
                          [&](const std::string& l) { return l.find("Job " + unrecorded) != std::string::npos; }),
            0)
      << "a job without a chip is not named";
  EXPECT_NE(std::find(view.lines.begin(), view.lines.end(),
                      Line("Job " + loaded + ": chip 24xx08, file " + (directory / "data.bin").string() + ".")),
            view.lines.end());
}

TEST_F(TraceRecordTest, WhereAChipReadBackDiffersIsInItsRecord) {
  DifferenceReport found;
  CompareBytes(found, 0x20, std::vector<uint8_t>{1, 2, 3, 4}, std::vector<uint8_t>{1, 0, 3, 0});
  DifferenceReport matched;
  CompareBytes(matched, 0, std::vector<uint8_t>{1, 2}, std::vector<uint8_t>{1, 2});
  End(kOpVerify, false, true, {0x31, false, "数据校验错误！", found});
  End(kOpVerify, false, false, {0, false, "", matched});
  End(kOpVerify, false, false);
  const auto lines = Records();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0]["differences"], 2);
  EXPECT_EQ(lines[0]["first_difference"], 0x21);
  EXPECT_EQ(lines[1]["differences"], 0);
  EXPECT_FALSE(lines[1].contains("first_difference"));
  EXPECT_FALSE(lines[2].contains("differences"));
}

}  // namespace
}  // namespace velkor
