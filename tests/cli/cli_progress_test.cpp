// velkor-cli's progress: each event names the stage, the time since the
// operation started, and, for what the host moves, the speed and the time
// left; plain lines show the same as the window's progress line.
#include <map>

#include "cli_run.hpp"

namespace velkor::test {
namespace {

class CliProgressTest : public CliTest {};

TEST_F(CliProgressTest, ProgressEventsCarryTheStageElapsedTimeSpeedAndTimeLeft) {
  WriteRandom("data.bin", 128 * 1024);
  struct Case {
    const char* command;
    const char* stage;
    bool moves;  // the host counts what it moves: speed and time left
  };
  const Case cases[] = {
      {"program --chip W25x10xx --file data.bin", "Program", true},
      {"erase --chip W25x10xx", "Erase", false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.command);
    const CliRun run =
        Cli("--simulate --json" + Sim({"--pace", "--block-time-us", "20000"}) + " " + std::string(k.command));
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const std::vector<Json> events = run.Events("progress");
    ASSERT_FALSE(events.empty());
    std::map<int, long long> lastElapsed;
    int estimated = 0;
    for (const Json& e : events) {
      EXPECT_EQ(e["stage"], k.stage) << e.dump();
      const int programmer = e["programmer"];
      const long long elapsed = e["elapsed_ms"];
      EXPECT_GE(elapsed, lastElapsed[programmer]) << e.dump();
      lastElapsed[programmer] = elapsed;
      ASSERT_TRUE(e.contains("bytes_per_second") && e.contains("eta_ms")) << e.dump();
      if (!k.moves) {
        EXPECT_TRUE(e["bytes_per_second"].is_null()) << e.dump();
        EXPECT_TRUE(e["eta_ms"].is_null()) << e.dump();
        continue;
      }
      if (e["bytes_per_second"].is_null() || e["eta_ms"].is_null()) continue;
      EXPECT_GT(e["bytes_per_second"].get<long long>(), 0) << e.dump();
      EXPECT_GE(e["eta_ms"].get<long long>(), 0) << e.dump();
      ++estimated;
    }
    EXPECT_EQ(lastElapsed.size(), 2u) << "both programmers report";
    EXPECT_EQ(estimated > 0, k.moves) << "events with a speed and a time left: " << estimated;
  }
}

TEST_F(CliProgressTest, PlainLinesShowTheProgressLine) {
  WriteRandom("data.bin", 128 * 1024);
  const CliRun run = Cli("--simulate --sim-count 1 --plain" + Sim({"--pace", "--block-time-us", "20000"}) +
                         " program --chip W25x10xx --file data.bin");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  std::istringstream lines(run.out);
  int shown = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("programmer 1: Program ", 0) != 0) continue;
    ++shown;
    EXPECT_NE(line.find("% · 0:"), std::string::npos) << line;
  }
  EXPECT_GT(shown, 0) << run.out;
  EXPECT_NE(run.out.find(" KiB/s · "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(" left\n"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace velkor::test
