// The traceability record: its line, its file, and which ends of the
// window's operations write one.
#include "app/trace_record.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>

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

}  // namespace
}  // namespace velkor
