// What the image routines tell the operator: the information log, the status
// bar, the hex grid of the data page, warning boxes and the busy cursor. The
// main window implements it; tests record it.
#pragma once

#include <cstdint>
#include <string>

namespace velkor {

class ImageBuffer;

class ImageReport {
 public:
  virtual ~ImageReport() = default;

  // A time-stamped line of the information log.
  virtual void AppendInfo(const std::string& text) = 0;
  // A line of the information log as it is (blank and separator lines).
  virtual void AppendPlain(const std::string& text) = 0;
  // Status-bar panel 0 (ACC checksum) or 1 (CRC checksum).
  virtual void SetStatusPanel(int panel, const std::string& text) = 0;
  // Make the data page visible and show the image from first to last
  // (inclusive) in its hex grid; rows are rendered on demand (hex_view.hpp).
  virtual void ShowHexView(uint32_t first, uint32_t last) = 0;
  // A modal warning box with one OK button.
  virtual void Warn(const std::string& text) = 0;
  // The hourglass cursor while a long recompute runs.
  virtual void SetBusy(bool busy) = 0;
  // The used range is final and its checksums are about to be computed:
  // a report that wants a digest of the same range may start it now, beside
  // them. The image does not change until the recompute has returned.
  virtual void ChecksumRangeSettled(const ImageBuffer& /*image*/) {}
};

}  // namespace velkor
