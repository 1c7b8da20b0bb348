// velkor-soak: the window's logic drives two simulated programmers through
// thousands of automatic programming cycles, to show that nothing piles up
// over a long production run: every counter is exact, and resident memory,
// open descriptors and threads stay where they were after the warm-up.
//
//   velkor-soak [CYCLES]     (default 2000; scripts/soak.sh builds and runs it)
//
// Prints one line of figures and exits with status 0 when every check
// holds, 1 when one does not (each failure is said on standard error), 2 when
// the run could not be set up.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "app/qn_programmer.hpp"
#include "app/quiet_view.hpp"
#include "chips/catalogue.hpp"
#include "platform/event_loop.hpp"
#include "platform/simulator_process.hpp"
#include "support/firmware.hpp"

namespace velkor {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kChip = "24xx64";  // 8 KiB: two blocks per chip
constexpr uint32_t kDataBytes = 8 * 1024;
constexpr const char* kSucceeded = "操作成功！";
constexpr const char* kFailed = "操作失败！";
// The information panel keeps every line until the operator clears it (or
// the program ends and writes it out); the soak clears it this often, as an
// operator would, so that its growth does not hide a leak.
constexpr uint32_t kClearLogEvery = 100;
// Memory may settle this much after the warm-up (allocator pools, the
// panel's last lines).
constexpr long kRssToleranceKiB = 1024;
constexpr auto kCycleDeadline = 10s;

// A view that keeps nothing: it counts the log's success and failure lines
// as they are appended, and the message boxes.
class CountingView final : public QuietView {
 public:
  uint64_t successLines = 0;
  uint64_t failureLines = 0;
  std::vector<std::string> messages;
  std::function<void()> onChipSelection;

  void LogLineAppended(const std::string& line) override {
    if (EndsWith(line, kSucceeded)) ++successLines;
    if (EndsWith(line, kFailed)) ++failureLines;
  }
  void ShowMessage(MessageKind, const std::string& text) override { messages.push_back(text); }
  void ShowModal(DialogId dialog) override {
    if (dialog == DialogId::ChipSelection && onChipSelection) onChipSelection();
  }

 private:
  static bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
  }
};

std::size_t CountEntries(const char* directory) {
  std::size_t count = 0;
  if (DIR* dir = opendir(directory)) {
    while (const dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') ++count;
    closedir(dir);
  }
  return count;
}

// Open descriptors, without the one the count itself holds.
std::size_t OpenDescriptors() { return CountEntries("/proc/self/fd") - 1; }
std::size_t Threads() { return CountEntries("/proc/self/task"); }

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

struct Sample {
  long rssKiB;
  std::size_t descriptors;
  std::size_t threads;
};
Sample TakeSample() { return {ResidentKiB(), OpenDescriptors(), Threads()}; }

class Soak {
 public:
  explicit Soak(uint32_t cycles) : cycles_(cycles) {}

  int Run() {
    if (!SetUp()) return 2;
    const uint32_t warmUp = std::max<uint32_t>(1, std::min<uint32_t>(100, cycles_ / 10));
    Sample early{};
    const Clock::time_point start = Clock::now();
    Clock::time_point measured = start;
    for (uint32_t cycle = 1; cycle <= cycles_; ++cycle) {
      if (!RunCycle(cycle)) break;
      if (cycle % kClearLogEvery == 0) programmer_.ClearInformation1Click();
      if (cycle == warmUp) {
        early = TakeSample();
        measured = Clock::now();
        cyclesAtSample_ = cycle;
      }
    }
    const Sample late = TakeSample();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double measuredSeconds = std::chrono::duration<double>(Clock::now() - measured).count();
    const uint64_t successLines = view_.successLines;
    CheckEnd(early, late);

    std::printf(
        "velkor-soak: cycles %u, %.1f s, %.1f cycles/s (after warm-up), RSS %ld -> %ld KiB, fds %zu -> %zu, "
        "threads %zu -> %zu, burns %u, failed %u, success lines %llu: %s\n",
        cyclesDone_, seconds, cyclesDone_ > cyclesAtSample_ ? (cyclesDone_ - cyclesAtSample_) / measuredSeconds : 0.0,
        early.rssKiB, late.rssKiB, early.descriptors, late.descriptors, early.threads, late.threads,
        programmer_.BurnCount, programmer_.FailCount, static_cast<unsigned long long>(successLines),
        failures_ == 0 ? "ok" : "FAILED");
    TearDown();
    return failures_ == 0 ? 0 : 1;
  }

 private:
  void Fail(const std::string& what) {
    ++failures_;
    std::fprintf(stderr, "velkor-soak: %s\n", what.c_str());
  }
  void Expect(bool holds, const std::string& what) {
    if (!holds) Fail(what);
  }

  bool SetUp() {
    char pattern[] = "/tmp/velkor-soak-XXXXXX";
    if (!mkdtemp(pattern)) {
      Fail("cannot make a working directory");
      return false;
    }
    directory_ = pattern;
    std::filesystem::current_path(directory_);
    // The programmers' own firmware version: no upgrade is offered.
    test::WriteFirmwareFile(directory_, "V3.10");
    threadsBeforePorts_ = Threads();

    // The simulator says every burn on its standard error: that goes to a
    // file of its own (kept when the soak fails), so the figures stay readable.
    std::string error;
    const std::string simulatorLog = (directory_ / "simulator.log").string();
    const int savedError = dup(STDERR_FILENO);
    const int logFile = open(simulatorLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (savedError < 0 || logFile < 0 || dup2(logFile, STDERR_FILENO) < 0) {
      Fail("cannot write " + simulatorLog);
      return false;
    }
    simulator_ = SimulatorProcess::Start(FindSimulatorProgram(), {"--count", "2"}, 2, 10s, error);
    dup2(savedError, STDERR_FILENO);
    close(savedError);
    close(logFile);
    if (!simulator_) {
      Fail("cannot start the simulated programmers: " + error);
      return false;
    }
    programmer_.ExplicitPorts = simulator_->Ports();
    programmer_.FormShow();
    if (!loop_.runUntil([&] { return programmer_.DevicesFound == 2; }, 10s)) {
      Fail("the two simulated programmers were not found");
      return false;
    }
    const CatalogueEntry* chip = FindChip(kChip);
    if (!chip) {
      Fail(std::string("no chip ") + kChip + " in the catalogue");
      return false;
    }
    view_.onChipSelection = [&] {
      programmer_.ChipSelectionFormShow();
      programmer_.ChooseChip(*chip);
    };
    programmer_.DevButtonClick();

    std::mt19937 random(2026);
    data_.resize(kDataBytes);
    for (auto& b : data_) b = static_cast<uint8_t>(random());
    std::copy(data_.begin(), data_.end(), programmer_.Image.Data.get());
    programmer_.FileLoaded = true;
    programmer_.RecomputeImage();
    view_.messages.clear();  // what start-up showed is not the soak's
    return programmer_.ChipConfirmed;
  }

  bool RunCycle(uint32_t cycle) {
    const uint32_t burnsBefore = programmer_.BurnCount;
    programmer_.RunCommand([&] { programmer_.SpdBtnAutoPClick(); });
    auto& channels = programmer_.Channels;
    const bool idle = loop_.runUntil([&] { return !channels.Channel(1).Busy && !channels.Channel(2).Busy; },
                                     kCycleDeadline);
    if (!idle) {
      Fail("cycle " + std::to_string(cycle) + " did not end within " + std::to_string(kCycleDeadline.count()) + " s");
      return false;
    }
    ++cyclesDone_;
    if (programmer_.BurnCount != burnsBefore + 2 || !view_.messages.empty()) {
      Fail("cycle " + std::to_string(cycle) + " burnt " + std::to_string(programmer_.BurnCount - burnsBefore) +
           " chips" + (view_.messages.empty() ? "" : ", showing \"" + view_.messages.front() + "\""));
      return false;
    }
    return true;
  }

  void CheckEnd(const Sample& early, const Sample& late) {
    const uint32_t expected = 2 * cycles_;
    Expect(cyclesDone_ == cycles_, std::to_string(cyclesDone_) + " of " + std::to_string(cycles_) + " cycles ran");
    Expect(programmer_.BurnCount == expected,
           "BurnCount " + std::to_string(programmer_.BurnCount) + ", expected " + std::to_string(expected));
    Expect(programmer_.FailCount == 0, "FailCount " + std::to_string(programmer_.FailCount));
    Expect(programmer_.Controls.StatusPanel2.Caption == "烧写OK总数: " + std::to_string(expected),
           "status bar reads \"" + programmer_.Controls.StatusPanel2.Caption + "\"");
    Expect(view_.successLines == expected, "the log has " + std::to_string(view_.successLines) + " lines \"" +
                                               kSucceeded + "\", expected " + std::to_string(expected));
    Expect(view_.failureLines == 0, "the log has " + std::to_string(view_.failureLines) + " failure lines");
    Expect(view_.messages.empty(), std::to_string(view_.messages.size()) + " message boxes");
    CheckChip();
    if (cyclesAtSample_ == 0) return;  // the run ended before its warm-up was over
    Expect(late.rssKiB - early.rssKiB <= kRssToleranceKiB,
           "resident memory grew from " + std::to_string(early.rssKiB) + " KiB to " + std::to_string(late.rssKiB) +
               " KiB");
    Expect(late.descriptors == early.descriptors, "open descriptors went from " + std::to_string(early.descriptors) +
                                                      " to " + std::to_string(late.descriptors));
    Expect(late.threads == early.threads,
           "threads went from " + std::to_string(early.threads) + " to " + std::to_string(late.threads));
  }

  // The chip left in programmer 1's socket holds the data, read back.
  void CheckChip() {
    programmer_.Image.Erase();
    programmer_.RunCommand([&] { programmer_.SpeedButtonRDClick(); });
    const bool read = loop_.runUntil([&] { return !programmer_.Channels.Channel(1).Busy; }, kCycleDeadline);
    Expect(read && std::equal(data_.begin(), data_.end(), programmer_.Image.Data.get()),
           "programmer 1's chip does not read back as the data");
  }

  void TearDown() {
    programmer_.BitBtnFreshClick();  // closes both ports
    Expect(Threads() == threadsBeforePorts_, "threads left after the ports closed: " +
                                                 std::to_string(Threads() - threadsBeforePorts_));
    simulator_.reset();
    std::error_code ignored;
    std::filesystem::current_path("/", ignored);
    if (failures_ == 0)
      std::filesystem::remove_all(directory_, ignored);
    else
      std::fprintf(stderr, "velkor-soak: the simulator's log is %s\n", (directory_ / "simulator.log").c_str());
  }

  uint32_t cycles_;
  uint32_t cyclesDone_ = 0;
  uint32_t cyclesAtSample_ = 0;
  int failures_ = 0;
  std::filesystem::path directory_;
  std::size_t threadsBeforePorts_ = 0;
  std::vector<uint8_t> data_;
  EventLoop loop_;
  CountingView view_;
  TQNProgrammer programmer_{loop_, view_};
  std::unique_ptr<SimulatorProcess> simulator_;
};

}  // namespace
}  // namespace velkor

int main(int argc, char** argv) {
  uint32_t cycles = 2000;
  if (argc == 2) {
    const std::string text = argv[1];
    const bool digits = !text.empty() && text.size() <= 9 &&
                        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    cycles = digits ? static_cast<uint32_t>(std::stoul(text)) : 0;
  }
  if (argc > 2 || cycles == 0) {
    std::fprintf(stderr, "usage: velkor-soak [CYCLES]   (a positive number, default 2000)\n");
    return 2;
  }
  return velkor::Soak(cycles).Run();
}
