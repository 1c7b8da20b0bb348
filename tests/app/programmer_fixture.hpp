// A main-window logic in a temporary start directory holding a firmware
// file, with a recording view and a clock that always reads 10:20:30 on
// 12/10/26.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "app/qn_programmer.hpp"
#include "platform/event_loop.hpp"
#include "recording_view.hpp"
#include "support/firmware.hpp"

namespace velkor::test {

inline constexpr const char* kTime = "10:20:30";
inline constexpr const char* kDate = "12/10/26";

class ProgrammerFixture : public ::testing::Test {
 protected:
  ProgrammerFixture() {
    previousDirectory = std::filesystem::current_path();
    char pattern[] = "/tmp/velkor-app-XXXXXX";
    directory = mkdtemp(pattern);
    std::filesystem::current_path(directory);
    // The firmware file the program finds at start-up, of the version the
    // simulated programmers report.
    WriteFirmwareFile(directory, "V3.10");
    programmer = std::make_unique<TQNProgrammer>(loop, view, std::make_unique<FixedClock>(kTime, kDate));
  }
  ~ProgrammerFixture() override {
    programmer.reset();
    std::filesystem::current_path(previousDirectory);
    std::filesystem::remove_all(directory);
  }

  // Chooses a chip the way the menu does.
  void Choose(const std::string& caption) {
    const CatalogueEntry* entry = FindChip(caption);
    ASSERT_NE(entry, nullptr) << caption;
    view.whileShown[DialogId::ChipSelection] = [this, entry] {
      programmer->ChipSelectionFormShow();
      programmer->ChooseChip(*entry);
    };
    programmer->DevButtonClick();
  }
  // Opens the chip selection and closes it without a choice.
  void OpenAndCancel() {
    view.whileShown[DialogId::ChipSelection] = [this] { programmer->ChipSelectionFormShow(); };
    programmer->DevButtonClick();
  }

  std::string Line(const std::string& text) const { return std::string("> ") + kTime + " " + text; }

  std::filesystem::path previousDirectory;
  std::filesystem::path directory;
  EventLoop loop;
  RecordingView view;
  std::unique_ptr<TQNProgrammer> programmer;
};

}  // namespace velkor::test
