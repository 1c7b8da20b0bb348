// A main-window logic in a temporary start directory holding a firmware
// file, with a recording view and a clock that always reads 10:20:30 on
// 12/10/26. The user's and the installed data folders lie in the scratch
// directory too (data-home/velkor350qn and installed), empty, so nothing of
// the machine's is found.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
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
    if (const char* dataHome = std::getenv("XDG_DATA_HOME")) previousDataHome = dataHome;
    setenv("XDG_DATA_HOME", (directory / "data-home").c_str(), 1);
    // The firmware file the program finds at start-up, of the version the
    // simulated programmers report.
    WriteFirmwareFile(directory, "V3.10");
    programmer = MakeProgrammer();
  }
  ~ProgrammerFixture() override {
    programmer.reset();
    if (previousDataHome)
      setenv("XDG_DATA_HOME", previousDataHome->c_str(), 1);
    else
      unsetenv("XDG_DATA_HOME");
    std::filesystem::current_path(previousDirectory);
    std::filesystem::remove_all(directory);
  }

  // A fresh main-window logic, not yet shown, looking in the scratch
  // directory's installed data folder.
  std::unique_ptr<TQNProgrammer> MakeProgrammer() {
    auto made = std::make_unique<TQNProgrammer>(loop, view, std::make_unique<FixedClock>(kTime, kDate));
    made->InstalledFolder = InstalledFolder();
    return made;
  }
  std::filesystem::path UserFolder() const { return directory / "data-home" / "velkor350qn"; }
  std::filesystem::path InstalledFolder() const { return directory / "installed"; }

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
  std::optional<std::string> previousDataHome;
  std::filesystem::path directory;
  EventLoop loop;
  RecordingView view;
  std::unique_ptr<TQNProgrammer> programmer;
};

}  // namespace velkor::test
