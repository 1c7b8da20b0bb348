// Comparing the image with a file or with the last chip read: the list of
// differing ranges, the keys that step through them, and the comparison
// kept up to date while the image is edited or replaced.
#include <algorithm>
#include <cstring>

#include "app/qn_programmer.hpp"
#include "data/comparison_follow.hpp"
#include "data/text_format.hpp"
#include "platform/erased_pages.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

constexpr const char* kComparingLine = TextKey("Comparing the image with %s......");
constexpr const char* kNoChipReadYet = TextKey("No chip has been read yet: read one with Read first.");
constexpr const char* kChipReadName = TextKey("the last chip read");
constexpr const char* kNoDifferenceThere = TextKey("No differing range after the cursor.");
constexpr const char* kNoDifferenceBefore = TextKey("No differing range before the cursor.");
constexpr const char* kDifferenceStatus = TextKey("Differences: %llu bytes in %llu ranges");
constexpr const char* kNoDifferenceStatus = TextKey("No difference");
constexpr const char* kCompareLoadFailed = TextKey("\"%s\" could not be loaded for the comparison; nothing was compared.");

// The loaders' report for a file loaded only to be compared: its warnings
// reach the operator; its ranges, checksums and grid are not the image's.
class ComparisonLoadReport final : public ImageReport {
 public:
  explicit ComparisonLoadReport(ImageReport& main) : main_(main) {}
  void AppendInfo(const std::string& text) override { main_.AppendInfo(text); }
  void AppendPlain(const std::string&) override {}
  void SetStatusPanel(int, const std::string&) override {}
  void ShowHexView(uint32_t, uint32_t) override {}
  void Warn(const std::string& text) override { main_.Warn(text); }
  void SetBusy(bool busy) override { main_.SetBusy(busy); }

 private:
  ImageReport& main_;
};

}  // namespace

void TQNProgrammer::CompareWithFile1Click() {
  if (!ChipConfirmed) return;
  const auto path = view_.AskOpenFile(
      {Tx(kOpenDialogFilter), kOpenDialogFilterIndex, kOpenDialogDefaultExtension, FileDialogPurpose::ObjectLoad});
  if (path) CompareWithFile(*path);
}

void TQNProgrammer::CompareWithFile(const std::string& path) {
  if (!ChipConfirmed) return;
  // The file side is about to be loaded anew: a comparison with the file
  // before it ends here, whatever this load gives.
  if (comparedImage_ == &compareFile_) CloseComparison1Click();
  ComparisonLoadReport report(*this);
  compareFile_.Erase();
  ChipParams chip = Chip;  // the load resets the range of the chip it is given
  const ObjectFormat format = ChooseObjectFormat(path, LoadFormat, report);
  const LoadOutcome outcome = LoadObjectFileAs(path, format, compareFile_, chip, report);
  if (outcome.code == kRecordReadError) {
    const std::string text = FormatText(Tx(kCompareLoadFailed), path.c_str());
    AppendInfo(text);
    Warn(text);
    return;
  }
  if (chip.Family == kFamilyDataFlash528) RecomputeDataFlashImage(compareFile_, report);
  CompareWith(compareFile_, "\"" + path + "\"");
}

void TQNProgrammer::CompareWithChipRead1Click() {
  if (!ChipConfirmed) return;
  if (!ChipReadLast) {
    view_.ShowMessage(MessageKind::Information, Tx(kNoChipReadYet));
    return;
  }
  CompareWith(ChipRead, Tx(kChipReadName));
}

void TQNProgrammer::CompareWith(const ImageBuffer& other, const std::string& name) {
  if (Chip.Size == 0) return;
  comparedImage_ = &other;
  ComparedWith = name;
  AppendInfo(FormatText(Tx(kComparingLine), name.c_str()));
  SetBusy(true);
  const uint32_t last = static_cast<uint32_t>(std::min<uint64_t>(Chip.Size, kImageCapacity) - 1);
  Comparison = CompareImages(Image.Data.get(), other.Data.get(), 0, last, kDefaultListedRanges);
  SetBusy(false);
  Controls.TabSheetCompare.Visible = true;
  AppendInfo(ComparisonSummary(*Comparison));
  for (std::size_t i = 0; i < std::min<std::size_t>(Comparison->ranges.size(), kListedDifferences); ++i)
    AppendPlain("  " + DifferingRangeLine(Comparison->ranges[i]));
  ShowEditStatus();
  view_.ImageMarksChanged();
  if (!Comparison->ranges.empty()) ShowDifference(0);
}

void TQNProgrammer::FollowEditInComparison(const AppliedEdit& edit) {
  if (!Comparison || !comparedImage_) return;
  velkor::FollowEditInComparison(*Comparison, Image.Data.get(), comparedImage_->Data.get(), edit,
                                 kDefaultListedRanges);
}

std::string TQNProgrammer::ComparisonStatus() const {
  if (!Comparison) return {};
  if (Comparison->Equal()) return Tx(kNoDifferenceStatus);
  return FormatText(Tx(kDifferenceStatus), static_cast<unsigned long long>(Comparison->differingBytes),
                    static_cast<unsigned long long>(Comparison->rangeCount));
}

void TQNProgrammer::ShowDifference(std::size_t index) {
  if (!Comparison || index >= Comparison->ranges.size()) return;
  const DifferingRange& range = Comparison->ranges[index];
  // Selected from its end, so that the cursor stands on its first byte.
  Editor.MoveTo(range.Last());
  Editor.MoveTo(range.address, true);
  view_.ShowImageAddress(range.address);
  view_.ImageMarksChanged();
}

void TQNProgrammer::NextDifference1Click() {
  if (!Comparison) return;
  const uint32_t from = Editor.Selection().last;
  const auto index = from == UINT32_MAX ? std::nullopt : Comparison->FirstRangeFrom(from + 1);
  if (!index) {
    AppendInfo(Tx(kNoDifferenceThere));
    return;
  }
  ShowDifference(*index);
}

void TQNProgrammer::PreviousDifference1Click() {
  if (!Comparison) return;
  const uint32_t from = Editor.Selection().first;
  const auto index = from == 0 ? std::nullopt : Comparison->LastRangeUpTo(from - 1);
  if (!index) {
    AppendInfo(Tx(kNoDifferenceBefore));
    return;
  }
  ShowDifference(*index);
}

void TQNProgrammer::CloseComparison1Click() {
  Comparison.reset();
  comparedImage_ = nullptr;
  ComparedWith.clear();
  Controls.TabSheetCompare.Visible = false;
  ShowEditStatus();
  view_.ImageMarksChanged();
}

void TQNProgrammer::KeepChipRead() {
  const uint64_t size = std::min<uint64_t>(Chip.Size, kImageCapacity);
  if (size == 0) return;
  ChipRead.Erase();
  // Only the pages the read wrote: the erased rest costs no memory.
  const std::size_t written = WrittenExtent(Image.Data, static_cast<std::size_t>(size));
  std::memcpy(ChipRead.Data.get(), Image.Data.get(), written);
  ChipReadLast = static_cast<uint32_t>(size - 1);
}

}  // namespace velkor
