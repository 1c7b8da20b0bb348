// The "Project" menu: saving the whole job into a project file and restoring
// it. The format itself is data/project_file; here the record is gathered
// from the window's state, and a read record is applied part by part in
// file order, with the side effects a person's clicks would have.
#include <algorithm>
#include <exception>

#include "app/qn_programmer.hpp"
#include "data/project_file.hpp"
#include "data/text_format.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

uint16_t Low16(uint32_t value) { return static_cast<uint16_t>(value); }

// A spin box keeps its value inside its range.
int Clamped(const SpinControl& spin, uint64_t value) {
  if (spin.MaxValue <= spin.MinValue) return static_cast<int>(std::min<uint64_t>(value, 0x7FFFFFFF));
  if (value < static_cast<uint64_t>(std::max(spin.MinValue, 0))) return spin.MinValue;
  return static_cast<int>(std::min<uint64_t>(value, static_cast<uint64_t>(spin.MaxValue)));
}

bool IsItem(const RadioGroupControl& group, uint8_t index) { return index < group.Items.size(); }

// The fields a chip's catalogue entry sets that no project file holds.
void TakeCatalogueFlags(const CatalogueEntry& entry, ChipParams& chip) {
  // As the chip menu leaves them: cleared when it opens, then the entry's.
  ChipParams fromMenu = chip;
  fromMenu.ModeFlags = 0;
  fromMenu.LowVoltChip = 0;
  fromMenu.ForceQe = 0;
  fromMenu.HideProtect = 0;
  uint8_t optionBits = 0;  // restored from the file instead
  ApplyCatalogueEntry(entry, fromMenu, optionBits);
  chip.ModeFlags = fromMenu.ModeFlags;
  chip.LowVoltChip = fromMenu.LowVoltChip;
  chip.ForceQe = fromMenu.ForceQe;
  chip.HideProtect = fromMenu.HideProtect;
  chip.PageFlash = fromMenu.PageFlash;
}


}  // namespace

// ---------------------------------------------------------------- saving

ProjectRecord TQNProgrammer::GatherProject() const {
  const auto& c = Controls;
  ProjectRecord r;
  r.MCUNameEdit = c.MCUNameEdit.Text;
  r.ProductEditX = c.ProductEditX.Text;
  r.AccSum16 = Image.AccSum16;
  r.Crc16 = Image.Crc16;
  r.SizeKB = Low16(Chip.SizeKB);
  r.PageSize = Low16(Chip.PageSize);
  r.ReservedWord3 = Chip.ReservedWord3;
  r.EraseTime = Chip.EraseTime;
  r.ChipStart = Image.ChipStart;
  r.ChipEnd = Image.ChipEnd;
  r.Size = Chip.Size;
  r.ReservedByte4 = Chip.ReservedByte4;
  r.Family = Chip.Family;
  r.SubType = Chip.SubType;
  r.StatusBytes = Chip.StatusBytes;
  r.ReservedByte2 = Chip.ReservedByte2;
  r.ReservedByte1 = Chip.ReservedByte1;
  r.EepromProtect = Chip.EepromProtect;
  r.ReservedByte3 = Chip.ReservedByte3;
  r.ReservedWord1 = Chip.ReservedWord1;
  r.ReservedWord2 = Chip.ReservedWord2;
  r.ReservedByte5 = Chip.ReservedByte5;
  r.ReservedByte6 = Chip.ReservedByte6;
  r.OptionBits = Job.OptionBits;
  r.AddrStyle = Chip.AddrStyle;
  r.DeviceAddress = Chip.DeviceAddress;
  r.IdByte1 = Chip.IdByte1;
  r.IdByte2 = Chip.IdByte2;
  r.CheckBoxAut = c.CheckBoxAut.Checked;
  r.SpinEditIn = static_cast<uint16_t>(c.SpinEditIn.Value);
  r.SpinEditOut = static_cast<uint16_t>(c.SpinEditOut.Value);
  r.RadioGroupSpd = static_cast<uint8_t>(c.RadioGroupSpd.ItemIndex);
  r.RadioGpVolt = static_cast<uint8_t>(c.RadioGpVolt.ItemIndex);
  r.CheckBoxWRP = c.CheckBoxWRP.Checked;
  r.CheckBoxSN = c.CheckBoxSN.Checked;
  r.ChkBoxPCSN = c.ChkBoxPCSN.Checked;
  r.SNOrderChk = c.SNOrderChk.Checked;
  r.ChkBoxStrSN = c.ChkBoxStrSN.Checked;
  r.SNEdit = c.SNEdit.Text;
  r.GainEdit = c.GainEdit.Text;
  r.AddrEdit = c.AddrEdit.Text;
  r.ChkBoxStrSNAgain = c.ChkBoxStrSN.Checked;
  r.ChkBoxNumb = c.ChkBoxNumb.Checked;
  r.SpinEditNumb = static_cast<uint32_t>(c.SpinEditNumb.Value);
  return r;
}

void TQNProgrammer::SaveProject(const std::string& path) {
  WriteProjectFile(path, GatherProject(), Image.Data.get(), kImageCapacity, random_);
}

void TQNProgrammer::SaveToOrvAneProjectClick() {
  // A project saved from operator mode would be the job without its lock.
  if (RefusedInOperatorMode(Tx("saving the job as a project"))) return;
  const auto path =
      view_.AskSaveFile({Tx(kProjectSaveFilter), 1, kProjectSaveDefaultExtension, FileDialogPurpose::Project});
  if (!path) return;
  SaveProject(*path);
  Editor.MarkSaved();
  ShowEditStatus();
  view_.ImageMarksChanged();
  const std::string saved = FormatText(Tx(kProjectSavedText), path->c_str());
  AppendPlain(TimeStampedLine(*clock_, saved));
  view_.ShowMessage(MessageKind::Information, saved);
}

// ---------------------------------------------------------------- loading

void TQNProgrammer::RestoreProjectPart(const ProjectRecord& r, ProjectPart part) {
  auto& c = Controls;
  // A box set to a new value runs its click handling, as a click would.
  auto setCheck = [this](CheckControl& box, bool checked, void (TQNProgrammer::*click)()) {
    if (box.Checked == checked) return;
    box.Checked = checked;
    if (click) (this->*click)();
  };
  switch (part) {
    case ProjectPart::None:
    case ProjectPart::FixedBytes:
    case ProjectPart::Magic:
    case ProjectPart::Ignored:  // write protection is not restored
    case ProjectPart::DataMarker:
    case ProjectPart::Keys:
      break;
    case ProjectPart::Names:
      if (!r.ProductEditX.empty()) c.ProductEditX.Text = r.ProductEditX;
      break;
    case ProjectPart::ImageFields:
      Image.AccSum16 = r.AccSum16;
      Image.Crc16 = r.Crc16;
      Chip.SizeKB = ProjectSizeKB(r);
      Chip.PageSize = r.PageSize;
      Chip.ReservedWord3 = r.ReservedWord3;
      Chip.EraseTime = r.EraseTime;
      Image.ChipStart = r.ChipStart;
      Image.ChipEnd = r.ChipEnd;
      Chip.Size = r.Size;
      break;
    case ProjectPart::ChipCodes:
      Chip.ReservedByte4 = r.ReservedByte4;
      Chip.Family = r.Family;
      Chip.SubType = r.SubType;
      // Another chip than the one shown is applied with the parameters read
      // so far; its catalogue flags come from its entry, not from the chip
      // shown before.
      if (!r.MCUNameEdit.empty() && r.MCUNameEdit != c.MCUNameEdit.Text) {
        if (const CatalogueEntry* entry = FindChip(r.MCUNameEdit)) TakeCatalogueFlags(*entry, Chip);
        SetChipName(r.MCUNameEdit);
        // Choosing the chip forgets the file name; the project's data is
        // that file's, restored with it.
        if (!r.ProductEditX.empty()) c.ProductEditX.Text = r.ProductEditX;
      }
      break;
    case ProjectPart::ChipDetails:
      Chip.StatusBytes = r.StatusBytes;
      Chip.ReservedByte2 = r.ReservedByte2;
      Chip.ReservedByte1 = r.ReservedByte1;
      Chip.EepromProtect = r.EepromProtect;
      Chip.ReservedByte3 = r.ReservedByte3;
      Chip.ReservedWord1 = r.ReservedWord1;
      Chip.ReservedWord2 = r.ReservedWord2;
      Chip.ReservedByte5 = r.ReservedByte5;
      Chip.ReservedByte6 = r.ReservedByte6;
      Job.OptionBits = r.OptionBits;
      Chip.AddrStyle = r.AddrStyle;
      Chip.DeviceAddress = r.DeviceAddress;
      Chip.IdByte1 = r.IdByte1;
      Chip.IdByte2 = r.IdByte2;
      // The boxes every operation takes these two from show them, so that
      // the next operation keeps them.
      c.EditDevAdrX.Text = FormatText("0x%02X", unsigned{Chip.DeviceAddress});
      c.SpinEditPGSZ.Value = static_cast<int>(Chip.PageSize);
      break;
    case ProjectPart::Detection:
      setCheck(c.CheckBoxAut, r.CheckBoxAut, &TQNProgrammer::CheckBoxAutClick);
      c.SpinEditIn.Value = Clamped(c.SpinEditIn, r.SpinEditIn);
      c.SpinEditOut.Value = Clamped(c.SpinEditOut, r.SpinEditOut);
      // An item the group does not have leaves the selection as it is.
      if (IsItem(c.RadioGroupSpd, r.RadioGroupSpd)) c.RadioGroupSpd.ItemIndex = r.RadioGroupSpd;
      if (IsItem(c.RadioGpVolt, r.RadioGpVolt)) SelectVoltage(r.RadioGpVolt);
      break;
    case ProjectPart::SerialNumbers:
      setCheck(c.CheckBoxSN, r.CheckBoxSN, &TQNProgrammer::CheckBoxSNClick);
      c.ChkBoxPCSN.Checked = r.ChkBoxPCSN;
      c.SNOrderChk.Checked = r.SNOrderChk;
      c.ChkBoxStrSN.Checked = r.ChkBoxStrSN;
      c.SNEdit.Text = r.SNEdit;
      c.GainEdit.Text = r.GainEdit;
      c.AddrEdit.Text = r.AddrEdit;
      c.ChkBoxStrSN.Checked = r.ChkBoxStrSNAgain;
      c.ChkBoxNumb.Checked = r.ChkBoxNumb;
      c.SpinEditNumb.Value = Clamped(c.SpinEditNumb, r.SpinEditNumb);
      break;
  }
}

void TQNProgrammer::LoadProject(const std::string& path, std::optional<std::string_view> contents) {
  if (RefusedJobChange(Tx("loading a project"))) return;
  LastProjectRefusal.clear();
  ProjectReader reader = contents ? ProjectReader::OfBytes(*contents) : ProjectReader(path);
  ProjectRecord record;
  const ProjectHeader header = ReadProjectHeader(reader, record);
  const auto last = std::min(header.reached, ProjectPart::SerialNumbers);
  for (auto part = ProjectPart::FixedBytes; part <= last; part = NextProjectPart(part))
    RestoreProjectPart(record, part);
  // Whatever was taken from the project makes a new job; its image comes
  // from the file the project names, or from the project itself.
  if (header.status != ProjectHeaderStatus::BadFixedBytes && header.status != ProjectHeaderStatus::BadMagic) {
    RenewJobId();
    ImageFile = record.ProductEditX.empty() ? path : record.ProductEditX;
  }

  // The log keeps its marks; the command line, which does not show the
  // log, says which file, why, and what was taken from it.
  constexpr const char* kNothingTaken = TextKey("nothing was taken from it: no chip is chosen and no data is loaded");
  const auto refuse = [&](const char* line, const char* why, const char* taken) {
    AppendPlain(Tx(line));
    LastProjectRefusal =
        FormatText(Tx("The project file \"%s\" was refused: %s; %s."), path.c_str(), Tx(why), Tx(taken));
  };
  switch (header.status) {
    case ProjectHeaderStatus::BadFixedBytes:
      refuse(kProjectBadFixedBytesLine, TextKey("it does not begin with a project file's two mark bytes"),
             kNothingTaken);
      return;
    case ProjectHeaderStatus::BadMagic:
      refuse(kProjectBadMagicLine, TextKey("it does not carry a project file's name text"), kNothingTaken);
      return;
    case ProjectHeaderStatus::BadDataMarker:
      FileLoaded = false;
      refuse(kProjectBadDataMarkerLine, TextKey("the mark before its data block is damaged"),
             TextKey("its chip and settings were taken, its data was not, and no data is loaded"));
      return;
    case ProjectHeaderStatus::Truncated: {
      FileLoaded = false;
      const std::string text = FormatText(
          Tx("The project file \"%s\" ends at offset %llu, in its %s; the load stopped there."), path.c_str(),
          static_cast<unsigned long long>(header.offset), Tx(ProjectPartName(NextProjectPart(header.reached))));
      AppendInfo(text);
      throw EInOutError(text);
    }
    case ProjectHeaderStatus::Complete:
      break;
  }

  FileLoaded = true;
  const ProjectDataOutcome data = ReadProjectData(reader, header, record, Image.ChipStart, Image.ChipEnd,
                                                  Image.Data.get(), kImageCapacity);
  ChipConfirmed = true;
  if (data.fileEnded) {
    FileLoaded = false;
    const std::string text = FormatText(Tx("The project file \"%s\" ends inside its data block: %llu of %llu byte "
                                           "pairs were restored and the rest of the chip range set to 0xFF; the data "
                                           "does not count as loaded."),
                                        path.c_str(), static_cast<unsigned long long>(data.restored),
                                        static_cast<unsigned long long>(data.stored));
    AppendInfo(text);
    throw EInOutError(text);
  }
  if (data.beyondImage) {
    FileLoaded = false;
    const std::string text = FormatText(
        Tx("The project's address range 0x%08X-0x%08X reaches beyond the image buffer; its data does not count as "
           "loaded."),
        Image.ChipStart, Image.ChipEnd);
    AppendInfo(text);
    view_.ShowMessage(MessageKind::Warning, text);
    return;
  }
  if (data.erased > 0) {
    AppendInfo(FormatText(Tx("The project's data block holds %llu byte pairs, the chip range 0x%06X-0x%06X takes "
                             "%llu; the rest of the range is set to 0xFF."),
                          static_cast<unsigned long long>(data.restored), Image.ChipStart, Image.ChipEnd,
                          static_cast<unsigned long long>(data.expected)));
  }
}

void TQNProgrammer::LoadFromOrvaneProjectClick() {
  if (RefusedJobChange(Tx("loading a project"))) return;
  const auto path = view_.AskOpenFile({Tx(kProjectOpenFilter), 1, "", FileDialogPurpose::Project});
  if (path) LoadProjectFile(*path);
}

void TQNProgrammer::LoadProjectFile(const std::string& path, std::optional<std::string_view> contents) {
  if (RefusedJobChange(Tx("loading a project"))) return;
  AppendInfo(FormatText(Tx(kLoadProjectLine), path.c_str()));
  ChipConfirmed = false;
  FileLoaded = false;
  // Whatever was restored is completed the same way, also when the load
  // stopped with an error: the ranges and checksums then match the image.
  auto complete = [this] {
    if (!ChipConfirmed) return;
    Image.FileStart = Image.ChipStart;
    Image.FileEnd = Image.ChipEnd;
    RecomputeImage();
  };
  try {
    LoadProject(path, contents);
  } catch (const EInOutError&) {
    complete();
    throw;
  }
  complete();
  if (FileLoaded && DataFileLoaded) DataFileLoaded(path);
}

}  // namespace velkor
