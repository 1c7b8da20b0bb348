// The main window's logic talking to simulated programmers through real
// pseudo-terminals and its own serial layer.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/programmer_fixture.hpp"
#include "platform/simulator_process.hpp"

namespace velkor::test {

using namespace std::chrono_literals;

class SimulatedProgrammersTest : public ProgrammerFixture {
 protected:
  // A simulator process with count programmers; args are its options.
  std::unique_ptr<SimulatorProcess> StartSimulator(int count, std::vector<std::string> args = {}) {
    std::string error;
    args.insert(args.begin(), {"--count", std::to_string(count)});
    auto started = SimulatorProcess::Start(FindSimulatorProgram(), args, count, 10s, error);
    EXPECT_TRUE(started) << error;
    return started;
  }
  // Shows the window on these ports and waits until the search has settled.
  void ShowOn(const std::vector<std::string>& ports, uint8_t expectFound) {
    programmer->ExplicitPorts = ports;
    programmer->FormShow();
    ASSERT_TRUE(loop.runUntil([&] { return programmer->DevicesFound == expectFound; }, 10s));
    loop.runFor(50ms);  // nothing more may arrive
  }
  // Starts one simulator with count programmers and shows the window on it.
  void Connect(int count, std::vector<std::string> args = {}) {
    sim = StartSimulator(count, std::move(args));
    ASSERT_TRUE(sim);
    ShowOn(sim->Ports(), static_cast<uint8_t>(std::min(count, 2)));
  }

  // Fills the first size bytes of the image with random bytes, as a load
  // would, and returns them.
  std::vector<uint8_t> LoadRandom(uint32_t size, uint32_t seed = 1) {
    std::mt19937 random(seed + size);
    std::vector<uint8_t> data(size);
    for (auto& b : data) b = static_cast<uint8_t>(random());
    std::copy(data.begin(), data.end(), programmer->Image.Data.get());
    programmer->FileLoaded = true;
    programmer->RecomputeImage();
    return data;
  }

  bool Idle(int channel) const { return !programmer->Channels.Channel(channel).Busy; }
  bool RunToIdle(std::chrono::milliseconds timeout = 30s) {
    return loop.runUntil([&] { return Idle(1) && Idle(2); }, timeout);
  }

  // Whether a line of the log holds this text.
  bool Logged(const std::string& text) const {
    return std::any_of(view.lines.begin(), view.lines.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
  }
  // Whether the log holds exactly this line.
  bool LoggedLine(const std::string& line) const {
    return std::find(view.lines.begin(), view.lines.end(), line) != view.lines.end();
  }
  std::string ChannelLine(int channel, const std::string& text) const {
    return std::string("> ") + kTime + " C" + std::to_string(channel) + ": " + text;
  }

  // Every operation's end from now on lands in outcomes (again after the
  // logic is made anew).
  void RecordOutcomes() {
    programmer->OperationEnded = [this](const OperationOutcome& o) { outcomes.push_back(o); };
  }
  // The first recorded end of the programmer's operation.
  const OperationOutcome& OutcomeOf(int channel) {
    for (const OperationOutcome& o : outcomes)
      if (o.channel == channel) return o;
    ADD_FAILURE() << "no outcome for programmer " << channel;
    static const OperationOutcome none;
    return none;
  }
  std::vector<OperationOutcome> outcomes;

  std::unique_ptr<SimulatorProcess> sim;
};

}  // namespace velkor::test
