// Link efficiency: the main window's logic driving simulated programmers
// that send at the line's real speed (1,000,000 baud, 8N2: 11 us per byte)
// with no chip time, timed against the time the bytes exchanged need on the
// wire.
//
//   velkor-bench-link [--size-mib N] [--adapter-latency-ms M] [--repeat R] [--eeprom-only]
//
// --size-mib: the flash size (default 16). --repeat: how often the short
// case, the automatic sequence on a 64 KiB EEPROM, runs on one programmer
// and on two (default 20): it lasts under a second, so a single late
// wake-up moves its ratio, and only repeats tell such a rare delay from a
// steady cost; --eeprom-only runs that case alone. --adapter-latency-ms: a USB
// serial adapter with that latency timer between the simulated line and
// the host (velkor-sim --adapter-latency-ms): a reply shorter than the
// adapter's USB packet reaches the host only when the timer runs out. The
// wire bound stays the line's; the ratio shows what the timer costs.
//
// Every case runs on one programmer and then on two at once, except the
// reads: only programmer 1 reads, into the one image. The bytes on
// the line come from the simulator itself (--wire-summary: SIGUSR2 makes it
// write each programmer's received and sent byte counts and the requests it
// took), read before and after each operation. Stop-and-wait keeps the two
// directions of one programmer from overlapping, so its wire time is
// (received + sent) x 11 us; programmers run in parallel, so the bound is
// the largest of them. What the host and the simulator add to each
// exchange is (wall - bound) / requests of the busiest programmer.
//
// The simulator paces both directions: what it sends goes out at the line's
// rate, and it answers a request only when the request's last byte would
// have arrived on the line, so the wall time is what a real line would
// take plus whatever the host adds.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/qn_programmer.hpp"
#include "app/recording_view.hpp"
#include "chips/catalogue.hpp"
#include "platform/event_loop.hpp"
#include "platform/simulator_process.hpp"
#include "support/firmware.hpp"

namespace velkor {
namespace {

using namespace std::chrono_literals;

// --adapter-latency-ms; 0 leaves the adapter out.
uint32_t gAdapterLatencyMs = 0;
using Clock = std::chrono::steady_clock;

constexpr double kByteTimeSeconds = 11e-6;
constexpr uint32_t kBlock = 4096;
constexpr const char* kTime = "10:20:30";

struct WireCount {
  uint64_t received = 0;  // by the programmer, from the host
  uint64_t sent = 0;      // by the programmer, to the host
  uint64_t requests = 0;  // request packets the programmer took
};

struct Cpu {
  double user = 0;
  double system = 0;
};

Cpu CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return {seconds(usage.ru_utime), seconds(usage.ru_stime)};
}

long PeakResidentKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "velkor-bench-link: %s\n", what.c_str());
  std::exit(1);
}

// A simulator whose standard error goes to a file, so that its wire
// summaries can be read back.
class Simulator {
 public:
  Simulator(int count, const std::filesystem::path& errorFile) : count_(count), errorFile_(errorFile) {
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    std::FILE* file = std::fopen(errorFile.c_str(), "w");
    if (saved < 0 || !file) Fail("cannot redirect standard error to " + errorFile.string());
    dup2(fileno(file), STDERR_FILENO);
    std::string error;
    std::vector<std::string> args = {"--count", std::to_string(count), "--pace", "--block-time-us", "0",
                                     "--wire-summary"};
    if (gAdapterLatencyMs > 0) args.insert(args.end(), {"--adapter-latency-ms", std::to_string(gAdapterLatencyMs)});
    process_ = SimulatorProcess::Start(FindSimulatorProgram(), args, count, 10s, error);
    dup2(saved, STDERR_FILENO);
    close(saved);
    std::fclose(file);
    if (!process_) Fail("cannot start the simulator: " + error);
  }

  const std::vector<std::string>& Ports() const { return process_->Ports(); }

  // The counts since the start, per programmer, from a fresh summary.
  std::vector<WireCount> Counts() {
    kill(process_->Pid(), SIGUSR2);
    ++summaries_;
    const auto deadline = Clock::now() + 10s;
    for (;;) {
      std::vector<std::vector<WireCount>> all = ReadSummaries();
      if (all.size() >= summaries_) return all[summaries_ - 1];
      if (Clock::now() > deadline) Fail("the simulator wrote no wire summary");
      std::this_thread::sleep_for(1ms);
    }
  }

 private:
  // Every complete summary in the file, in order.
  std::vector<std::vector<WireCount>> ReadSummaries() const {
    std::ifstream in(errorFile_);
    std::vector<std::vector<WireCount>> all;
    std::vector<WireCount> current;
    std::string line;
    while (std::getline(in, line)) {
      int number = 0;
      unsigned long long received = 0, sent = 0, requests = 0;
      if (std::sscanf(line.c_str(),
                      "velkor-sim: programmer %d: wire: received %llu bytes, sent %llu bytes, %llu requests", &number,
                      &received, &sent, &requests) != 4)
        continue;
      current.push_back({received, sent, requests});
      if (static_cast<int>(current.size()) == count_) {
        all.push_back(current);
        current.clear();
      }
    }
    return all;
  }

  int count_;
  std::filesystem::path errorFile_;
  std::unique_ptr<SimulatorProcess> process_;
  std::size_t summaries_ = 0;
};

struct Result {
  std::string operation;
  int programmers = 0;
  uint64_t dataBytes = 0;  // per programmer
  double wall = 0;         // seconds
  double bound = 0;        // wire time of the busiest programmer, both directions
  double cpu = 0;          // seconds of this process, user and system
  double cpuSystem = 0;    // the system part of it
  uint64_t blocks = 0;     // 4 KB blocks over all programmers
  uint64_t requests = 0;   // exchanges of the busiest programmer
  std::vector<WireCount> wire;

  double Ratio() const { return wall / bound; }
  // What the host and the simulator add to each exchange, beyond the line.
  double MicrosecondsPerExchange() const {
    return requests > 0 ? (wall - bound) * 1e6 / static_cast<double>(requests) : 0;
  }
};

class LinkBench {
 public:
  explicit LinkBench(const std::filesystem::path& directory) : directory_(directory) {
    test::WriteFirmwareFile(directory, "V3.10");
    programmer_ = std::make_unique<TQNProgrammer>(loop_, view_, std::make_unique<test::FixedClock>(kTime, "12/10/26"));
  }

  void Connect(int count) {
    programmer_.reset();
    sim_.reset();
    programmer_ = std::make_unique<TQNProgrammer>(loop_, view_, std::make_unique<test::FixedClock>(kTime, "12/10/26"));
    sim_ = std::make_unique<Simulator>(count, directory_ / ("sim-" + std::to_string(count) + ".err"));
    count_ = count;
    programmer_->ExplicitPorts = sim_->Ports();
    programmer_->FormShow();
    if (!loop_.runUntil([&] { return programmer_->DevicesFound == count; }, 10s))
      Fail("the window found " + std::to_string(programmer_->DevicesFound) + " programmers, not " +
           std::to_string(count));
    loop_.runFor(50ms);
  }

  void Choose(const std::string& caption) {
    const CatalogueEntry* entry = FindChip(caption);
    if (!entry) Fail("no chip " + caption);
    view_.whileShown[DialogId::ChipSelection] = [this, entry] {
      programmer_->ChipSelectionFormShow();
      programmer_->ChooseChip(*entry);
    };
    programmer_->DevButtonClick();
  }

  // The first size bytes of the image random, as a load leaves them.
  void LoadRandom(uint32_t size, uint32_t seed) {
    std::mt19937 random(seed);
    programmer_->Image.Erase();
    uint8_t* data = programmer_->Image.Data.get();
    for (uint32_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(random());
    programmer_->FileLoaded = true;
    programmer_->RecomputeImage();
  }

  TQNProgrammer& Programmer() { return *programmer_; }

  // Runs the command on every programmer, or on programmer 1 only for the
  // commands that only it runs (reads).
  Result Run(const std::string& operation, uint64_t dataBytes, void (TQNProgrammer::*command)(),
             bool firstOnly = false) {
    const int active = firstOnly ? 1 : count_;
    view_.lines.clear();
    view_.messages.clear();
    const uint32_t burnsBefore = programmer_->BurnCount;
    const std::vector<WireCount> before = sim_->Counts();
    const Cpu cpuBefore = CpuSeconds();
    const Clock::time_point start = Clock::now();
    programmer_->RunCommand([&] { (programmer_.get()->*command)(); });
    const bool idle = loop_.runUntil(
        [&] {
          for (int n = 1; n <= count_; ++n)
            if (programmer_->Channels.Channel(n).Busy) return false;
          return true;
        },
        3600s);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const Cpu cpuAfter = CpuSeconds();
    const std::vector<WireCount> after = sim_->Counts();
    if (!idle) Fail(operation + ": did not end");
    loop_.runFor(20ms);  // a failure's box comes after the receive event
    for (int n = 1; n <= active; ++n) {
      const std::string ok = std::string("> ") + kTime + " C" + std::to_string(n) + ": 操作成功！";
      if (std::find(view_.lines.begin(), view_.lines.end(), ok) == view_.lines.end() ||
          programmer_->Gauge(n).Colour != GaugeColour::Blue)
        Fail(operation + ": programmer " + std::to_string(n) + " did not succeed");
    }
    if (!view_.messages.empty()) Fail(operation + ": " + view_.messages.front().text);
    if (command == &TQNProgrammer::SpdBtnAutoPClick && programmer_->BurnCount != burnsBefore + count_)
      Fail(operation + ": the burn count did not grow by one per programmer");

    Result r;
    r.operation = operation;
    r.programmers = active;
    r.dataBytes = dataBytes;
    r.wall = wall;
    r.cpu = cpuAfter.user - cpuBefore.user + cpuAfter.system - cpuBefore.system;
    r.cpuSystem = cpuAfter.system - cpuBefore.system;
    r.blocks = (dataBytes + kBlock - 1) / kBlock * static_cast<uint64_t>(active);
    for (int i = 0; i < active; ++i) {
      const WireCount w{after[i].received - before[i].received, after[i].sent - before[i].sent,
                        after[i].requests - before[i].requests};
      r.wire.push_back(w);
      const double bound = static_cast<double>(w.received + w.sent) * kByteTimeSeconds;
      if (bound >= r.bound) r.requests = w.requests;
      r.bound = std::max(r.bound, bound);
    }
    return r;
  }

 private:
  std::filesystem::path directory_;
  EventLoop loop_;
  test::RecordingView view_;
  std::unique_ptr<TQNProgrammer> programmer_;
  std::unique_ptr<Simulator> sim_;
  int count_ = 0;
};

void Print(const Result& r) {
  std::printf("%-14s programmers=%d data=%llu B/programmer\n", r.operation.c_str(), r.programmers,
              static_cast<unsigned long long>(r.dataBytes));
  for (std::size_t i = 0; i < r.wire.size(); ++i)
    std::printf("  programmer %zu: host sent %llu B, programmer sent %llu B, %llu exchanges\n", i + 1,
                static_cast<unsigned long long>(r.wire[i].received), static_cast<unsigned long long>(r.wire[i].sent),
                static_cast<unsigned long long>(r.wire[i].requests));
  std::printf("  wall %.3f s, wire bound %.3f s, ratio %.4f (host and simulator add %.3f s, %.0f us per exchange)\n",
              r.wall, r.bound, r.Ratio(), r.wall - r.bound, r.MicrosecondsPerExchange());
  std::printf("  host CPU %.3f s (system %.3f s), %.1f us per 4 KB block (%llu blocks)\n", r.cpu, r.cpuSystem,
              r.cpu * 1e6 / static_cast<double>(r.blocks), static_cast<unsigned long long>(r.blocks));
  std::fflush(stdout);
}

// Runs of one case, and the line that sums them up: the median and the
// worst ratio, and what each exchange cost beyond the line.
struct Case {
  std::vector<Result> runs;

  void Add(const Result& r, bool detailed) {
    runs.push_back(r);
    if (detailed) {
      Print(r);
    } else {
      std::printf("  run %zu: wall %.3f s, wire bound %.3f s, ratio %.4f, %.0f us per exchange\n", runs.size(), r.wall,
                  r.bound, r.Ratio(), r.MicrosecondsPerExchange());
      std::fflush(stdout);
    }
  }

  void PrintSummary() const {
    std::vector<double> ratios, perExchange, cpuPerBlock;
    for (const Result& r : runs) {
      ratios.push_back(r.Ratio());
      perExchange.push_back(r.MicrosecondsPerExchange());
      cpuPerBlock.push_back(r.cpu * 1e6 / static_cast<double>(r.blocks));
    }
    const Result& first = runs.front();
    std::printf("link %s programmers=%d runs=%zu ratio=%.4f worst=%.4f us_per_exchange=%.0f worst_us_per_exchange=%.0f "
                "cpu_us_per_block=%.1f\n",
                first.operation.c_str(), first.programmers, runs.size(), Median(ratios),
                *std::max_element(ratios.begin(), ratios.end()), Median(perExchange),
                *std::max_element(perExchange.begin(), perExchange.end()), Median(cpuPerBlock));
  }

  static double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  }
};

}  // namespace
}  // namespace velkor

int main(int argc, char** argv) {
  using namespace velkor;
  uint32_t sizeMiB = 16;
  uint32_t repeat = 20;
  bool eepromOnly = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--size-mib") == 0 && i + 1 < argc) {
      sizeMiB = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
      repeat = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (std::strcmp(argv[i], "--eeprom-only") == 0) {
      eepromOnly = true;
    } else if (std::strcmp(argv[i], "--adapter-latency-ms") == 0 && i + 1 < argc) {
      gAdapterLatencyMs = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
      if (gAdapterLatencyMs > 255) {
        std::fprintf(stderr, "--adapter-latency-ms must be 0..255\n");
        return 2;
      }
    } else {
      std::fprintf(stderr,
                   "usage: %s [--size-mib N] [--adapter-latency-ms M] [--repeat R] [--eeprom-only]\n"
                   "  (N 1..16, default 16; M 0..255, default 0: no adapter; R 1..1000, default 20)\n",
                   argv[0]);
      return 2;
    }
  }
  if (sizeMiB < 1 || sizeMiB > 16) {
    std::fprintf(stderr, "--size-mib must be 1..16\n");
    return 2;
  }
  if (repeat < 1 || repeat > 1000) {
    std::fprintf(stderr, "--repeat must be 1..1000\n");
    return 2;
  }
  const uint32_t flashBytes = sizeMiB << 20;
  constexpr uint32_t kEepromBytes = 64 * 1024;

  const std::filesystem::path previous = std::filesystem::current_path();
  char pattern[] = "/tmp/velkor-bench-link-XXXXXX";
  const char* made = mkdtemp(pattern);
  if (!made) Fail("cannot make a scratch folder");
  const std::filesystem::path directory = made;
  std::filesystem::current_path(directory);

  std::vector<Case> cases;
  const auto once = [&cases](const Result& r) {
    cases.emplace_back();
    cases.back().Add(r, true);
  };
  {
    LinkBench bench(directory);
    for (int count : {1, 2}) {
      bench.Connect(count);
      if (!eepromOnly) {
        TQNProgrammer& p = bench.Programmer();
        bench.Choose("MX25L128xxx");
        p.Controls.ChkBoxCPES.Checked = false;  // the used range ends with the data
        bench.LoadRandom(flashBytes, 1);
        if (p.Chip.SizeKB != flashBytes / 1024) Fail("the used range is not the data");
        once(bench.Run("program", flashBytes, &TQNProgrammer::SpdBtnProgClick));
        // A read fills the one image, so only programmer 1 reads: once is enough.
        if (count == 1) {
          p.FastReadCapable = false;
          once(bench.Run("read-blocks", flashBytes, &TQNProgrammer::SpeedButtonRDClick, true));
          p.FastReadCapable = true;
          once(bench.Run("read-streamed", flashBytes, &TQNProgrammer::SpeedButtonRDClick, true));
        }
        bench.LoadRandom(flashBytes, 2);
        once(bench.Run("download", flashBytes, &TQNProgrammer::SpdBtnDownLoadClick));
      }

      bench.Choose("24xx512");
      bench.LoadRandom(kEepromBytes, 3);
      cases.emplace_back();
      for (uint32_t run = 0; run < repeat; ++run)
        cases.back().Add(bench.Run("auto-24xx512", kEepromBytes, &TQNProgrammer::SpdBtnAutoPClick), run == 0);
    }
  }
  std::filesystem::current_path(previous);
  std::filesystem::remove_all(directory);

  std::printf("\nflash %u MiB, EEPROM 64 KiB, adapter latency timer %u ms%s; peak resident memory of this process "
              "%ld KiB\n",
              sizeMiB, gAdapterLatencyMs, gAdapterLatencyMs == 0 ? " (no adapter)" : "", PeakResidentKiB());
  for (const Case& c : cases) c.PrintSummary();
  return 0;
}
