// velkor-cli run as a script or a production fixture runs it: a separate
// process with simulated programmers, its JSON events parsed and its exit
// status checked.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace velkor::test {

namespace fs = std::filesystem;
using Json = nlohmann::json;

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
  std::vector<Json> events;  // the lines of out that are JSON objects

  // The texts of every message event, one per line.
  std::string MessageTexts() const {
    std::string texts;
    for (const Json& m : Events("message")) texts += m["text"].get<std::string>() + "\n";
    return texts;
  }
  std::vector<Json> Events(const std::string& kind) const {
    std::vector<Json> found;
    for (const Json& e : events)
      if (e.value("event", "") == kind) found.push_back(e);
    return found;
  }
};

// Runs the program with these words (none may hold blanks or quotes) in
// directory; standard error is kept apart from the events. shell runs
// first in the same shell (a limit, say).
inline CliRun RunCli(const std::string& program, const fs::path& directory, const std::string& words,
                     const std::string& shell = "") {
  const fs::path err = directory / "stderr.txt";
  const std::string command = "cd '" + directory.string() + "' && " + (shell.empty() ? "" : shell + " && ") + "'" +
                              program + "' " + words + " 2>'" + err.string() + "'";
  CliRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.out.append(buffer, n);
  const int wait = ::pclose(pipe);
  run.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
  std::ifstream errors(err);
  run.err.assign(std::istreambuf_iterator<char>(errors), {});
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line.front() != '{') continue;
    run.events.push_back(Json::parse(line));  // a malformed line fails the test
  }
  return run;
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* cli = std::getenv("VELKOR_CLI");
    ASSERT_NE(cli, nullptr) << "VELKOR_CLI names the program under test";
    program = cli;
    directory = fs::temp_directory_path() / ("velkor-cli-test-" + std::to_string(::getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(directory);
    fs::create_directories(directory);
  }
  void TearDown() override { fs::remove_all(directory); }

  // Runs velkor-cli with these words in the test's directory.
  CliRun Cli(const std::string& words) const { return RunCli(program, directory, words); }

  std::vector<uint8_t> WriteRandom(const std::string& name, std::size_t size, unsigned seed = 7) const {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(size);
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    std::ofstream(directory / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
    return bytes;
  }
  std::vector<uint8_t> ReadBytes(const fs::path& path) const {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  std::string Path(const std::string& name) const { return (directory / name).string(); }

  std::string program;
  fs::path directory;
};

// The simulator option words for --sim-option.
inline std::string Sim(std::initializer_list<std::string> words) {
  std::string text;
  for (const std::string& w : words) text += " --sim-option=" + w;
  return text;
}

}  // namespace velkor::test
