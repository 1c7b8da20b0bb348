// Firmware upgrades end to end: programmers with old firmware, or that
// answer with the short identification string, are upgraded chunk by chunk
// from the firmware file the program found at start-up; their boot loader
// checks every chunk against the file it expects, and a new search finds
// them with the new version.
#include <gtest/gtest.h>

#include <filesystem>

#include "simulated_programmers.hpp"

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
  programmer->RunCommand([&] { programmer->DoFirmwareUpgrade1Click(); });
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
        return LoggedLine(
            ChannelLine(1, "The programmer's firmware must be upgraded, but no usable firmware file was loaded."));
      },
      10s));
  EXPECT_EQ(programmer->DevicesFound, 0);
  EXPECT_FALSE(programmer->Channels.Channel(1).Busy);
}

}  // namespace
}  // namespace velkor
