// More programmers on one computer: velkor-cli's session driving N simulated
// programmers at the line's speed (velkor-sim --pace), all programming the
// same 1 MiB flash image in parallel. For each N it prints the wall time,
// the wire bound of the busiest programmer (its bytes both ways at 11 us
// each, from the simulator's own counts), their ratio, and the host's CPU
// (this process: the session, its event loop and every port's two worker
// threads; the simulator is another process) per programmer.
//
//   velkor-bench-many [--programmers N,N,...]     (default 1,2,4,8)
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/event_output.hpp"
#include "cli/exit_status.hpp"
#include "cli/session.hpp"

namespace {

using namespace velkor;
using namespace velkor::cli;
using Clock = std::chrono::steady_clock;

constexpr double kSecondsPerByte = 11e-6;  // 1,000,000 baud, 8N2
constexpr const char* kChip = "W25x80xx";  // 1 MiB
constexpr std::size_t kImageBytes = 1u << 20;

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "velkor-bench-many: %s\n", why.c_str());
  std::exit(1);
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The busiest programmer's bytes both ways, from the summary the simulator
// writes when it ends.
unsigned long long BusiestProgrammerBytes(const std::filesystem::path& simulatorLog, int programmers) {
  std::ifstream in(simulatorLog);
  unsigned long long busiest = 0;
  int seen = 0;
  for (std::string line; std::getline(in, line);) {
    int number = 0;
    unsigned long long received = 0, sent = 0;
    if (std::sscanf(line.c_str(), "velkor-sim: programmer %d: wire: received %llu bytes, sent %llu bytes", &number,
                    &received, &sent) != 3)
      continue;
    ++seen;
    busiest = std::max(busiest, received + sent);
  }
  if (seen < programmers) Fail("the simulator's wire summary names " + std::to_string(seen) + " programmers");
  return busiest;
}

struct Figures {
  int programmers;
  double wall;
  double bound;
  double cpu;
};

Figures RunOnce(int programmers, const std::filesystem::path& folder) {
  const auto image = folder / "image.bin";
  const auto simulatorLog = folder / ("sim-" + std::to_string(programmers) + ".log");
  std::FILE* quiet = std::fopen("/dev/null", "w");
  EventOutput output(OutputStyle::Plain, false, quiet, quiet);
  double wall = 0;
  double cpu = 0;
  {
    Session session(output);
    ConnectOptions connect;
    connect.simulate = true;
    connect.simulatorCount = programmers;
    connect.simulatorOptions = {"--pace", "--block-time-us", "0", "--wire-summary"};
    connect.simulatorLog = simulatorLog.string();
    if (session.Connect(connect, RecordOptions{}) != kExitOk) Fail("the programmers were not found");
    if (session.ChooseChip(kChip) != kExitOk) Fail("no chip");
    if (session.LoadObjectFile(image.string(), FormatChoice::Auto, false) != kExitOk) Fail("the image did not load");
    const OperationCommand* program = nullptr;
    for (const OperationCommand& c : OperationCommands())
      if (c.kind == Operation::Program) program = &c;
    const double cpuBefore = CpuSeconds();
    const auto start = Clock::now();
    if (session.Run(*program) != kExitOk) Fail("programming failed");
    wall = std::chrono::duration<double>(Clock::now() - start).count();
    cpu = CpuSeconds() - cpuBefore;
    session.Close();
  }  // the simulator ends here and writes its counts
  std::fclose(quiet);
  const double bound = static_cast<double>(BusiestProgrammerBytes(simulatorLog, programmers)) * kSecondsPerByte;
  return {programmers, wall, bound, cpu};
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> counts = {1, 2, 4, 8};
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--programmers") == 0 && i + 1 < argc) {
      counts.clear();
      std::stringstream list(argv[++i]);
      for (std::string item; std::getline(list, item, ',');) counts.push_back(std::atoi(item.c_str()));
    } else {
      std::fprintf(stderr, "usage: %s [--programmers N,N,...]   (1..8 each, default 1,2,4,8)\n", argv[0]);
      return 2;
    }
  }
  for (const int n : counts)
    if (n < 1 || n > 8) Fail("--programmers takes 1 to 8");

  const auto folder = std::filesystem::temp_directory_path() / ("velkor-bench-many-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  {
    std::mt19937 random(11);
    std::vector<char> bytes(kImageBytes);
    for (auto& b : bytes) b = static_cast<char>(random());
    std::ofstream(folder / "image.bin", std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  std::printf("%-11s %9s %9s %8s %10s %15s\n", "programmers", "wall s", "bound s", "ratio", "CPU s", "CPU s/programmer");
  for (const int n : counts) {
    const Figures f = RunOnce(n, folder);
    std::printf("%-11d %9.2f %9.2f %8.4f %10.3f %15.3f\n", f.programmers, f.wall, f.bound, f.wall / f.bound, f.cpu,
                f.cpu / f.programmers);
    std::printf("many programmers=%d ratio=%.4f cpu_s_per_programmer=%.3f\n", f.programmers, f.wall / f.bound,
                f.cpu / f.programmers);
    std::fflush(stdout);
  }
  std::filesystem::remove_all(folder);
  return 0;
}
