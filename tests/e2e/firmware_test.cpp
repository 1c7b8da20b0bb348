// Firmware upgrades end to end: programmers with old firmware, or that
// answer with the short identification string, are upgraded chunk by chunk
// from the firmware file the program found at start-up; their boot loader
// checks every chunk against the file it expects, and a new search finds
// them with the new version.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "simulated_programmers.hpp"
#include "support/pty_pair.hpp"

namespace velkor {
namespace {

using namespace std::chrono_literals;

class FirmwareTest : public test::SimulatedProgrammersTest {
 protected:
  // The simulated boot loaders expect the file the program reads.
  std::vector<std::string> Expecting(std::vector<std::string> args) {
    args.insert(args.end(), {"--firmware-file", (directory / kFirmwareFileName).string()});
    return args;
  }
  bool UpgradeCompleted(int n) { return LoggedLine(Line("Firmware " + std::to_string(n) + " Upgrade Completed!")); }
  void SearchAgain(uint8_t expectFound) {
    programmer->BitBtnFindCOMClick();
    ASSERT_TRUE(loop.runUntil([&] { return programmer->DevicesFound == expectFound; }, 10s));
    loop.runFor(50ms);
  }
};

TEST_F(FirmwareTest, OldProgrammersAreUpgradedAtDiscoveryAndFoundWithTheNewVersion) {
  sim = StartSimulator(2, Expecting({"--version-text", "V1.00"}));
  ASSERT_TRUE(sim);
  programmer->ExplicitPorts = sim->Ports();
  programmer->FormShow();
  ASSERT_TRUE(programmer->FirmwareReady);
  ASSERT_TRUE(loop.runUntil([&] { return UpgradeCompleted(1) && UpgradeCompleted(2); }, 20s));
  for (int n = 1; n <= 2; ++n) {
    SCOPED_TRACE(n);
    EXPECT_TRUE(LoggedLine(Line("开始升级编程器" + std::to_string(n) + "固件......")));
    EXPECT_TRUE(LoggedLine(ChannelLine(n, "操作成功！")));
    EXPECT_EQ(programmer->Gauge(n).MaxValue, 8);
    EXPECT_EQ(programmer->Gauge(n).Colour, GaugeColour::Blue);
    EXPECT_FALSE(LoggedLine(ChannelLine(n, "Find Device: Velkor350QN V1.00!")));
  }
  EXPECT_EQ(programmer->DevicesFound, 0) << "upgraded programmers are found by the next search";
  EXPECT_TRUE(view.messages.empty());

  // Their boot loaders took every chunk as the file has it: they now report
  // the file's version.
  view.lines.clear();
  SearchAgain(2);
  for (int n = 1; n <= 2; ++n) EXPECT_TRUE(LoggedLine(ChannelLine(n, "Find Device: Velkor350QN V3.10!")));
  EXPECT_FALSE(LoggedLine(Line("开始升级编程器1固件......")));
}

TEST_F(FirmwareTest, AProgrammerAnsweringTheShortStringIsUpgradedToo) {
  Connect(1);  // a current programmer as programmer 1 first, then the one to upgrade
  auto old = StartSimulator(1, Expecting({"--name", "VelkorQN", "--version-text", "V0.1"}));
  ASSERT_TRUE(old);
  programmer->ExplicitPorts = old->Ports();
  view.lines.clear();
  programmer->BitBtnFindCOMClick();
  ASSERT_TRUE(loop.runUntil([&] { return UpgradeCompleted(1); }, 20s));
  SearchAgain(1);
  EXPECT_TRUE(LoggedLine(ChannelLine(1, "Find Device: Velkor350QN V3.10!")));
}

TEST_F(FirmwareTest, MenuCommandUpgradesTheFoundProgrammersUnlessTheFileIsGone) {
  Connect(2, Expecting({}));
  ASSERT_EQ(programmer->DevicesFound, 2);
  view.questionAnswers = {true};
  programmer->RunCommand([&] { programmer->DoFirmwareUpgrade1Click(); });
  EXPECT_EQ(view.questions, std::vector<std::string>{"Upgrade the firmware of programmer 1 (Velkor350QN V3.10) to V3.10?\n"
                                                     "Upgrade the firmware of programmer 2 (Velkor350QN V3.10) to V3.10?"});
  ASSERT_TRUE(loop.runUntil([&] { return UpgradeCompleted(1) && UpgradeCompleted(2); }, 20s));
  EXPECT_TRUE(view.messages.empty());

  // The file removed: the menu says so and later searches upgrade nothing.
  std::filesystem::remove(directory / kFirmwareFileName);
  programmer->RunCommand([&] { programmer->DoFirmwareUpgrade1Click(); });
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, "文件\"VelkorQN_EDF.VFR\"没有找到，请确认！");
  EXPECT_FALSE(programmer->FirmwareReady);

  auto old = StartSimulator(1, {"--version-text", "V1.00"});
  ASSERT_TRUE(old);
  programmer->ExplicitPorts = old->Ports();
  view.lines.clear();
  programmer->BitBtnFindCOMClick();
  ASSERT_TRUE(loop.runUntil(
      [&] {
        // With the reason the file cannot be used.
        return Logged(
            ChannelLine(1, "The programmer's firmware must be upgraded, but no usable firmware file was loaded ("));
      },
      10s));
  EXPECT_EQ(programmer->DevicesFound, 0);
  EXPECT_FALSE(programmer->Channels.Channel(1).Busy);
}

// Programmer 1's port is open but silent, programmer 2 identified itself
// with old firmware: the menu command asks about programmer 2 alone and,
// after Yes, upgrades it alone. What reaches the silent port is read on the
// far side of its pseudo-terminal; the simulated boot loader says what it
// received.
TEST_F(FirmwareTest, MenuCommandAsksThenUpgradesExactlyTheIdentifiedProgrammers) {
  const std::vector<uint8_t> identifyQuery = {0xC0, 0xA3, 0xA5, 0x35, 0xC0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  const std::string question = "Upgrade the firmware of programmer 2 (Velkor350QN V3.00) to V3.10?";
  test::PtyPair silent;
  const std::filesystem::path simLog = directory / "sim.log";
  std::string error;
  sim = SimulatorProcess::Start(FindSimulatorProgram(), Expecting({"--count", "1", "--version-text", "V3.00"}), 1, 10s,
                                error, simLog.string());
  ASSERT_TRUE(sim) << error;
  const auto simSaid = [&] {
    std::ifstream log(simLog);
    return std::string(std::istreambuf_iterator<char>(log), {});
  };
  // Found as it is, so that it is identified with its old firmware.
  programmer->UpgradeWhenFound = false;
  ShowOn({silent.SlavePath(), sim->Ports()[0]}, 1);
  ASSERT_TRUE(programmer->Channels.Port(1).IsOpen());
  ASSERT_FALSE(programmer->Channels.Channel(1).Identified);
  ASSERT_TRUE(programmer->Channels.Channel(2).Identified);
  EXPECT_EQ(silent.ReadUntilQuiet(200ms), identifyQuery);
  ASSERT_NE(simSaid().find("boot loader expects firmware V3.10"), std::string::npos) << simSaid();

  // No leaves everything as it is.
  view.questionAnswers = {false};
  programmer->RunCommand([&] { programmer->DoFirmwareUpgrade1Click(); });
  EXPECT_EQ(view.questions, std::vector<std::string>{question});
  loop.runFor(300ms);
  EXPECT_FALSE(programmer->Channels.Channel(2).Busy);
  EXPECT_TRUE(silent.ReadUntilQuiet(100ms).empty());
  EXPECT_EQ(simSaid().find("firmware chunk"), std::string::npos) << simSaid();

  // Yes: programmer 2 is upgraded; the silent port gets nothing more.
  view.questionAnswers = {true};
  programmer->RunCommand([&] { programmer->DoFirmwareUpgrade1Click(); });
  EXPECT_EQ(view.questions, (std::vector<std::string>{question, question}));
  const bool completed = loop.runUntil([&] { return UpgradeCompleted(2); }, 10s);
  EXPECT_FALSE(Logged("开始升级编程器1固件"));
  EXPECT_EQ(silent.ReadUntilQuiet(200ms).size(), 0u) << "bytes beyond the identification query on the silent port";
  ASSERT_TRUE(completed);
  EXPECT_NE(simSaid().find("firmware chunk (0xB7) at 0x3C00 taken: 8 of 8"), std::string::npos) << simSaid();
  EXPECT_TRUE(view.messages.empty());

  // A new search finds programmer 2 with the file's version.
  view.lines.clear();
  SearchAgain(1);
  EXPECT_TRUE(LoggedLine(ChannelLine(2, "Find Device: Velkor350QN V3.10!")));
}

}  // namespace
}  // namespace velkor
