// Stations of a production line sharing one pool and one record: two
// velkor-cli processes, each with two simulated programmers, programming 500
// chips from one pool at the same time, against an SQLite file and a
// PostgreSQL server the test starts itself; and a station killed mid-run.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli_run.hpp"
#include "postgres_server.hpp"

namespace velkor::test {
namespace {

struct LineCase {
  const char* engine;  // "sqlite" or "postgresql"
  const char* policy;  // --on-failure
};
void PrintTo(const LineCase& c, std::ostream* os) { *os << c.engine << "/" << c.policy; }

class CliLineTest : public CliTest, public ::testing::WithParamInterface<LineCase> {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    if (std::string(GetParam().engine) == "sqlite") {
      db = Path("line.db");
      return;
    }
    PostgresServer& server = PostgresServer::Shared();
    ASSERT_TRUE(server.Failure().empty()) << server.Failure();
    std::string error;
    db = server.NewDatabase(error);
    ASSERT_FALSE(db.empty()) << error;
  }
  // velkor-cli with the line's database.
  CliRun Line(const std::string& words) const { return Cli("--db '" + db + "' " + words); }
  // The pool's numbers: number → state.
  std::map<uint64_t, std::string> States(const std::string& pool) const {
    const CliRun shown = Line("--json pool show " + pool + " --numbers");
    EXPECT_EQ(shown.status, 0) << shown.out << shown.err;
    std::map<uint64_t, std::string> states;
    for (const Json& n : shown.Events("number")) states[n["number"].get<uint64_t>()] = n["state"];
    return states;
  }

  std::string db;
};

TEST_P(CliLineTest, TwoStationsProgram500ChipsFromOnePoolWithoutARepeatedNumber) {
  WriteRandom("data.bin", 256);
  ASSERT_EQ(Line("pool create boards --first 5000 --last 9999 --sn-address 0x10 --on-failure " +
                 std::string(GetParam().policy))
                .status,
            0);
  // Two stations, 125 runs of two chips each; every tenth run both chips
  // fail (every program block answered with error status 0x60).
  const std::string cli = "'" + program + "' --db '" + db + "' --json --simulate";
  const std::string station = "for i in $(seq 1 125); do "
                              "fail=''; [ $((i % 10)) -eq 0 ] && fail='--sim-option=--fail --sim-option=0x95=0x60'; " +
                              cli + " --station S program --chip 24xx02 --file data.bin --pool boards $fail; done";
  const auto run = [&](const std::string& name) {
    std::string s = station;
    s.replace(s.find("--station S"), 11, "--station " + name);
    return "(" + s + ") >" + name + ".jsonl 2>" + name + ".err";
  };
  const std::string script = "cd '" + directory.string() + "' || exit 9; " + run("north") + " & " + run("south") + "; wait";
  ASSERT_EQ(std::system(script.c_str()), 0);

  std::vector<uint64_t> good;
  std::vector<uint64_t> failed;
  for (const char* name : {"north", "south"}) {
    std::ifstream out(directory / (std::string(name) + ".jsonl"));
    for (std::string line; std::getline(out, line);) {
      const Json event = Json::parse(line);
      if (event["event"] != "result") continue;
      ASSERT_FALSE(event["serial_number"].is_null()) << line;
      (event["result"] == "ok" ? good : failed).push_back(event["serial_number"].get<uint64_t>());
    }
  }
  ASSERT_EQ(good.size() + failed.size(), 500u) << "every chip has its result";
  EXPECT_EQ(failed.size(), 48u) << "runs 10, 20, ... 120 of each station: both chips";
  const std::set<uint64_t> goodSet(good.begin(), good.end());
  EXPECT_EQ(goodSet.size(), good.size()) << "two good chips with the same number";

  // The pool accounts for every number: the good chips' are used, the
  // failed chips' are voided, or (reuse) handed to a later chip or failed.
  std::set<uint64_t> used, voided, failedState, other;
  for (const auto& [number, state] : States("boards")) {
    (state == "used" ? used : state == "voided" ? voided : state == "failed" ? failedState : other).insert(number);
  }
  EXPECT_EQ(used, goodSet);
  EXPECT_TRUE(other.empty()) << "numbers left reserved";
  const std::set<uint64_t> failedSet(failed.begin(), failed.end());
  if (std::string(GetParam().policy) == "void") {
    EXPECT_EQ(voided, failedSet);
    EXPECT_EQ(failedSet.size(), failed.size()) << "a voided number was handed out again";
    EXPECT_TRUE(failedState.empty());
  } else {
    EXPECT_TRUE(voided.empty());
    for (const uint64_t n : failedState) EXPECT_TRUE(failedSet.count(n)) << n;
    // Reused: the numbers are the first ones, without a gap.
    std::set<uint64_t> issued = used;
    issued.insert(failedState.begin(), failedState.end());
    EXPECT_EQ(*issued.rbegin() - *issued.begin() + 1, issued.size());
  }

  // The line's record holds every chip, with its station and number.
  const CliRun records = Line("--json records");
  ASSERT_EQ(records.status, 0) << records.err;
  std::map<std::string, int> perStation;
  std::multiset<uint64_t> recordedGood;
  for (const Json& r : records.Events("record")) {
    ++perStation[r["station"].get<std::string>()];
    EXPECT_EQ(r["pool"], "boards");
    if (r["result"] == "ok") recordedGood.insert(r["serial_number"].get<uint64_t>());
  }
  EXPECT_EQ(perStation, (std::map<std::string, int>{{"north", 250}, {"south", 250}}));
  EXPECT_EQ(std::set<uint64_t>(recordedGood.begin(), recordedGood.end()), goodSet);
  EXPECT_EQ(recordedGood.size(), good.size());
}

TEST_P(CliLineTest, AStationKilledMidRunLeavesItsNumbersReservedUntilReleased) {
  WriteRandom("big.bin", 1 << 20);
  ASSERT_EQ(Line("pool create panel --first 1 --last 100 --on-failure " + std::string(GetParam().policy)).status, 0);
  // A 1 MiB flash at the line's speed takes 12 s; the station is killed
  // once its chip has started.
  const std::string script =
      "cd '" + directory.string() + "' || exit 9; '" + program + "' --db '" + db +
      "' --json --station east --simulate --sim-count 1 --sim-option=--pace program --chip W25x80xx --file big.bin "
      "--pool panel >east.jsonl 2>east.err & pid=$!; "
      "for i in $(seq 1 300); do grep -q '\"event\":\"progress\"' east.jsonl && break; sleep 0.05; done; "
      "kill -9 $pid; wait $pid; grep -c '\"event\":\"result\"' east.jsonl";
  FILE* pipe = ::popen(script.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char results[16] = {};
  std::fgets(results, sizeof results, pipe);
  ::pclose(pipe);
  ASSERT_EQ(std::string(results), "0\n") << "the run ended before it was killed";
  const auto states = States("panel");
  ASSERT_EQ(states.size(), 1u);
  for (const auto& [number, state] : states) EXPECT_EQ(state, "reserved") << number;

  const CliRun shown = Line("--json pool show panel --numbers");
  for (const Json& n : shown.Events("number")) {
    EXPECT_EQ(n["station"], "east");
    const CliRun released = Line("--json pool release " + std::to_string(n["reservation"].get<int64_t>()));
    ASSERT_EQ(released.status, 0) << released.out << released.err;
  }
  for (const auto& [number, state] : States("panel"))
    EXPECT_EQ(state, std::string(GetParam().policy) == "void" ? "voided" : "failed") << number;
  // Nothing is handed out twice: the next chip gets a fresh number (void)
  // or the lowest released one (reuse).
  WriteRandom("small.bin", 256);
  const CliRun next = Line("--json --simulate --sim-count 1 program --chip 24xx02 --file small.bin --pool panel");
  ASSERT_EQ(next.status, 0) << next.out << next.err;
  EXPECT_EQ(next.Events("result").at(0)["serial_number"], std::string(GetParam().policy) == "void" ? 2 : 1);
}

TEST_P(CliLineTest, ADatabaseOutOfReachOrAMissingPoolStartsNoChip) {
  WriteRandom("data.bin", 256);
  struct Case {
    std::string db;
    std::string words;
    std::string said;
  };
  const Case cases[] = {
      {db, "program --chip 24xx02 --file data.bin --pool nowhere", "there is no pool \"nowhere\""},
      {"postgresql:///none?host=" + directory.string() + "/no-server", "program --chip 24xx02 --file data.bin",
       "cannot be reached"},
      {db, "program --chip 24xx02 --file data.bin --pool x --sn 5", "--pool hands out the serial numbers"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.words);
    const CliRun run = Cli("--db '" + k.db + "' --json --simulate" + (" --sim-option=--capture --sim-option=" + Path("wire")) +
                           " " + k.words);
    EXPECT_NE(run.status, 0);
    const std::string messages = run.MessageTexts();
    EXPECT_NE(messages.find(k.said), std::string::npos) << messages << run.err;
    EXPECT_FALSE(fs::exists(directory / "wire.1")) << "the programmers were started";
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, CliLineTest,
                         ::testing::Values(LineCase{"sqlite", "reuse"}, LineCase{"postgresql", "void"}),
                         [](const auto& info) { return std::string(info.param.engine) + "_" + info.param.policy; });

}  // namespace
}  // namespace velkor::test
