// Pictures of the window for the documentation: the window is set up as
// asked (a chip, a page, a loaded file, an automatic programming run on
// the programmers found), drawn into a PNG file, and closed.
#pragma once

#include <QString>

namespace velkor::ui {

class MainWindow;

struct ScreenshotRequest {
  QString file;         // the PNG to write
  QString chip;         // chosen from the chip menu first, when not empty
  QString page;         // the page shown, when not empty
  QString load;         // an object file loaded after the chip, when not empty
  QString compare;      // an object file the image is compared with, when not empty
  bool autoProgram = false;  // run auto programming and wait for its end
  bool busy = false;         // with autoProgram: the picture mid-run, each busy programmer with its time left
  int programmers = 0;       // programmers to wait for before that
};

// Arranges the picture for when the window has started. result becomes 1
// when something asked for cannot be done (it says why on standard error).
void ArrangeScreenshot(MainWindow& window, const ScreenshotRequest& request, int& result);

}  // namespace velkor::ui
