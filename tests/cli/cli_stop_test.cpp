// Ctrl+C on the command line, as a terminal sends it (to the whole
// foreground process group): the first stops the programmers after the
// blocks in flight and the run ends as stopped; a second ends the run at
// once.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "cli_run.hpp"
#include "support/wire_decoder.hpp"

namespace velkor::test {
namespace {

using wire::Packet;

// velkor-cli in a process group of its own, as a shell starts a job: its
// events are read line by line while it runs, and each line may send the
// group a signal.
class CliStopTest : public CliTest {
 protected:
  // Runs velkor-cli with these words (split at blanks); onEvent sees each
  // JSON event as it comes and returns the signal to send the group, or 0.
  CliRun RunSignalled(const std::string& words, const std::function<int(const Json&)>& onEvent) const {
    std::vector<std::string> args{program};
    std::istringstream split(words);
    for (std::string word; split >> word;) args.push_back(word);
    int out[2];
    CliRun run;
    if (::pipe(out) != 0) return run;
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::setpgid(0, 0);
      if (::chdir(directory.c_str()) != 0) ::_exit(126);
      ::dup2(out[1], STDOUT_FILENO);
      const std::string err = (directory / "stderr.txt").string();
      if (!std::freopen(err.c_str(), "w", stderr)) ::_exit(126);
      ::close(out[0]);
      ::close(out[1]);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    ::setpgid(pid, pid);  // either side may be first
    ::close(out[1]);
    FILE* events = ::fdopen(out[0], "r");
    char* line = nullptr;
    std::size_t capacity = 0;
    for (ssize_t length; (length = ::getline(&line, &capacity, events)) > 0;) {
      const std::string text(line, static_cast<std::size_t>(length));
      run.out += text;
      if (text.front() != '{') continue;
      run.events.push_back(Json::parse(text));
      if (const int signal = onEvent(run.events.back())) ::kill(-pid, signal);
    }
    std::free(line);
    std::fclose(events);
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream errors(directory / "stderr.txt");
    run.err.assign(std::istreambuf_iterator<char>(errors), {});
    return run;
  }
  std::vector<Packet> Received(const std::string& name, int n) const {
    return wire::Packets(wire::ReadCapture(directory / (name + "." + std::to_string(n))));
  }
  std::vector<std::string> RecordLines() const {
    std::ifstream in(directory / "rec.jsonl");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
};

// Each block of the chip takes 20 ms in the simulated programmers.
const std::string kSlow = Sim({"--block-time-us", "20000"});

TEST_F(CliStopTest, CtrlCStopsTheProgrammersAfterTheBlocksInFlightAndTheRunEndsAsStopped) {
  WriteRandom("data.bin", 128 * 1024);
  int percent[3] = {0, 0, 0};
  bool sent = false;
  const CliRun run = RunSignalled(
      "--simulate --json --record rec.jsonl" + kSlow + Sim({"--capture", Path("wire")}) +
          " program --chip W25x10xx --file data.bin",
      [&](const Json& event) {
        if (event["event"] == "progress") percent[event["programmer"].get<int>()] = event["percent"].get<int>();
        if (sent || percent[1] < 10 || percent[2] < 10) return 0;
        sent = true;
        return SIGINT;
      });
  ASSERT_TRUE(sent) << run.out << run.err;
  EXPECT_EQ(run.status, 6) << run.out << run.err;
  EXPECT_NE(run.MessageTexts().find("Ctrl+C: the programmers stop after the blocks in flight"), std::string::npos)
      << run.out;

  const auto results = run.Events("result");
  ASSERT_EQ(results.size(), 2u) << run.out;
  for (const Json& r : results) {
    SCOPED_TRACE(r.dump());
    EXPECT_EQ(r["result"], "stopped");
    EXPECT_EQ(r["operation"], "program");
    // What the result says was programmed is what went on the wire: blocks
    // from the first on, and none after.
    unsigned done = 0;
    unsigned total = 0;
    ASSERT_EQ(std::sscanf(r["text"].get<std::string>().c_str(), "Stopped after block %u of %u:", &done, &total), 2);
    EXPECT_EQ(total, 32u);
    EXPECT_LT(done, total);
    const auto blocks = wire::PacketsWithCode(Received("wire", r["programmer"].get<int>()), wire::kProgramBlock);
    ASSERT_EQ(blocks.size(), done);
    for (unsigned i = 0; i < done; ++i) EXPECT_EQ(blocks[i].Parameter(), 4 * i);
  }
  const std::vector<std::string> records = RecordLines();
  ASSERT_EQ(records.size(), 2u);
  for (const std::string& line : records) {
    const Json record = Json::parse(line);
    EXPECT_EQ(record["result"], "stopped") << line;
    EXPECT_EQ(record["operation"], "program") << line;
  }
  EXPECT_EQ(run.Events("end").back()["exit_status"], 6);
}

// The streamed read runs on the programmer itself: the first Ctrl+C cannot
// stop it, the second ends the run at once, and nothing is saved.
TEST_F(CliStopTest, ASecondCtrlCEndsTheRunAtOnce) {
  int signals = 0;
  const CliRun run = RunSignalled(
      "--simulate --json --sim-count 1 --record rec.jsonl" + kSlow + " read --chip W25x10xx -o chip.bin",
      [&](const Json& event) {
        const bool started = event["event"] == "start";
        const bool stopping = event["event"] == "message" &&
                              event["text"].get<std::string>().rfind("Ctrl+C: the programmers stop", 0) == 0;
        if ((signals == 0 && started) || (signals == 1 && stopping)) {
          ++signals;
          return SIGINT;
        }
        return 0;
      });
  EXPECT_EQ(signals, 2) << run.out << run.err;
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  const auto results = run.Events("result");
  ASSERT_EQ(results.size(), 1u) << run.out;
  EXPECT_EQ(results[0]["result"], "failed");
  EXPECT_EQ(results[0]["text"].get<std::string>().rfind("Interrupted by SIGINT (Ctrl+C): read stopped at ", 0), 0u)
      << results[0].dump();
  EXPECT_FALSE(fs::exists(directory / "chip.bin"));
  const std::vector<std::string> records = RecordLines();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(Json::parse(records[0])["result"], "failed");
}

}  // namespace
}  // namespace velkor::test
