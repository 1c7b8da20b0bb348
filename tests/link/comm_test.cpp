#include "link/comm.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/event_loop.hpp"
#include "support/pty_pair.hpp"

namespace velkor {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

Bytes Pattern(std::size_t count, uint8_t seed) {
  Bytes b(count);
  for (std::size_t i = 0; i < count; ++i) b[i] = static_cast<uint8_t>(seed + i * 13 + (i >> 8));
  return b;
}

class CommTest : public ::testing::Test {
 protected:
  CommTest() {
    comm.CommName = pty.SlavePath();
    comm.SetLineSettings(CommLineSettings::ProgrammerChannel());
    comm.SetTimeouts(CommTimeouts::ProgrammerChannel());
    comm.OnReceiveData = [this](TComm&, const uint8_t* buffer, uint16_t length) {
      blocks.emplace_back(buffer, buffer + length);
      terminatorsZero = terminatorsZero && buffer[length] == 0;
    };
    comm.OnRequestHangup = [this](TComm&) { ++hangups; };
    comm.OnSendDataEmpty = [this](TComm&) { ++sendEmpty; };
  }

  Bytes Received() const {
    Bytes all;
    for (const auto& b : blocks) all.insert(all.end(), b.begin(), b.end());
    return all;
  }
  bool RunUntil(const std::function<bool()>& done) { return loop.runUntil(done, 10s); }

  test::PtyPair pty;
  EventLoop loop;
  TComm comm{loop};
  std::vector<Bytes> blocks;
  bool terminatorsZero = true;
  int hangups = 0;
  int sendEmpty = 0;
};

TEST_F(CommTest, OpenFailuresRaiseTheExactMessagesAndLeaveThePortClosed) {
  struct Case {
    std::string name;
    std::string message;
  };
  for (const Case& c : {Case{"ttyVELKOR_ABSENT9", "Error opening serial port:ttyVELKOR_ABSENT9"},
                        Case{"/dev/null", "File handle is not a comm handle "}}) {
    TComm other(loop);
    other.CommName = c.name;
    try {
      other.OpenPort();
      ADD_FAILURE() << c.name << " opened";
    } catch (const ECommsError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_FALSE(other.IsOpen());
  }
}

TEST_F(CommTest, SecondOpenOfAnOpenPortFailsAndLeavesItWorking) {
  comm.OpenPort();
  try {
    comm.OpenPort();
    ADD_FAILURE() << "opened twice";
  } catch (const ECommsError& e) {
    EXPECT_EQ(std::string(e.what()), "This serial port already opened");
  }
  ASSERT_TRUE(comm.IsOpen());
  const Bytes data = Pattern(10, 1);
  ASSERT_TRUE(comm.SendData(data.data(), 10));
  EXPECT_EQ(pty.Read(10), data);
}

TEST_F(CommTest, PortInUseByAnotherComponentIsRefused) {
  comm.OpenPort();
  TComm other(loop);
  other.CommName = pty.SlavePath();
  EXPECT_THROW(other.OpenPort(), ECommsError);
  EXPECT_FALSE(other.IsOpen());
  comm.ClosePort();
  EXPECT_NO_THROW(other.OpenPort()) << "the lock goes with the close";
}

TEST_F(CommTest, SendDataRefusesClosedPortAndEmptyBlocks) {
  const Bytes data{1, 2, 3};
  EXPECT_FALSE(comm.SendData(data.data(), 3));
  comm.OpenPort();
  EXPECT_FALSE(comm.SendData(data.data(), 0));
  EXPECT_TRUE(pty.Read(1, 200ms).empty());
}

TEST_F(CommTest, BlocksAreWrittenInOrderAndInFullEvenWhenTheDriverTakesThemInParts) {
  comm.OpenPort();
  // Each block is larger than the pseudo-terminal's buffer, so the driver
  // accepts it in parts.
  Bytes first = Pattern(20000, 3);
  const Bytes second = Pattern(20000, 99);
  ASSERT_TRUE(comm.SendData(first.data(), static_cast<uint16_t>(first.size())));
  std::fill(first.begin(), first.end(), 0);  // the caller's buffer is free at once
  ASSERT_TRUE(comm.SendData(second.data(), static_cast<uint16_t>(second.size())));
  const Bytes got = pty.Read(40000);
  ASSERT_EQ(got.size(), 40000u);
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 20000), Pattern(20000, 3));
  EXPECT_EQ(Bytes(got.begin() + 20000, got.end()), second);
}

TEST_F(CommTest, BurstArrivesInBlocksOfAtMost2048BytesEachFollowedByAZero) {
  comm.OpenPort();
  const Bytes burst = Pattern(3000, 7);
  pty.Write(burst);
  ASSERT_TRUE(RunUntil([&] { return Received().size() >= burst.size(); }));
  EXPECT_EQ(Received(), burst);
  EXPECT_GE(blocks.size(), 2u);
  for (const auto& b : blocks) EXPECT_LE(b.size(), TComm::kReadBlockSize);
  EXPECT_TRUE(terminatorsZero);
}

TEST_F(CommTest, HangupIsRaisedOnceWhenTheOtherEndClosesAndThePortStaysOpen) {
  comm.OpenPort();
  pty.CloseMaster();
  ASSERT_TRUE(RunUntil([&] { return hangups > 0; }));
  loop.runFor(200ms);
  EXPECT_EQ(hangups, 1);
  EXPECT_TRUE(comm.IsOpen()) << "the owner closes the port";
  comm.ClosePort();
  EXPECT_FALSE(comm.IsOpen());
}

TEST_F(CommTest, ClosePortWithAWritePendingReturns) {
  comm.OpenPort();
  // Nobody reads the master, so the transmit thread waits for room.
  const Bytes big = Pattern(60000, 5);
  ASSERT_TRUE(comm.SendData(big.data(), static_cast<uint16_t>(big.size())));
  ASSERT_TRUE(comm.SendData(big.data(), static_cast<uint16_t>(big.size())));
  loop.runFor(50ms);
  EXPECT_FALSE(comm.SendIdle());
  comm.ClosePort();
  EXPECT_FALSE(comm.IsOpen());
  EXPECT_TRUE(comm.SendIdle());
  comm.ClosePort();  // closing a closed port does nothing
}

TEST_F(CommTest, ClosingRightAfterSendingStillSendsWhatWasHandedOver) {
  // A finishing command sent just before a new search closes the port; the
  // programmer reads as the bytes come.
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    comm.OpenPort();
    const Bytes last = Pattern(12, static_cast<uint8_t>(round));
    const Bytes before = Pattern(4106, 3);
    Bytes wire;
    std::thread programmer([&] { wire = pty.Read(before.size() + last.size(), 2s); });
    ASSERT_TRUE(comm.SendData(before.data(), static_cast<uint16_t>(before.size())));
    ASSERT_TRUE(comm.SendData(last.data(), static_cast<uint16_t>(last.size())));
    comm.ClosePort();
    programmer.join();
    ASSERT_EQ(wire.size(), before.size() + last.size());
    EXPECT_TRUE(std::equal(last.begin(), last.end(), wire.end() - static_cast<std::ptrdiff_t>(last.size())));
  }
}

TEST_F(CommTest, SendDataEmptyFiresOnceAtOpenAndOnceEachTimeTheQueueDrains) {
  comm.OpenPort();
  ASSERT_TRUE(RunUntil([&] { return sendEmpty == 1; }));
  const Bytes data = Pattern(200, 1);
  comm.SendData(data.data(), 200);
  ASSERT_EQ(pty.Read(200).size(), 200u);
  ASSERT_TRUE(RunUntil([&] { return sendEmpty == 2; }));
  loop.runFor(100ms);
  EXPECT_EQ(sendEmpty, 2);
  EXPECT_TRUE(comm.SendIdle());
}

TEST_F(CommTest, LineSettingsOfTheChannelAreAppliedAndChangesReappliedAtOnce) {
  comm.OpenPort();
  auto applied = comm.AppliedLine();
  EXPECT_EQ(applied.baudRate, 1000000u);
  EXPECT_EQ(applied.dataBits, 8);
  EXPECT_EQ(applied.stopBits, 2);

  CommLineSettings s = comm.LineSettings();
  s.BaudRate = 250000;  // not in the fixed table
  comm.SetLineSettings(s);
  EXPECT_EQ(comm.AppliedLine().baudRate, 250000u);
  s.BaudRate = 115200;
  comm.SetLineSettings(s);
  EXPECT_EQ(comm.AppliedLine().baudRate, 115200u);
}

TEST(LineSettingsTest, EveryPropertyButParityReappliesAtOnce) {
  const CommLineSettings base = CommLineSettings::ProgrammerChannel();
  struct Case {
    const char* name;
    std::function<void(CommLineSettings&)> change;
    bool reapplies;
  };
  const Case cases[] = {
      {"nothing", [](CommLineSettings&) {}, false},
      {"parity", [](CommLineSettings& s) { s.Parity = TParity::Even; }, false},
      {"baud", [](CommLineSettings& s) { s.BaudRate = 9600; }, true},
      {"stop bits", [](CommLineSettings& s) { s.StopBits = TStopBits::_1; }, true},
      {"xon char", [](CommLineSettings& s) { s.XonChar = 0x11; }, true},
      {"rts", [](CommLineSettings& s) { s.RtsControl = TRtsControl::RtsEnable; }, true},
      {"parity and baud",
       [](CommLineSettings& s) {
         s.Parity = TParity::Odd;
         s.BaudRate = 57600;
       },
       true},
  };
  for (const Case& c : cases) {
    CommLineSettings after = base;
    c.change(after);
    EXPECT_EQ(ReappliesAtOnce(base, after), c.reapplies) << c.name;
  }
}

TEST_F(CommTest, NotificationsOfAClosedSessionAreDropped) {
  comm.OpenPort();
  pty.Write(Pattern(100, 1));
  // Give the receive thread time to read and post the block, without running
  // the loop that would deliver it.
  std::this_thread::sleep_for(200ms);
  comm.ClosePort();
  comm.OpenPort();
  loop.runFor(100ms);
  EXPECT_TRUE(blocks.empty()) << "a block of the earlier session reached the handler";
}

TEST(DevicePathTest, NamesLiveUnderDevAndPathsStayAsTheyAre) {
  EXPECT_EQ(DevicePathOf("ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(DevicePathOf("/dev/pts/7"), "/dev/pts/7");
}

}  // namespace
}  // namespace velkor
