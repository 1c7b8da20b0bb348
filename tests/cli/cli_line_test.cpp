// Stations of a production line sharing one pool and one record: two
// velkor-cli processes, each with two simulated programmers, programming 500
// chips from one pool at the same time, against an SQLite file and a
// PostgreSQL server the test starts itself; a station killed mid-run; and the
// sessions the stations put into the database, as velkor-cli lists them.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "cli_run.hpp"
#include "postgres_server.hpp"
#include "store/line_store.hpp"

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

// What the record file's line and the database's record of a chip both
// tell, compared field by field.
const char* const kTraceFields[] = {"station", "job_id", "image_file", "chip_id", "differences", "first_difference"};

TEST_P(CliLineTest, EveryChipOfARunCarriesItsJobStationFileAndEvidenceInTheFileAndTheDatabase) {
  std::vector<uint8_t> data = WriteRandom("data.bin", 4096);
  data[0x100] = 0xA5;  // the stuck cell below holds 0x00: every chip differs there
  std::ofstream(directory / "data.bin", std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  // Four programmers in two groups, their chips' IDs checked before they
  // are programmed; then another run reads a chip's ID.
  const CliRun run = Line("--json --station bench-9 --record rec.jsonl --simulate --sim-count 4" +
                          Sim({"--stuck-byte", "0x100=0x00", "--chip-id", "0xC8,0x40"}) +
                          " auto --check-id --chip GD25Q512x --file data.bin");
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  std::map<int, Json> results;
  for (const Json& r : run.Events("result")) results[r["programmer"].get<int>()] = r;
  ASSERT_EQ(results.size(), 4u) << run.out;
  const CliRun id = Line("--json --station bench-9 --record rec.jsonl --simulate --sim-count 1" +
                         Sim({"--chip-id", "0xEF,0x40"}) + " id --chip W25x10xx");
  ASSERT_EQ(id.status, 0) << id.out << id.err;

  std::vector<Json> lines;
  std::ifstream in(directory / "rec.jsonl");
  for (std::string line; std::getline(in, line);) lines.push_back(Json::parse(line));
  ASSERT_EQ(lines.size(), 5u);
  const Json job = lines[0]["job_id"];
  ASSERT_TRUE(job.is_string()) << lines[0].dump();
  EXPECT_TRUE(std::regex_match(job.get<std::string>(), std::regex("[0-9]{8}T[0-9]{6}-[0-9a-f]{8}"))) << job;
  std::set<int> programmers;
  for (std::size_t i = 0; i < 4; ++i) {
    const Json& r = lines[i];
    SCOPED_TRACE(r.dump());
    const int programmer = r["programmer"].get<int>();
    programmers.insert(programmer);
    EXPECT_EQ(r["job_id"], job) << "one run, one job, whichever group";
    EXPECT_EQ(r["station"], "bench-9");
    EXPECT_EQ(r["image_file"], Path("data.bin"));
    EXPECT_EQ(r["chip_id"], (Json{0xC8, 0x40}));
    EXPECT_EQ(r["chip_id"], results[programmer]["chip_id"]);
    EXPECT_EQ(r["differences"], 1);
    EXPECT_EQ(r["first_difference"], 0x100);
  }
  EXPECT_EQ(programmers, (std::set<int>{1, 2, 3, 4}));
  const Json& read = lines[4];
  EXPECT_NE(read["job_id"], job) << "another run";
  EXPECT_EQ(read["chip_id"], (Json{0xEF, 0x40}));
  EXPECT_FALSE(read.contains("image_file") || read.contains("differences")) << read.dump();

  // The database holds the same of every chip.
  const CliRun records = Line("--json records");
  ASSERT_EQ(records.status, 0) << records.err;
  const auto stored = records.Events("record");
  ASSERT_EQ(stored.size(), 5u);
  for (const Json& r : lines) {
    SCOPED_TRACE(r.dump());
    const auto same = std::find_if(stored.begin(), stored.end(), [&](const Json& s) {
      return s["job_id"] == r["job_id"] && s["programmer"] == r["programmer"];
    });
    ASSERT_NE(same, stored.end());
    for (const char* field : kTraceFields) EXPECT_EQ((*same)[field], r.value(field, Json())) << field;
  }
  const CliRun plain = Line("--plain records");
  EXPECT_NE(plain.out.find(" job " + job.get<std::string>()), std::string::npos) << plain.out;
}

INSTANTIATE_TEST_SUITE_P(Engines, CliLineTest,
                         ::testing::Values(LineCase{"sqlite", "reuse"}, LineCase{"postgresql", "void"}),
                         [](const auto& info) { return std::string(info.param.engine) + "_" + info.param.policy; });

// Without a database the record file names the station too: the one
// given, else the machine's.
TEST_F(CliTest, TheRecordFileNamesTheStationWithoutADatabase) {
  char host[256] = {};
  ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
  struct Case {
    std::string words;
    std::string station;
  };
  const Case cases[] = {{"--station solo", "solo"}, {"", host}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words);
    fs::remove(directory / "rec.jsonl");
    const CliRun run = Cli(c.words + " --json --record rec.jsonl --simulate --sim-count 1 id --chip W25x10xx");
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    std::ifstream in(directory / "rec.jsonl");
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(Json::parse(line)["station"], c.station);
  }
}

// Sessions a station put into the line's database, listed by velkor-cli;
// an empty database lists none.
TEST_F(CliTest, SessionsListsEachRunOfAJobWithItsProgrammersAndCounts) {
  const std::string db = Path("line.db");
  const CliRun empty = Cli("--db '" + db + "' sessions --json");
  EXPECT_EQ(empty.status, 0) << empty.out << empty.err;
  EXPECT_TRUE(empty.Events("session").empty()) << empty.out;

  using store::Clock;
  const Clock::time_point seven = Clock::time_point(std::chrono::seconds(1'796'972'400));  // 2026-12-11T07:00:00Z
  std::string error;
  auto line = store::OpenLineStore(db, error);
  ASSERT_NE(line, nullptr) << error;
  store::StoredSession ended;
  ended.station = "bench-4";
  ended.programVersion = "0.4.0";
  ended.jobId = "20261211T070000-0000abcd";
  ended.chip = "24xx02";
  ended.started = seven + std::chrono::milliseconds(123);
  ended.programmers = {{3, "Velkor350QN V3.10", "V3.10", ""}};
  store::StoredSession running;
  running.station = "bench-3";
  running.programVersion = "0.4.0";
  running.chip = "W25x64xx";
  running.imageSha256 = std::string(64, 'b');
  running.lockedJob = "/srv/jobs/line3.job";
  running.jobLock = "hmac-sha256-passphrase " + std::string(64, '3');
  running.started = seven + std::chrono::hours(1);
  running.good = 2;
  running.programmers = {{1, "Velkor350QN V3.10", "V3.10", "FT1234AB"}, {2, "Velkor350QN V3.10", "V3.08", ""}};
  const auto endedId = line->BeginSession(ended);
  ASSERT_TRUE(endedId) << endedId.error;
  ASSERT_TRUE(line->EndSession(*endedId, seven + std::chrono::minutes(30), 41, 2));
  const auto runningId = line->BeginSession(running);
  ASSERT_TRUE(runningId) << runningId.error;
  line.reset();

  const CliRun listed = Cli("--db '" + db + "' sessions --json");
  ASSERT_EQ(listed.status, 0) << listed.out << listed.err;
  const auto sessions = listed.Events("session");
  ASSERT_EQ(sessions.size(), 2u) << listed.out;
  const Json& first = sessions[0];
  EXPECT_EQ(first["id"], *endedId);
  EXPECT_EQ(first["started"], "2026-12-11T07:00:00.123Z");
  EXPECT_EQ(first["ended"], "2026-12-11T07:30:00.000Z");
  EXPECT_EQ(first["station"], "bench-4");
  EXPECT_EQ(first["job_id"], "20261211T070000-0000abcd");
  EXPECT_TRUE(first["locked_job"].is_null() && first["job_lock"].is_null() && first["sha256"].is_null()) << first;
  EXPECT_EQ(first["good"], 41);
  EXPECT_EQ(first["failed"], 2);
  EXPECT_EQ(first["programmers"], Json::parse(R"([{"programmer":3,"programmer_id":"Velkor350QN V3.10",)"
                                              R"("firmware":"V3.10","adapter_serial":null}])"));
  const Json& second = sessions[1];
  EXPECT_EQ(second["id"], *runningId);
  EXPECT_TRUE(second["ended"].is_null()) << second;
  EXPECT_EQ(second["program_version"], "0.4.0");
  EXPECT_EQ(second["chip"], "W25x64xx");
  EXPECT_EQ(second["sha256"], running.imageSha256);
  EXPECT_EQ(second["locked_job"], "/srv/jobs/line3.job");
  EXPECT_EQ(second["job_lock"], running.jobLock);
  EXPECT_EQ(second["good"], 2);
  EXPECT_EQ(second["programmers"],
            Json::parse(R"([{"programmer":1,"programmer_id":"Velkor350QN V3.10","firmware":"V3.10",)"
                        R"("adapter_serial":"FT1234AB"},{"programmer":2,"programmer_id":"Velkor350QN V3.10",)"
                        R"("firmware":"V3.08","adapter_serial":null}])"));

  const CliRun later = Cli("--db '" + db + "' --json sessions --since 2026-12-11T07:30:00");
  ASSERT_EQ(later.status, 0) << later.out << later.err;
  ASSERT_EQ(later.Events("session").size(), 1u) << later.out;
  EXPECT_EQ(later.Events("session")[0]["station"], "bench-3");

  const CliRun plain = Cli("--db '" + db + "' --plain sessions");
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_NE(plain.out.find("2026-12-11T08:00:00.000Z running bench-3 locked /srv/jobs/line3.job (" + running.jobLock +
                           ") W25x64xx good 2 failed 0; programmer 1 Velkor350QN V3.10 firmware V3.10 adapter "
                           "FT1234AB; programmer 2 Velkor350QN V3.10 firmware V3.08\n"),
            std::string::npos)
      << plain.out;
  EXPECT_NE(plain.out.find("2026-12-11T07:30:00.000Z bench-4 job 20261211T070000-0000abcd 24xx02 good 41 failed 2"),
            std::string::npos)
      << plain.out;
}

}  // namespace
}  // namespace velkor::test
