// Programmers plugged in and pulled out while the window's logic runs: a
// fake sysfs and /dev whose device nodes lead to simulated programmers'
// pseudo-terminals, and the kernel's events sent through a socket pair.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "simulated_programmers.hpp"
#include "platform/fake_usb_tree.hpp"
#include "platform/hotplug_monitor.hpp"

namespace velkor {
namespace {

using namespace std::chrono_literals;

const test::FakeAdapter kFirst{"ttyUSB0", "1-1", "0403", "6001", "FTDI", "FT232R USB UART", "HP000001", "ftdi_sio",
                               "16"};
const test::FakeAdapter kSecond{"ttyUSB1", "1-2", "0403", "6001", "FTDI", "FT232R USB UART", "HP000002", "ftdi_sio",
                                "1"};

class HotplugTest : public test::SimulatedProgrammersTest {
 protected:
  void SetUp() override {
    SimulatedProgrammersTest::SetUp();
    programmer->Devices = tree.roots;
    programmer->HotplugSettle = 100ms;
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
    kernel_ = pair[1];
    std::string error;
    monitor_ = HotplugMonitor::StartOn(
        pair[0], loop, [this](const HotplugEvent& e) { programmer->UsbPortsChanged(e); }, error);
    ASSERT_TRUE(monitor_) << error;
  }
  void TearDown() override {
    monitor_.reset();
    if (kernel_ >= 0) close(kernel_);
    SimulatedProgrammersTest::TearDown();
  }

  // What the kernel says when the adapter's tty comes or goes.
  void Announce(const std::string& action, const std::string& tty) {
    const std::string devpath = "/devices/pci0000:00/usb1/1-1/1-1:1.0/" + tty + "/tty/" + tty;
    std::string m = action + "@" + devpath;
    m.push_back('\0');
    for (const std::string& field : {"ACTION=" + action, "DEVPATH=" + devpath, std::string("SUBSYSTEM=tty"),
                                     "DEVNAME=" + tty}) {
      m += field;
      m.push_back('\0');
    }
    ASSERT_EQ(send(kernel_, m.data(), m.size(), 0), static_cast<ssize_t>(m.size()));
  }

  std::ptrdiff_t LineIndex(const std::string& text, std::ptrdiff_t from = 0) const {
    const auto it = std::find_if(view.lines.begin() + from, view.lines.end(),
                                 [&](const std::string& l) { return l.find(text) != std::string::npos; });
    return it == view.lines.end() ? -1 : it - view.lines.begin();
  }

  test::FakeUsbTree tree;
  int kernel_ = -1;
  std::unique_ptr<HotplugMonitor> monitor_;
};

TEST_F(HotplugTest, APluggedProgrammerIsFoundAndAPulledOneFailsOnlyItsOwnOperation) {
  // Slow chips, so that the operation is well under way when a programmer goes.
  sim = StartSimulator(2, {"--block-time-us", "40000"});
  ASSERT_TRUE(sim);
  programmer->FormShow();
  loop.runFor(200ms);
  ASSERT_EQ(programmer->DevicesFound, 0) << "nothing is plugged in yet";

  tree.Plug(kFirst, sim->Ports()[0]);
  Announce("add", "ttyUSB0");
  ASSERT_TRUE(loop.runUntil([&] { return programmer->DevicesFound == 1; }, 5s));
  EXPECT_EQ(programmer->Channels.Port(1).CommName, (tree.roots.dev / "ttyUSB0").string());
  EXPECT_EQ(programmer->PortAdapter[0].serial, "HP000001");
  EXPECT_GE(LineIndex("USB serial adapters were plugged in or out: searching for programmers again."), 0);
  EXPECT_TRUE(Logged("C1: Adapter 0403:6001 FTDI FT232R USB UART, USB serial HP000001 (" +
                     (tree.roots.ById() / test::FakeUsbTree::ById(kFirst)).string() + ")."));
  EXPECT_TRUE(LoggedLine(ChannelLine(1, "Its latency timer was 16 ms; it is now 1 ms.")));

  tree.Plug(kSecond, sim->Ports()[1]);
  Announce("add", "ttyUSB1");
  ASSERT_TRUE(loop.runUntil([&] { return programmer->DevicesFound == 2; }, 5s));
  EXPECT_EQ(programmer->PortAdapter[1].serial, "HP000002");
  EXPECT_EQ(programmer->Controls.ComboBoxCOM.Items.size(), 2u);

  Choose("W25x10xx");
  LoadRandom(128 * 1024);
  view.lines.clear();
  programmer->RunCommand([&] { programmer->SpdBtnProgClick(); });
  loop.runFor(300ms);
  ASSERT_FALSE(Idle(1));
  ASSERT_FALSE(Idle(2));

  tree.Unplug(kSecond);
  const auto pulled = std::chrono::steady_clock::now();
  Announce("remove", "ttyUSB1");
  ASSERT_TRUE(loop.runUntil([&] { return Idle(2); }, 2s)) << "programmer 2's operation did not end within 2 s";
  EXPECT_LT(std::chrono::steady_clock::now() - pulled, 2s);
  EXPECT_TRUE(LoggedLine(ChannelLine(2, "Its USB serial adapter ttyUSB1 (" + (tree.roots.dev / "ttyUSB1").string() +
                                            ") was unplugged.")));
  EXPECT_TRUE(LoggedLine(ChannelLine(2, "The programmer's port went away and was closed.")));
  EXPECT_TRUE(Logged("C2: Its port was " + (tree.roots.dev / "ttyUSB1").string() +
                     ", adapter 0403:6001 FTDI FT232R USB UART, USB serial HP000002."));
  EXPECT_FALSE(Idle(1)) << "programmer 1 goes on";

  ASSERT_TRUE(RunToIdle(30s));
  const auto done = LineIndex(ChannelLine(1, "操作成功！"));
  ASSERT_GE(done, 0);
  EXPECT_LT(LineIndex(ChannelLine(2, "操作成功！")), 0);
  // The search the removal asked for waits for programmer 1 to finish, then
  // finds it again.
  ASSERT_TRUE(loop.runUntil([&] { return LineIndex("searching for programmers again") >= 0; }, 5s));
  EXPECT_GT(LineIndex("searching for programmers again"), done);
  ASSERT_TRUE(loop.runUntil([&] { return programmer->DevicesFound == 1; }, 5s));
  EXPECT_EQ(programmer->Channels.Channel(1).Identified, 1);
  EXPECT_EQ(programmer->Channels.Channel(2).Identified, 0);
}

}  // namespace
}  // namespace velkor
