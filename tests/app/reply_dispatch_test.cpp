// Replies driving the operations: block transfers, the automatic chain,
// read data into the image, result messages and time-outs. The channel's
// port is a real pseudo-terminal, so the commands the logic sends are read
// back and decoded.
#include <gtest/gtest.h>

#include <algorithm>

#include "link/frame.hpp"
#include "programmer_fixture.hpp"
#include "support/packets.hpp"
#include "support/firmware.hpp"
#include "support/pty_pair.hpp"

namespace velkor {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::FrameOf;
using test::MakePacket;
using test::MakeStatusPacket;

class ReplyDispatchTest : public test::ProgrammerFixture {
 protected:
  ReplyDispatchTest() {
    programmer->Channels.Port(1).CommName = pty.SlavePath();
    programmer->Channels.Port(1).OpenPort();
    programmer->Channels.Channel(1).Identified = 1;
  }

  LinkChannel& ch() { return programmer->Channels.Channel(1); }

  // Starts an operation the way the operation commands do.
  void Start(uint8_t operation, uint32_t range, bool autoRun = false) {
    ch().Operation = operation;
    ch().AutoRun = autoRun ? 1 : 0;
    programmer->BeginOperation(1, range);
  }
  void Reply(const Bytes& packet) {
    const Bytes frame = FrameOf(packet);
    ReceiveData(ch(), frame.data(), static_cast<uint16_t>(frame.size()), *programmer);
  }
  void Status(uint8_t status) { Reply(MakeStatusPacket(0x95, status)); }

  // The packets the logic has sent since the last call.
  std::vector<Bytes> Sent() {
    loop.runFor(5ms);
    Bytes wire = pty.ReadUntilQuiet(20ms);
    std::vector<Bytes> packets;
    std::size_t pos = 0;
    Bytes frame(LinkChannel::kFrameCapacity);
    Bytes packet(LinkChannel::kPacketCapacity);
    for (;;) {
      std::size_t length = 0;
      if (ExtractFrame(wire, pos, frame, length, DelimiterRun::LastOpens) != ScanResult::Found) break;
      auto frameLength = static_cast<uint16_t>(length);
      const DecodeResult r = DecodeFrame(frame, frameLength, packet);
      if (r.code == kResultOk) packets.emplace_back(packet.begin(), packet.begin() + r.packetLength);
    }
    return packets;
  }
  static uint32_t Position(const Bytes& p) { return p[1] | (p[2] << 8) | (uint32_t{p[3]} << 16); }

  bool Logged(const std::string& text) const {
    return std::find(view.lines.begin(), view.lines.end(), std::string("> ") + test::kTime + " C1: " + text) !=
           view.lines.end();
  }
  bool LoggedPlainly(const std::string& text) const {
    return std::find(view.lines.begin(), view.lines.end(), Line(text)) != view.lines.end();
  }

  test::PtyPair pty;
};

TEST_F(ReplyDispatchTest, ProgramSendsEveryBlockAndEndsAfterTheLastAcknowledgement) {
  Choose("24xx512");  // 64 KiB
  Sent();
  Start(0x07, programmer->Chip.SizeKB);
  ASSERT_TRUE(programmer->SendProgramBlock(1));
  std::vector<uint32_t> positions;
  for (int block = 0; block < 16; ++block) {
    for (const Bytes& p : Sent()) positions.push_back(Position(p));
    Status(block % 2 ? 0x06 : 0x00);  // 0x06 counts as success too
  }
  EXPECT_TRUE(Sent().empty()) << "nothing after the last block";
  std::vector<uint32_t> expected;
  for (uint32_t p = 0; p < 64; p += 4) expected.push_back(p);
  EXPECT_EQ(positions, expected);
  EXPECT_EQ(ch().Busy, 0);
  EXPECT_EQ(ch().Operation, 0xF0);
  EXPECT_TRUE(Logged("操作成功！"));
}

TEST_F(ReplyDispatchTest, AutomaticRunChainsEraseProgramVerifyAndCountsTheBurn) {
  Choose("W25x10xx");  // 128 KiB flash
  Sent();
  Start(0x05, 5 * programmer->Chip.EraseTime, true);
  Status(0x00);  // erase done
  std::vector<Bytes> sent = Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0][0], kCmdProgramBlock);
  EXPECT_TRUE(Logged("Chip has been Erased, Do Programming......"));
  for (int block = 0; block < 32; ++block) Status(0x00);
  sent = Sent();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back()[0], kCmdChipOperation);
  EXPECT_EQ(sent.back()[1], kSubOpVerify);
  EXPECT_EQ(ch().Operation, 0x09);
  EXPECT_EQ(ch().TimeoutTicks, 128 / 2 + 500);
  Status(0x00);  // verified
  sent = Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0][0], kCmdFinishAutoRun);
  EXPECT_EQ(programmer->BurnCount, 1u);
  EXPECT_EQ(programmer->Controls.StatusPanel2.Caption, "烧写OK总数: 1");
  EXPECT_EQ(ch().Operation, 0xF0);
}

TEST_F(ReplyDispatchTest, VerifyAloneOnlyEnds) {
  Choose("24xx02");
  Sent();
  Start(0x09, 500);
  Status(0x00);
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(programmer->BurnCount, 0u);
  EXPECT_TRUE(Logged("操作成功！"));
}

TEST_F(ReplyDispatchTest, ErrorCodesShowTheirMessageAfterTheReceiveEvent) {
  struct Case {
    uint8_t operation;
    uint8_t status;
    const char* message;  // nullptr: no box
    const char* line;
  };
  const Case cases[] = {
      {0x0E, 0x15, nullptr, "Chip is Not Blank!"},
      {0x0E, 0x60, "接口错误或芯片未连接！", "操作失败！"},
      {0x0E, 0x00, nullptr, "Chip is Blank!"},
      {0x07, 0x99, "操作失败！错误代码: 0153", "操作失败！"},
      {0x07, 0x2D, "写Flash Memory错误！", "操作失败！"},
  };
  Choose("24xx02");
  // The blank check's message as it comes; reading the chip back after it
  // is the read-back tests' business.
  programmer->Controls.ChkBoxLocate.Checked = false;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.line);
    view.messages.clear();
    Start(k.operation, 500);
    Status(k.status);
    EXPECT_TRUE(view.messages.empty()) << "no box inside the receive event";
    loop.runFor(10ms);
    if (k.message) {
      ASSERT_EQ(view.messages.size(), 1u);
      EXPECT_EQ(view.messages[0].text, k.message);
      EXPECT_TRUE(Logged(k.message));
    } else {
      EXPECT_TRUE(view.messages.empty());
    }
    EXPECT_TRUE(Logged(k.line));
    EXPECT_EQ(ch().Busy, 0);
  }
}

TEST_F(ReplyDispatchTest, FirmwareUpgradeSendsOneChunkPerAcknowledgementThenFinishes) {
  const std::vector<uint8_t> image = test::FirmwareImage(8, 9);
  programmer->Firmware = ReadFirmwareFile(test::PackFirmware(image, "V3.20"));
  programmer->FirmwareReady = programmer->Firmware.ready;
  ASSERT_TRUE(programmer->FirmwareReady);
  ch().Identified = 0;
  programmer->StartUpgrade(1);
  EXPECT_EQ(ch().Identified, 1);
  EXPECT_EQ(ch().Operation, 0xA0);
  EXPECT_EQ(ch().Busy, 1);
  EXPECT_EQ(ch().TimeoutTicks, 500);
  EXPECT_EQ(ch().BlockEnd, 8u);
  EXPECT_EQ(programmer->Gauge(1).MaxValue, 8);
  EXPECT_TRUE(LoggedPlainly("开始升级编程器1固件......"));

  std::vector<uint8_t> expected(kFirmwareChunkPacket);
  for (uint16_t chunk = 0; chunk < 8; ++chunk) {
    SCOPED_TRACE(chunk);
    const auto address = static_cast<uint16_t>(0x2000 + 1024 * chunk);
    const std::vector<Bytes> sent = Sent();
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(BuildFirmwareChunk(expected, address, programmer->Firmware), expected.size());
    EXPECT_EQ(sent[0], expected);
    EXPECT_FALSE(LoggedPlainly("Firmware 1 Upgrade Completed!"));
    Reply(MakeStatusPacket(0xB7, 0x00));
  }
  const std::vector<Bytes> finish = Sent();
  ASSERT_EQ(finish.size(), 1u);
  EXPECT_EQ(finish[0][0], 0x8A);
  EXPECT_TRUE(LoggedPlainly("Firmware 1 Upgrade Completed!"));
  EXPECT_EQ(ch().Busy, 0);
  EXPECT_EQ(ch().Identified, 1) << "identified again only by a new search";
  EXPECT_EQ(programmer->Gauge(1).Colour, GaugeColour::Blue);

  // An error reply ends an upgrade; nothing more is sent.
  programmer->StartUpgrade(1);
  Sent();
  Reply(MakeStatusPacket(0xB7, 0x31));
  loop.runFor(10ms);
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(ch().Busy, 0);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, "数据校验错误！");

  // Without a usable file a programmer that needs an upgrade is left alone.
  programmer->FirmwareReady = false;
  ch().Identified = 0;
  programmer->StartUpgrade(1);
  EXPECT_EQ(ch().Identified, 0);
  EXPECT_EQ(ch().Busy, 0);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(ReplyDispatchTest, WrongCheckValueFailsTheOperation) {
  Choose("24xx02");
  Start(0x07, 8);
  Bytes reply = MakeStatusPacket(0x95, 0x00);
  reply[9] ^= 0x01;
  Reply(reply);
  loop.runFor(10ms);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, "数据包校验错误！");
  EXPECT_EQ(ch().Busy, 0);
}

TEST_F(ReplyDispatchTest, RepliesWhileIdleAreDroppedButProgressReportsShow) {
  Choose("24xx02");
  ch().Operation = 0xF0;
  Status(0x2D);
  loop.runFor(10ms);
  EXPECT_TRUE(view.messages.empty());

  Start(0x07, 8);
  Reply(Bytes{0xFD, 0x40, 0x00, 0x00, 0x00, 0x10, 0x00, 0xB3});
  EXPECT_TRUE(Logged(" Do Main Flash Programming...."));
  EXPECT_EQ(ch().Busy, 1) << "a progress report does not disturb the operation";
  EXPECT_EQ(ch().Operation, 0x07);
}

TEST_F(ReplyDispatchTest, ReadBlocksLandInTheImageInBothLayouts) {
  Choose("24xx16");  // 2 KiB: one block
  Sent();
  Start(0x00, programmer->Chip.SizeKB);
  Bytes data(4096);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  Reply(MakePacket(0x9B, data));
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + 2048, programmer->Image.Data.get()));
  EXPECT_TRUE(programmer->FileLoaded);
  EXPECT_TRUE(Logged("Chip Data has been read out."));

  Choose("AT45DB16E");
  Sent();
  Start(0x00, programmer->Chip.SizeKB);
  ch().BlockPos = 4;
  Reply(MakePacket(0x9B, data));  // a plain 4 KB block is too short for 528-byte pages
  EXPECT_TRUE(Logged("The programmer's reply holds no whole block of data."));
  Start(0x00, programmer->Chip.SizeKB);
  ch().BlockPos = 4;
  data.resize(8 * 528);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  Reply(MakePacket(0x9B, data));
  for (uint32_t page = 0; page < 8; ++page) {
    EXPECT_EQ(programmer->Image.Data[4096 + page * 512], data[page * 528]) << page;
    EXPECT_EQ(programmer->Image.Data[0x200000 + 128 + page * 16], data[page * 528 + 512]) << page;
  }
  const std::vector<Bytes> next = Sent();
  ASSERT_EQ(next.size(), 1u);
  EXPECT_EQ(next[0][0], kCmdReadBlock);
  EXPECT_EQ(Position(next[0]), 8u);
}

TEST_F(ReplyDispatchTest, ReadIdAndStatusLinesPerFamily) {
  Choose("W25x64xx");
  Start(0x30, 500);
  Reply(MakePacket(0x93, Bytes{0xEF, 0x40, 0x00, 0x00, 0x02, 0x00}));
  EXPECT_TRUE(Logged("Read Chip Information success: ID=0x40,0xEF, Statu Reg=0x02,0x00"));

  Choose("25xx640");
  Start(0x30, 500);
  Bytes payload(130, 0);
  payload[0] = 0x8C;
  for (int i = 0; i < 128; ++i) payload[2 + i] = static_cast<uint8_t>(i);
  Reply(MakePacket(0x93, payload));
  EXPECT_TRUE(Logged("Read Chip Statu data is : 0x8C."));
  EXPECT_TRUE(Logged("Read Chip DID data are : "));
  EXPECT_TRUE(Logged("70 71 72 73 74 75 76 77 78 79 7A 7B 7C 7D 7E 7F "));
}

TEST_F(ReplyDispatchTest, SilentOperationsTimeOutWithTheirLine) {
  Choose("24xx02");
  struct Case {
    uint8_t operation;
    const char* line;
  };
  for (const Case& k : {Case{0x03, "编程器1 ：操作超时！"}, Case{0x0E, "芯片1 ：操作超时！"}}) {
    Start(k.operation, 200);
    const int32_t ticks = ch().TimeoutTicks;
    for (int i = 0; i < ticks; ++i) programmer->Timer1Timer();
    EXPECT_NE(std::find(view.lines.begin(), view.lines.end(), k.line), view.lines.end()) << k.line;
    EXPECT_EQ(ch().Busy, 0);
    EXPECT_EQ(programmer->Gauge(1).Colour, GaugeColour::Red);
  }
}

}  // namespace
}  // namespace velkor
