// Resident memory of the window's logic: right after start-up, and after
// loading binary files of 1 MiB and 64 MiB for a 128 MiB flash chip, each
// load erasing the image first as it always does.
//
//   velkor-bench-memory [SCRATCH_DIR]
//
// Prints one line per stage, `memory STAGE rss_kib=N pss_kib=N private_kib=N`:
// VmRSS from /proc/self/status counts every mapped page, so an image page
// that was only read counts although all of them share the 2 MiB erased
// pattern; Pss from /proc/self/smaps_rollup divides each physical page among
// its mappings, which is what the process really costs; Anonymous is what
// it wrote.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "app/qn_programmer.hpp"
#include "app/recording_view.hpp"
#include "chips/catalogue.hpp"
#include "platform/event_loop.hpp"

namespace {

// The value in kB of the first line of file that starts with key.
long ReadKb(const char* file, const std::string& key) {
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(key.size()));
  return -1;
}

void Report(const char* stage) {
  std::printf("memory %s rss_kib=%ld pss_kib=%ld private_kib=%ld\n", stage, ReadKb("/proc/self/status", "VmRSS:"),
              ReadKb("/proc/self/smaps_rollup", "Pss:"), ReadKb("/proc/self/smaps_rollup", "Anonymous:"));
  std::fflush(stdout);
}

std::filesystem::path WriteRandomFile(const std::filesystem::path& directory, std::size_t size) {
  std::vector<char> bytes(size);
  std::mt19937 random(static_cast<unsigned>(size));
  for (char& b : bytes) b = static_cast<char>(random());
  const auto path = directory / ("random-" + std::to_string(size >> 20) + "MiB.bin");
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

}  // namespace

int main(int argc, char* argv[]) {
  namespace fs = std::filesystem;
  const fs::path scratch = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "velkor-bench-memory";
  fs::create_directories(scratch);
  const fs::path small = WriteRandomFile(scratch, std::size_t{1} << 20);
  const fs::path large = WriteRandomFile(scratch, std::size_t{64} << 20);
  fs::current_path(scratch);

  velkor::EventLoop loop;
  velkor::test::RecordingView view;
  Report("before-start");
  velkor::TQNProgrammer programmer(loop, view);
  programmer.StartupReset();
  Report("idle");

  const velkor::CatalogueEntry* chip = velkor::FindChip("GD55B01GE");
  if (!chip) return 1;
  view.whileShown[velkor::DialogId::ChipSelection] = [&] {
    programmer.ChipSelectionFormShow();
    programmer.ChooseChip(*chip);
  };
  programmer.DevButtonClick();
  for (const auto& [file, stage] : {std::pair{small, "loaded-1MiB"}, std::pair{large, "loaded-64MiB"},
                                    std::pair{small, "loaded-1MiB-again"}}) {
    programmer.LoadFile(file.string());
    if (programmer.LastLoad.code != velkor::kRecordAccepted || !view.messages.empty()) {
      std::fprintf(stderr, "loading %s failed\n", file.c_str());
      return 1;
    }
    Report(stage);
  }
  fs::remove(small);
  fs::remove(large);
  return 0;
}
