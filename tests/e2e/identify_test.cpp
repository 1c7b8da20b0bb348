// The host and the simulated programmer, end to end: the core opens the
// simulator's pseudo-terminals through its own serial layer, sends the
// identification query, reassembles the reply and recognises the programmer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/programmer_channels.hpp"
#include "link/identification.hpp"
#include "platform/event_loop.hpp"
#include "platform/simulator_process.hpp"

namespace velkor {
namespace {

using namespace std::chrono_literals;

struct LogLine {
  int channel;
  std::string text;
};

class IdentifyEndToEndTest : public ::testing::Test {
 protected:
  std::unique_ptr<SimulatorProcess> StartSimulator(std::vector<std::string> args, int count) {
    std::string error;
    args.insert(args.begin(), {"--count", std::to_string(count)});
    auto sim = SimulatorProcess::Start(FindSimulatorProgram(), args, count, 10s, error);
    EXPECT_TRUE(sim) << error;
    return sim;
  }

  EventLoop loop;
  std::vector<LogLine> log;
  ProgrammerChannels channels{loop, [this](int channel, const std::string& text) { log.push_back({channel, text}); }};
};

TEST_F(IdentifyEndToEndTest, BothSimulatedProgrammersAreIdentified) {
  auto sim = StartSimulator({}, 2);
  ASSERT_TRUE(sim);
  ASSERT_EQ(sim->Ports().size(), 2u);
  channels.Probe(sim->Ports());
  ASSERT_TRUE(loop.runUntil([&] { return channels.DevicesFound() == 2; }, 10s));
  for (int number : {1, 2}) {
    EXPECT_EQ(channels.DeviceName(number), "Velkor350QN V3.10");
    EXPECT_EQ(channels.Channel(number).Operation, 0xF0);
  }
  int found = 0;
  for (const auto& line : log) found += line.text == "Find Device: Velkor350QN V3.10!" ? 1 : 0;
  EXPECT_EQ(found, 2);
}

TEST_F(IdentifyEndToEndTest, NameAndVersionOptionsReachTheHost) {
  auto sim = StartSimulator({"--version-text", "V4.02"}, 1);
  ASSERT_TRUE(sim);
  channels.Probe(sim->Ports());
  ASSERT_TRUE(loop.runUntil([&] { return channels.DevicesFound() == 1; }, 10s));
  EXPECT_EQ(channels.DeviceName(1), "Velkor350QN V4.02");
  EXPECT_FALSE(channels.Port(2).IsOpen()) << "one port: channel 2 stays closed";
}

TEST_F(IdentifyEndToEndTest, ShortIdentificationIsNotTakenForTheModel) {
  auto sim = StartSimulator({"--name", "VelkorQN"}, 1);
  ASSERT_TRUE(sim);
  channels.Probe(sim->Ports());
  ASSERT_TRUE(loop.runUntil([&] { return !log.empty() && log.back().channel == 1; }, 10s));
  EXPECT_EQ(channels.DevicesFound(), 0);
  EXPECT_NE(log.back().text.find("VelkorQN V3.10"), std::string::npos) << log.back().text;
}

TEST_F(IdentifyEndToEndTest, SimulatorGoingAwayRaisesTheHangupAndClosesThePort) {
  auto sim = StartSimulator({}, 1);
  ASSERT_TRUE(sim);
  channels.Probe(sim->Ports());
  ASSERT_TRUE(loop.runUntil([&] { return channels.DevicesFound() == 1; }, 10s));
  sim.reset();
  ASSERT_TRUE(loop.runUntil([&] { return !channels.Port(1).IsOpen(); }, 10s));
  EXPECT_EQ(channels.DevicesFound(), 0);
}

}  // namespace
}  // namespace velkor
