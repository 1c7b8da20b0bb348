// Finding programmers end to end: the main window's logic opens the
// simulator's pseudo-terminals through its own serial layer, sends the
// identification query, reassembles the reply and identifies the programmer.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "simulated_programmers.hpp"
#include "support/pty_pair.hpp"

namespace velkor {
namespace {

using namespace std::chrono_literals;

using DiscoveryTest = test::SimulatedProgrammersTest;

TEST_F(DiscoveryTest, TwoProgrammersAreIdentifiedOnTheirChannels) {
  sim = StartSimulator(2);
  ASSERT_TRUE(sim);
  ShowOn(sim->Ports(), 2);
  for (int n : {1, 2}) {
    EXPECT_EQ(programmer->DeviceName[n - 1], "Velkor350QN V3.10");
    EXPECT_EQ(programmer->Channels.Channel(n).Operation, 0xF0);
    EXPECT_TRUE(programmer->Gauge(n).Enabled);
    EXPECT_TRUE(LoggedLine(ChannelLine(n, "Find Device: Velkor350QN V3.10!")));
    EXPECT_TRUE(LoggedLine("编程器" + std::to_string(n) + " ：没有设定序列号烧写功能！"));
  }
  EXPECT_TRUE(LoggedLine(Line("Checking Device 1 In " + sim->Ports()[0] + "............")));
  EXPECT_EQ(programmer->Controls.InfoPanel.Caption, "Velkor350QN V3.10");
  EXPECT_TRUE(programmer->FastReadCapable);
  EXPECT_EQ(programmer->Controls.ComboBoxCOM.ItemIndex, 1) << "the last listed port is shown";
}

TEST_F(DiscoveryTest, SerialNumberSettingsOfTheProgrammerAreReported) {
  sim = StartSimulator(1, {"--sn-enabled", "--sn-increment", "0", "--sn-address", "0x1234FFF0", "--sn-initial",
                                "0x100", "--sn-current", "0x1A0", "--capability", "0x32"});
  ASSERT_TRUE(sim);
  ShowOn(sim->Ports(), 1);
  EXPECT_TRUE(LoggedLine("编程器1 ：有设定序列号烧写功能!"));
  EXPECT_TRUE(LoggedLine(" 序列号初始值设定为：0x00000100.  增量为: 1")) << "an increment of 0 reads as 1";
  EXPECT_TRUE(LoggedLine(" 序列号的起始地址为：0x1234FFF0"));
  EXPECT_TRUE(LoggedLine(" 当前序列号为：      0x000001A0"));
  EXPECT_FALSE(programmer->FastReadCapable) << "capability byte 0x32 does not announce streamed reads";
}

TEST_F(DiscoveryTest, OnlyProgrammerOnesCapabilityDecidesHowChipsAreRead) {
  // Programmer 2 may answer after programmer 1; its capability must not
  // change how programmer 1 reads.
  for (const auto& [first, second, streamed] : {std::tuple{"0x32", "0x33", false}, std::tuple{"0x33", "0x32", true}}) {
    auto one = StartSimulator(1, {"--capability", first});
    auto two = StartSimulator(1, {"--capability", second});
    ASSERT_TRUE(one && two);
    ShowOn({one->Ports()[0], two->Ports()[0]}, 2);
    EXPECT_EQ(programmer->FastReadCapable, streamed) << "programmer 1 " << first << ", programmer 2 " << second;
    programmer->BitBtnFreshClick();  // closes both ports before their simulators end
    programmer->FormClose();
    programmer = std::make_unique<TQNProgrammer>(loop, view);
  }
}

TEST_F(DiscoveryTest, OlderFirmwareAndTheShortStringAreHandedToTheUpgrade) {
  struct Case {
    std::vector<std::string> args;
    std::string fileVersion;
    bool identified;
  };
  const Case cases[] = {
      {{"--version-text", "V1.2"}, "V1.3", false},
      {{"--version-text", "V1.2"}, "V1.2", true},
      {{"--version-text", "V1.2"}, "V1.1", true},
      {{"--name", "VelkorQN"}, "", false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.args.back() + " against " + k.fileVersion);
    sim = StartSimulator(1, k.args);
    ASSERT_TRUE(sim);
    programmer->FirmwareVersion = k.fileVersion;
    programmer->ExplicitPorts = sim->Ports();
    view.lines.clear();
    programmer->BitBtnFindCOMClick();
    ASSERT_TRUE(loop.runUntil([&] { return view.lines.size() >= 2; }, 10s));
    loop.runFor(100ms);
    EXPECT_EQ(programmer->Channels.Channel(1).Identified, k.identified ? 1 : 0);
    EXPECT_EQ(programmer->DevicesFound, k.identified ? 1 : 0);
  }
}

TEST_F(DiscoveryTest, OnlyTheFirstTwoOfThreePortsAreProbed) {
  sim = StartSimulator(3);
  ASSERT_TRUE(sim);
  ShowOn(sim->Ports(), 2);
  EXPECT_EQ(programmer->Controls.ComboBoxCOM.Items.size(), 3u);
  EXPECT_EQ(programmer->Controls.ComboBoxCOM.ItemIndex, 2);
  EXPECT_FALSE(LoggedLine(Line("Checking Device 3 In " + sim->Ports()[2] + "............")));
}

TEST_F(DiscoveryTest, OnePortLeavesChannelTwoClosedAndNoPortSaysSo) {
  sim = StartSimulator(1);
  ASSERT_TRUE(sim);
  ShowOn(sim->Ports(), 1);
  EXPECT_FALSE(programmer->Channels.Port(2).IsOpen());

  programmer->ExplicitPorts = {"/dev/velkor-absent-port"};
  programmer->BitBtnFindCOMClick();
  EXPECT_EQ(programmer->DevicesFound, 0);
  EXPECT_TRUE(programmer->Controls.ComboBoxCOM.Items.empty());
  EXPECT_EQ(programmer->Controls.ComboBoxCOM.Text, "No Device Avalible");
  EXPECT_FALSE(programmer->Channels.Port(1).IsOpen());
}

TEST_F(DiscoveryTest, AnUnusableNamedPortIsLoggedAndKeepsItsPlaceInTheNumbering) {
  // A port held by this test with the lock every careful serial program
  // takes, as a terminal program would hold it.
  test::PtyPair held;
  const int holder = ::open(held.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  sim = StartSimulator(1);
  ASSERT_TRUE(sim);
  struct Case {
    std::string unusable;
    std::string why;
  };
  const Case cases[] = {
      {"/dev/velkor-absent-port", "it does not exist"},
      {"/dev/null", "it is not a serial device"},
      {held.SlavePath(), "it is in use by PID " + std::to_string(::getpid())},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.unusable);
    view.lines.clear();
    programmer->ExplicitPorts = {k.unusable, sim->Ports()[0]};
    programmer->BitBtnFindCOMClick();
    ASSERT_TRUE(loop.runUntil([&] { return programmer->DevicesFound == 1; }, 10s));
    EXPECT_EQ(programmer->Channels.Channel(2).Identified, 1) << "the second named port is programmer 2";
    EXPECT_EQ(programmer->Channels.Channel(1).Identified, 0);
    EXPECT_FALSE(programmer->Channels.Port(1).IsOpen());
    EXPECT_TRUE(LoggedLine(Line("Checking Device 2 In " + sim->Ports()[0] + "............")));
    EXPECT_TRUE(Logged("Port " + k.unusable + " is not searched: " + k.why)) << ::testing::PrintToString(view.lines);
  }
  programmer->BitBtnFreshClick();
  ::close(holder);
}

TEST_F(DiscoveryTest, SimulatorGoingAwayClosesThePortsAndEmptiesTheList) {
  sim = StartSimulator(2);
  ASSERT_TRUE(sim);
  ShowOn(sim->Ports(), 2);
  sim.reset();
  ASSERT_TRUE(loop.runUntil(
      [&] { return !programmer->Channels.Port(1).IsOpen() && !programmer->Channels.Port(2).IsOpen(); }, 10s));
  EXPECT_EQ(programmer->Channels.Channel(1).Identified, 0);
  EXPECT_FALSE(programmer->Gauge(2).Enabled);
  EXPECT_TRUE(programmer->Controls.ComboBoxCOM.Items.empty());
  EXPECT_EQ(programmer->Controls.ComboBoxCOM.Text, "请选择通讯口......");
}

}  // namespace
}  // namespace velkor
