// A project file saved by the window's logic, for the command line to load:
// the chip chosen as the menu chooses it, an object file loaded, the whole
// job saved.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/qn_programmer.hpp"
#include "app/recording_view.hpp"
#include "chips/catalogue.hpp"
#include "platform/event_loop.hpp"

namespace velkor::test {

// False (with a test failure) when the chip is not in the catalogue or the
// object file did not load.
inline bool SaveProjectFromWindow(const std::string& chipCaption, const std::filesystem::path& objectFile,
                                  const std::filesystem::path& project) {
  EventLoop loop;
  RecordingView view;
  TQNProgrammer window(loop, view);
  window.StartupReset();
  const CatalogueEntry* chip = FindChip(chipCaption);
  EXPECT_NE(chip, nullptr) << chipCaption;
  if (chip == nullptr) return false;
  view.whileShown[DialogId::ChipSelection] = [&] {
    window.ChipSelectionFormShow();
    window.ChooseChip(*chip);
  };
  window.DevButtonClick();
  window.LoadFile(objectFile.string());
  EXPECT_TRUE(window.FileLoaded) << objectFile;
  if (!window.FileLoaded) return false;
  window.SaveProject(project.string());
  return true;
}

}  // namespace velkor::test
