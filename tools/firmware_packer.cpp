// velkor-fwpack: packs a plain firmware image into the programmer's firmware
// file, the one the host carries beside it and sends to a programmer whose
// firmware is older.
//
//   velkor-fwpack --image IMAGE.bin --version V3.20 --output VelkorQN_EDF.VFR [--seed N]
//
// Exit status: 0 when the file was written and reads back as packed; 1 when
// the image, the version text or the output was refused or the file could
// not be written or did not read back; 2 for a command line it does not
// understand.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/firmware_file.hpp"
#include "platform/text_file.hpp"

namespace {

constexpr int kRefused = 1;
constexpr int kUsage = 2;

int Fail(const std::string& text) {
  std::cerr << "velkor-fwpack: " << text << '\n';
  return kRefused;
}

// The image file's bytes; no image is anywhere near this large, so reading
// stops there and the packer refuses what it got.
constexpr std::size_t kMostRead = velkor::kFirmwareBufferBytes + 1;

std::optional<std::vector<uint8_t>> ReadImage(const std::filesystem::path& path, std::string& problem) {
  // A folder, FIFO or device is refused at once rather than waited on.
  std::vector<uint8_t> bytes;
  const std::string error = velkor::ReadRegularFile(path, kMostRead - 1, bytes);
  if (!error.empty()) {
    problem = "cannot read '" + path.string() + "': " + error;
    return std::nullopt;
  }
  return bytes;
}

std::optional<std::vector<uint8_t>> ReadBack(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (file.bad()) return std::nullopt;
  return bytes;
}

// What the host will find in the file: ready, with the version, the range
// and the image that went in. Empty when it is so, else what differs.
std::string CheckPacked(std::span<const uint8_t> file, std::span<const uint8_t> image, const std::string& version) {
  const velkor::FirmwareFile read = velkor::ReadFirmwareFile(file);
  if (!read.ready) return "it does not read as a firmware file: " + read.problem;
  if (read.version != version) return "it reads back with the version text \"" + read.version + "\"";
  const auto end = static_cast<uint16_t>(velkor::kFirmwareStart + image.size() / 2 - 1);
  if (read.start != velkor::kFirmwareStart || read.end != end) return "its address range does not match the image";
  if (read.image.size() < image.size() || !std::equal(image.begin(), image.end(), read.image.begin()))
    return "its image differs from the one packed";
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app(
      "Packs a plain firmware image into the Velkor350QN programmer's firmware file. The image's first byte belongs "
      "to address 0x2000, two bytes per address; its length must be a whole number of 2048-byte chunks.",
      "velkor-fwpack");
  std::string imagePath;
  std::string version;
  std::string outputPath;
  uint32_t seed = 0;
  app.add_option("--image", imagePath, "the plain firmware image")->required()->type_name("FILE");
  app.add_option("--version", version, "the version text the file carries, for example V3.20")
      ->required()
      ->type_name("TEXT");
  app.add_option("--output", outputPath, "the firmware file to write (the host looks for VelkorQN_EDF.VFR)")
      ->required()
      ->type_name("FILE");
  const CLI::Option* seedOption =
      app.add_option("--seed", seed, "seed for the file's random masks, keys and fill, 0 to 4294967295, so that the "
                                     "same input gives the same file (default: a fresh random seed)")
          ->type_name("N");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e, std::cout, std::cerr);
    return code == 0 ? 0 : kUsage;
  }

  // A programmer reports its version after a blank, and the host finds it
  // by the "V" that begins it.
  if (version.empty() || version[0] != 'V')
    return Fail("version \"" + version + "\" refused: it must begin with \"V\", by which the host finds a "
                "programmer's version");

  std::error_code sameError;
  if (std::filesystem::equivalent(imagePath, outputPath, sameError))
    return Fail("the output '" + outputPath + "' is the image itself; packing would replace it");

  std::string problem;
  const std::optional<std::vector<uint8_t>> image = ReadImage(imagePath, problem);
  if (!image) return Fail(problem);

  std::mt19937 random(seedOption->count() > 0 ? seed : std::random_device{}());
  std::string error;
  const std::vector<uint8_t> packed =
      velkor::PackFirmwareFile(*image, version, [&random] { return static_cast<uint8_t>(random() >> 24); }, error);
  if (packed.empty()) {
    std::error_code sizeError;
    const std::uintmax_t fileSize = std::filesystem::file_size(imagePath, sizeError);
    std::string size = std::to_string(image->size()) + " bytes";
    if (image->size() == kMostRead)
      size = sizeError ? "more than " + std::to_string(kMostRead - 1) + " bytes" : std::to_string(fileSize) + " bytes";
    return Fail("'" + imagePath + "' (" + size + ") not packed as version \"" + version + "\": " + error);
  }
  // Checked before it replaces any file of that name.
  if (const std::string wrong = CheckPacked(packed, *image, version); !wrong.empty())
    return Fail("the packed file is not right, nothing written: " + wrong);

  const std::string_view content(reinterpret_cast<const char*>(packed.data()), packed.size());
  if (const std::string failed = velkor::WriteFileAtomically(outputPath, content); !failed.empty())
    return Fail("cannot write " + failed);

  const std::optional<std::vector<uint8_t>> written = ReadBack(outputPath);
  const std::string wrong = written ? CheckPacked(*written, *image, version) : "it cannot be read";
  if (!wrong.empty()) {
    std::error_code removeError;
    std::filesystem::remove(outputPath, removeError);
    return Fail("'" + outputPath + "' did not read back as written, removed: " + wrong);
  }

  const auto chunks = image->size() / velkor::kFirmwareChunkPayload;
  std::printf("%s: firmware %s, %zu bytes: image of %zu bytes in %zu chunks, addresses 0x%04X to 0x%04zX\n",
              outputPath.c_str(), version.c_str(), packed.size(), image->size(), chunks,
              unsigned{velkor::kFirmwareStart}, velkor::kFirmwareStart + image->size() / 2 - 1);
  return 0;
}
