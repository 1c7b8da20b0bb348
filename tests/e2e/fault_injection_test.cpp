// One programmer misbehaving while the other works beside it, end to end on
// two simulated programmers (one simulator process each, so that the fault
// strikes one of them only). Every fault of the table strikes programmer 1
// in one run and programmer 2 in another.
//
// Programmer 1 reads its chip block by block (reads run on programmer 1
// only); at the same time programmer 2 downloads the job when the fault is
// its own, and verifies its chip when the fault is programmer 1's (a
// download would send image blocks that programmer 1's read is rewriting).
// Each run checks that the faulty programmer's operation ends the way the
// program says it does, within its time-out; that the other one finishes
// with the right data; that read data received before the fault stays in
// the image; that both programmers take the next operation; and that no
// serial thread outlives its port.
#include <gtest/gtest.h>

#include <dirent.h>

#include <cstring>
#include <string>
#include <vector>

#include "simulated_programmers.hpp"
#include "support/files.hpp"

namespace velkor {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kChipBytes = 64 * 1024;
constexpr uint32_t kChipKB = kChipBytes / 1024;
constexpr const char* kOk = "操作成功！";
constexpr const char* kFailed = "操作失败！";
constexpr const char* kPortGone = "The programmer's port went away and was closed.";
constexpr const char* kNoWholeBlock = "The programmer's reply holds no whole block of data.";

enum class Outcome {
  TimesOut,          // the time-out line, then a failed operation
  Fails,             // a failed operation with a reason (line, and a box where the program shows one)
  HangsUp,           // the port is closed and the programmer forgotten
  Succeeds,          // the fault is absorbed
  NotIdentified,     // the search does not take the programmer
};

// The fault as it strikes one of the programmers.
struct Strike {
  std::vector<std::string> simulator;  // the faulty programmer's simulator options
  Outcome outcome;
  uint32_t atKB = 0;      // the transfer stops before the block at this position (KB)
  int ticks = 0;          // TimesOut: the time-out in force once the replies stop (10 ms ticks)
  std::string reason = {};  // TimesOut, Fails: the line that says why
  bool box = false;       // Fails: the reason is shown in an error box too
  bool staysSilent = false;  // the programmer answers nothing after the fault
};

struct Fault {
  std::string name;
  Strike reader;      // on programmer 1, reading blocks
  Strike downloader;  // on programmer 2, downloading
};

// Requests are numbered from 1 by the simulator, the identification query
// being the first. Programmer 1's read asks for the block at 4k KB in
// request k + 2, so 2, 9 and 17 ask for the first, a middle and the last
// block; programmer 2's download sends the start packet in request 2 and
// the block at 4k KB in request k + 3.
std::vector<Fault> FaultTable() {
  using O = Outcome;
  std::vector<Fault> table = {
      {"DroppedReplyFirstBlock",
       {.simulator = {"--drop-reply", "2"}, .outcome = O::TimesOut, .atKB = 0, .ticks = 1000,
        .reason = "芯片1 ：操作超时！"},
       {.simulator = {"--drop-reply", "3"}, .outcome = O::TimesOut, .atKB = 0, .ticks = 300,
        .reason = "编程器2 ：操作超时！"}},
      {"DroppedReplyMiddleBlock",
       {.simulator = {"--drop-reply", "9"}, .outcome = O::TimesOut, .atKB = 28, .ticks = 200,
        .reason = "芯片1 ：操作超时！"},
       {.simulator = {"--drop-reply", "10"}, .outcome = O::TimesOut, .atKB = 28, .ticks = 300,
        .reason = "编程器2 ：操作超时！"}},
      {"DroppedReplyLastBlock",
       {.simulator = {"--drop-reply", "17"}, .outcome = O::TimesOut, .atKB = 60, .ticks = 200,
        .reason = "芯片1 ：操作超时！"},
       {.simulator = {"--drop-reply", "18"}, .outcome = O::TimesOut, .atKB = 60, .ticks = 300,
        .reason = "编程器2 ：操作超时！"}},
      // Replies with a check value are counted apart: the third is the
      // read's block at 8 KB, and the download's block at 4 KB.
      {"CorruptedCheckValue",
       {.simulator = {"--corrupt-reply", "3"}, .outcome = O::Fails, .atKB = 8, .reason = "数据包校验错误！",
        .box = true},
       {.simulator = {"--corrupt-reply", "3"}, .outcome = O::Fails, .atKB = 4, .reason = "数据包校验错误！",
        .box = true}},
      {"NoiseBetweenFrames",
       {.simulator = {"--noise", "C012DB41C0FFC0C05AA5"}, .outcome = O::Succeeds},
       {.simulator = {"--noise", "C012DB41C0FFC0C05AA5"}, .outcome = O::Succeeds}},
      {"EveryReplyInOneByteWrites",
       {.simulator = {"--split", "1", "--split-delay-us", "10"}, .outcome = O::Succeeds},
       {.simulator = {"--split", "1", "--split-delay-us", "10"}, .outcome = O::Succeeds}},
      {"StallLongerThanTheTimeOut",
       {.simulator = {"--stall-after", "5"}, .outcome = O::TimesOut, .atKB = 16, .ticks = 200,
        .reason = "芯片1 ：操作超时！", .staysSilent = true},
       {.simulator = {"--stall-after", "5"}, .outcome = O::TimesOut, .atKB = 12, .ticks = 300,
        .reason = "编程器2 ：操作超时！", .staysSilent = true}},
      // The rest of a reply is lost and the programmer waits for the next
      // request: what it sent of the frame must not spoil the next reply.
      {"ReplyBrokenOffMidFrame",
       {.simulator = {"--cut-reply", "5"}, .outcome = O::TimesOut, .atKB = 12, .ticks = 200,
        .reason = "芯片1 ：操作超时！"},
       {.simulator = {"--cut-reply", "5"}, .outcome = O::TimesOut, .atKB = 8, .ticks = 200,
        .reason = "编程器2 ：操作超时！"}},
      {"HangUpMidTransfer",
       {.simulator = {"--hang-up-after", "4"}, .outcome = O::HangsUp, .atKB = 16},
       {.simulator = {"--hang-up-after", "4"}, .outcome = O::HangsUp, .atKB = 16}},
      {"HangUpInTheMiddleOfAFrame",
       {.simulator = {"--hang-up-in-reply", "5"}, .outcome = O::HangsUp, .atKB = 12},
       {.simulator = {"--hang-up-in-reply", "5"}, .outcome = O::HangsUp, .atKB = 8}},
      // The host goes by what it asked for: a status reply where a block of
      // data belongs ends the read; a block of data where a status belongs
      // is a reply with a payload, which counts as done (the programmer did
      // store the block).
      {"AnotherCommandsReply",
       {.simulator = {"--wrong-reply", "6"}, .outcome = O::Fails, .atKB = 16, .reason = kNoWholeBlock},
       {.simulator = {"--wrong-reply", "6"}, .outcome = O::Succeeds}},
      {"GarbageInsteadOfIdentification",
       {.simulator = {"--garbage-identification"}, .outcome = O::NotIdentified},
       {.simulator = {"--garbage-identification"}, .outcome = O::NotIdentified}},
  };
  struct Status {
    const char* code;
    const char* message;
  };
  const Status statuses[] = {
      {"0x20", "数据包错误！"},       {"0x23", "数据包校验错误！"},     {"0x25", "不认识的命令！"},
      {"0x2C", "Flash Memory错误！"}, {"0x2D", "写Flash Memory错误！"}, {"0x31", "数据校验错误！"},
      {"0x34", "芯片校验和不正确！"}, {"0x36", "芯片类型不正确！"},     {"0x38", "芯片厂家型号不正确！"},
      {"0x40", "命令执行超时!"},      {"0x45", "命令执行错误"},         {"0x60", "接口错误或芯片未连接！"},
      {"0x77", "操作失败！错误代码: 0119"},
  };
  for (const Status& s : statuses) {
    const auto failing = [&s](const char* command) {
      return Strike{.simulator = {"--fail", std::string(command) + "@16=" + s.code},
                    .outcome = O::Fails,
                    .atKB = 16,
                    .reason = s.message,
                    .box = true};
    };
    table.push_back({std::string("ErrorStatus") + s.code, failing("0x9B"), failing("0x55")});
  }
  return table;
}

std::size_t ThreadCount() {
  std::size_t count = 0;
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (const dirent* entry = readdir(tasks))
      if (entry->d_name[0] != '.') ++count;
    closedir(tasks);
  }
  return count;
}

std::vector<uint8_t> RandomBytes(std::size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(n);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

struct Run {
  const Fault* fault;
  int channel;  // the faulty programmer
};
void PrintTo(const Run& run, std::ostream* out) { *out << run.fault->name << " on programmer " << run.channel; }

class FaultInjectionTest : public test::SimulatedProgrammersTest, public ::testing::WithParamInterface<Run> {
 protected:
  const Strike& strike() const {
    return GetParam().channel == 1 ? GetParam().fault->reader : GetParam().fault->downloader;
  }
  int faulty() const { return GetParam().channel; }
  int good() const { return 3 - GetParam().channel; }
  LinkChannel& Channel(int n) { return programmer->Channels.Channel(n); }
  void Run(void (TQNProgrammer::*command)()) {
    programmer->RunCommand([&] { (programmer.get()->*command)(); });
  }
  std::vector<uint8_t> ImageBytes(uint32_t from, uint32_t to) const {
    return {programmer->Image.Data.get() + from, programmer->Image.Data.get() + to};
  }
  // Drives the time-out timer by hand until channel n is idle; the ticks it took.
  int TickUntilIdle(int n) {
    int ticks = 0;
    while (!Idle(n) && ticks < 70000) {
      programmer->Timer1Timer();
      ++ticks;
    }
    return ticks;
  }
  // Where channel n's transfer stands: for a download, nothing before the
  // start packet's answer.
  bool StandsAt(int n, uint32_t kb) {
    const LinkChannel& ch = Channel(n);
    return ch.BlockPos == kb && (ch.Operation != 0x03 || ch.DownloadPhase == 1);
  }
  // The data as an object-file load puts it into the image.
  void Load(const std::vector<uint8_t>& data) {
    std::copy(data.begin(), data.end(), programmer->Image.Data.get());
    programmer->FileLoaded = true;
    programmer->RecomputeImage();
  }
};

TEST_P(FaultInjectionTest, TheFaultyProgrammerStopsAsTheProgramSaysAndTheOtherOneIsUndisturbed) {
  const Strike& s = strike();
  const std::size_t threadsBefore = ThreadCount();

  // Programmer 1's chip holds one pattern, programmer 2's the image's.
  const std::vector<uint8_t> chip1 = RandomBytes(kChipBytes, 11);
  const std::vector<uint8_t> image = RandomBytes(kChipBytes, 22);
  test::WriteFile(directory / "chip1.bin", std::string(chip1.begin(), chip1.end()));
  test::WriteFile(directory / "chip2.bin", std::string(image.begin(), image.end()));
  std::vector<std::vector<std::string>> options = {
      {"--capability", "0x32", "--chip-content", (directory / "chip1.bin").string()},
      {"--capability", "0x32", "--chip-content", (directory / "chip2.bin").string()}};
  options[faulty() - 1].insert(options[faulty() - 1].end(), s.simulator.begin(), s.simulator.end());

  auto first = StartSimulator(1, options[0]);
  auto second = StartSimulator(1, options[1]);
  ASSERT_TRUE(first && second);
  const uint8_t found = s.outcome == Outcome::NotIdentified ? 1 : 2;
  ShowOn({first->Ports()[0], second->Ports()[0]}, found);
  if (s.outcome == Outcome::NotIdentified) {
    ASSERT_TRUE(loop.runUntil([&] { return Logged(ChannelLine(faulty(), "No Device Found!")); }, 10s));
    EXPECT_EQ(Channel(faulty()).Identified, 0);
  }
  Choose("W25x05xx");
  Load(image);
  ASSERT_EQ(programmer->Chip.SizeKB, kChipKB);
  view.messages.clear();
  view.lines.clear();

  // Both at once: programmer 1 reads; programmer 1 being busy, the next
  // command starts on programmer 2 alone.
  Run(&TQNProgrammer::SpeedButtonRDClick);
  Run(faulty() == 2 ? &TQNProgrammer::SpdBtnDownLoadClick : &TQNProgrammer::SpdBtnVerifyClick);

  if (s.outcome == Outcome::TimesOut) {
    ASSERT_TRUE(loop.runUntil([&] { return Idle(good()) && StandsAt(faulty(), s.atKB); }, 30s));
    loop.runFor(150ms);  // nothing more arrives
    ASSERT_FALSE(Idle(faulty()));
    EXPECT_TRUE(StandsAt(faulty(), s.atKB));
    const int remaining = Channel(faulty()).TimeoutTicks;
    EXPECT_LE(remaining, s.ticks);
    EXPECT_GT(remaining, s.ticks - 100) << "another time-out is in force";
    EXPECT_EQ(TickUntilIdle(faulty()), remaining);
    EXPECT_TRUE(LoggedLine(s.reason));
    EXPECT_TRUE(LoggedLine(ChannelLine(faulty(), kFailed)));
    EXPECT_EQ(programmer->Gauge(faulty()).Colour, GaugeColour::Red);
  } else {
    ASSERT_TRUE(RunToIdle(30s));
    loop.runFor(30ms);  // a failure's box comes after the receive event
  }

  switch (s.outcome) {
    case Outcome::TimesOut:
      EXPECT_TRUE(view.messages.empty());
      break;
    case Outcome::Fails:
      EXPECT_EQ(Channel(faulty()).BlockPos, s.atKB);
      EXPECT_TRUE(LoggedLine(ChannelLine(faulty(), s.reason)));
      EXPECT_TRUE(LoggedLine(ChannelLine(faulty(), kFailed)));
      EXPECT_EQ(programmer->Gauge(faulty()).Colour, GaugeColour::Red);
      if (s.box) {
        ASSERT_EQ(view.messages.size(), 1u);
        EXPECT_EQ(view.messages[0].kind, MessageKind::Error);
        EXPECT_EQ(view.messages[0].text, s.reason);
      } else {
        EXPECT_TRUE(view.messages.empty());
      }
      break;
    case Outcome::HangsUp:
      EXPECT_EQ(Channel(faulty()).BlockPos, s.atKB);
      EXPECT_TRUE(LoggedLine(ChannelLine(faulty(), kPortGone)));
      EXPECT_FALSE(programmer->Channels.Port(faulty()).IsOpen());
      EXPECT_EQ(Channel(faulty()).Identified, 0);
      EXPECT_TRUE(view.messages.empty());
      break;
    case Outcome::Succeeds:
      EXPECT_TRUE(LoggedLine(ChannelLine(faulty(), kOk)));
      EXPECT_TRUE(view.messages.empty());
      break;
    case Outcome::NotIdentified:
      // The read needs programmer 1 and says so; programmer 2 is skipped.
      if (faulty() == 1) {
        ASSERT_EQ(view.messages.size(), 1u);
        EXPECT_EQ(view.messages[0].text, "请连接好设备！");
      } else {
        EXPECT_TRUE(view.messages.empty());
        EXPECT_FALSE(Logged("编程器 2 ：下载数据......"));
      }
      break;
  }
  if (s.outcome != Outcome::Succeeds) {
    EXPECT_FALSE(LoggedLine(ChannelLine(faulty(), kOk)));
  }

  // The other programmer finished, with the right data.
  EXPECT_TRUE(LoggedLine(ChannelLine(good(), kOk)));
  EXPECT_FALSE(LoggedLine(ChannelLine(good(), kFailed)));
  EXPECT_EQ(programmer->Gauge(good()).Colour, GaugeColour::Blue);
  if (good() == 1) {
    EXPECT_TRUE(LoggedLine(ChannelLine(1, "Chip Data has been read out.")));
    EXPECT_TRUE(ImageBytes(0, kChipBytes) == chip1) << "programmer 1's chip read back differs";
  }
  // What programmer 1 read before its fault stays in the image; the rest
  // of the image is untouched.
  if (faulty() == 1) {
    const uint32_t readKB = s.outcome == Outcome::Succeeds        ? kChipKB
                            : s.outcome == Outcome::NotIdentified ? 0
                                                                  : s.atKB;
    const uint32_t split = readKB * 1024;
    EXPECT_TRUE(ImageBytes(0, split) == std::vector<uint8_t>(chip1.begin(), chip1.begin() + split))
        << "read data before " << readKB << " KB";
    EXPECT_TRUE(ImageBytes(split, kChipBytes) == std::vector<uint8_t>(image.begin() + split, image.end()))
        << "image after " << readKB << " KB";
  }

  // Both programmers that are still there take the next operation.
  view.lines.clear();
  view.messages.clear();
  Run(&TQNProgrammer::SpdBtnEraseClick);
  const bool faultyThere = s.outcome != Outcome::HangsUp && s.outcome != Outcome::NotIdentified;
  EXPECT_EQ(LoggedLine(Line("芯片 " + std::to_string(faulty()) + " ：芯片擦除......")), faultyThere);
  ASSERT_TRUE(loop.runUntil([&] { return Idle(good()); }, 10s));
  if (s.staysSilent) {
    const int erase = 5 * programmer->Chip.EraseTime;
    EXPECT_LE(TickUntilIdle(faulty()), erase);
    EXPECT_TRUE(LoggedLine(std::string("芯片") + std::to_string(faulty()) + " ：操作超时！"));
  } else {
    ASSERT_TRUE(RunToIdle(10s));
    if (faultyThere) {
      EXPECT_TRUE(LoggedLine(ChannelLine(faulty(), kOk))) << ::testing::PrintToString(view.lines);
    }
  }
  EXPECT_TRUE(LoggedLine(ChannelLine(good(), kOk)));
  EXPECT_TRUE(view.messages.empty());

  // With both ports closed, none of their threads is left.
  programmer->BitBtnFreshClick();
  EXPECT_FALSE(programmer->Channels.Port(1).IsOpen());
  EXPECT_FALSE(programmer->Channels.Port(2).IsOpen());
  EXPECT_EQ(ThreadCount(), threadsBefore);
}

std::vector<Run> AllRuns() {
  static const std::vector<Fault> table = FaultTable();
  std::vector<Run> runs;
  for (const Fault& f : table)
    for (int channel : {1, 2}) runs.push_back({&f, channel});
  return runs;
}

INSTANTIATE_TEST_SUITE_P(Table, FaultInjectionTest, ::testing::ValuesIn(AllRuns()),
                         [](const ::testing::TestParamInfo<Run>& run) {
                           return run.param.fault->name + "OnProgrammer" + std::to_string(run.param.channel);
                         });

}  // namespace
}  // namespace velkor
