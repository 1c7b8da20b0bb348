// Times the object-file loaders against reading the same files, and the
// image checksums against copying the same range. Prints one line per
// measurement, "name seconds", best of the given number of runs; the script
// bench/run-loaders feeds it the files and compares with other tools.
//
//   velkor-bench-loaders RUNS FILE...
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "chips/chip_params.hpp"
#include "data/image_buffer.hpp"
#include "data/image_checksums.hpp"
#include "data/object_file.hpp"

namespace {

using velkor::ImageBuffer;

class QuietReport : public velkor::ImageReport {
 public:
  void AppendInfo(const std::string& text) override { std::fprintf(stderr, "log: %s\n", text.c_str()); }
  void AppendPlain(const std::string&) override {}
  void SetStatusPanel(int, const std::string&) override {}
  void ShowHexView(uint32_t, uint32_t) override {}
  void Warn(const std::string& text) override { std::fprintf(stderr, "warning: %s\n", text.c_str()); }
  void SetBusy(bool) override {}
};

double Best(int runs, const std::function<void()>& setup, const std::function<void()>& work) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    setup();
    const auto start = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  return best;
}

// Reads the whole file in 1 MiB blocks, as a baseline for a parser that
// must see every byte.
std::size_t ReadWholeFile(const char* path, char* buffer, std::size_t size) {
  const int fd = ::open(path, O_RDONLY);
  if (fd < 0) std::exit(2);
  std::size_t total = 0;
  for (;;) {
    const ssize_t n = ::read(fd, buffer, size);
    if (n <= 0) break;
    total += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return total;
}

std::string Kind(const std::string& path) {
  switch (velkor::ObjectFormatForPath(path)) {
    case velkor::ObjectFormat::IntelHex:
      return "hex";
    case velkor::ObjectFormat::MotorolaS:
      return "srec";
    case velkor::ObjectFormat::HexText:
      return "text";
    case velkor::ObjectFormat::Binary:
      break;
  }
  return "bin";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s RUNS FILE...\n", argv[0]);
    return 2;
  }
  const int runs = std::max(1, std::atoi(argv[1]));
  ImageBuffer image;
  QuietReport report;
  constexpr std::size_t kBlock = 1 << 20;
  const auto block = std::make_unique<char[]>(kBlock);
  volatile std::size_t sink = 0;

  std::printf("erase %.6f\n", Best(runs, [] {}, [&] { image.Erase(); }));
  for (int i = 2; i < argc; ++i) {
    const char* path = argv[i];
    const std::string kind = Kind(path);
    velkor::ChipParams chip;
    chip.Size = 0x8000000;
    velkor::LoadOutcome outcome;
    const double load = Best(
        runs, [&] { image.Erase(); }, [&] { outcome = velkor::LoadObjectFile(path, image, chip, report); });
    if (outcome.code != 0) {
      std::fprintf(stderr, "%s: load stopped with code %u\n", path, unsigned{outcome.code});
      return 1;
    }
    const double read = Best(runs, [] {}, [&] { sink = sink + ReadWholeFile(path, block.get(), kBlock); });
    std::printf("load_%s %.6f\n", kind.c_str(), load);
    std::printf("read_%s %.6f\n", kind.c_str(), read);
    std::printf("range_%s %u %u\n", kind.c_str(), image.FileStart, image.FileEnd);
    // The loaded data, so that the script can check every format gave the
    // same image.
    std::printf("sums_%s 0x%08X 0x%04X\n", kind.c_str(), velkor::ByteSum32Wide(image.Data.get(), 0, image.FileEnd),
                unsigned{velkor::LinkCrc16Sliced(image.Data.get(), 0, image.FileEnd)});
  }

  // The checksums of the last file's range, as UpdateChecksums computes
  // them, against a plain copy of the same bytes.
  const uint32_t last = image.FileEnd;
  const std::size_t bytes = std::size_t{last} + 1;
  auto copy = std::make_unique<uint8_t[]>(bytes);
  std::memset(copy.get(), 0, bytes);
  uint32_t sum = 0;
  uint16_t crc = 0;
  std::printf("checksums %.6f\n", Best(runs, [] {}, [&] {
                sum = velkor::ByteSum32Wide(image.Data.get(), 0, last);
                crc = velkor::LinkCrc16Sliced(image.Data.get(), 0, last);
              }));
  std::printf("bytesum %.6f\n", Best(runs, [] {}, [&] { sum = velkor::ByteSum32Wide(image.Data.get(), 0, last); }));
  std::printf("crc %.6f\n", Best(runs, [] {}, [&] { crc = velkor::LinkCrc16Sliced(image.Data.get(), 0, last); }));
  std::printf("memcpy %.6f\n", Best(runs, [] {}, [&] {
                std::memcpy(copy.get(), image.Data.get(), bytes);
                sink = sink + copy[bytes / 2];
              }));
  if (sum == 0 && crc == 0) std::printf("# all zero\n");  // keeps the results observable
  return 0;
}
