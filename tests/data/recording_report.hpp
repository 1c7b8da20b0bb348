// An ImageReport for tests: records every call in order, and shares one
// image among the tests of a process (it is 130 MiB).
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "data/image_buffer.hpp"
#include "data/image_report.hpp"

namespace velkor::test {

class RecordingReport : public ImageReport {
 public:
  // Log lines as "I " + text (time-stamped) or "P " + text (plain).
  std::vector<std::string> log;
  std::vector<std::string> warnings;
  std::string panel[2];
  struct HexView {
    uint32_t first;
    uint32_t last;
  };
  std::vector<HexView> hexViews;
  std::vector<bool> busy;

  void AppendInfo(const std::string& text) override { log.push_back("I " + text); }
  void AppendPlain(const std::string& text) override { log.push_back("P " + text); }
  void SetStatusPanel(int index, const std::string& text) override { panel[index] = text; }
  void ShowHexView(uint32_t first, uint32_t last) override { hexViews.push_back({first, last}); }
  void Warn(const std::string& text) override { warnings.push_back(text); }
  void SetBusy(bool on) override { busy.push_back(on); }
};

inline ImageBuffer& SharedImage() {
  static ImageBuffer image;
  return image;
}

// A fresh erased image and an empty report for every test; a temporary
// directory for files.
class ImageFixture : public ::testing::Test {
 protected:
  ImageFixture() : image(SharedImage()) {
    image.Erase();
    image.FileStart = kNoFileStart;
    image.FileEnd = kNoFileEnd;
    image.ChipStart = 0;
    image.ChipEnd = 0;
    image.AccSum16 = 0;
    image.Crc16 = 0;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = "velkor-data-" + std::string(info->test_suite_name()) + "-" + info->name() + "-" +
                       std::to_string(::getpid());
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    dir = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
  ~ImageFixture() override { std::filesystem::remove_all(dir); }

  std::filesystem::path Write(const std::string& name, const std::string& content) const {
    const auto path = dir / name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  std::vector<uint8_t> Bytes(uint32_t first, uint32_t count) const {
    return {image.Data.get() + first, image.Data.get() + first + count};
  }

  ImageBuffer& image;
  RecordingReport report;
  std::filesystem::path dir;
};

}  // namespace velkor::test
