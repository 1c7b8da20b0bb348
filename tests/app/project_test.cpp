// Project files through the window's commands: the whole job saved and
// restored into a second window logic, the chip selection a load applies,
// a trimmed flash range, the three failure lines, truncated files and the
// commands' dialogs and messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "data/project_file.hpp"
#include "platform/text_encoding.hpp"
#include "programmer_fixture.hpp"
#include "support/files.hpp"

namespace velkor {
namespace {

using test::FixedClock;
using test::ProgrammerFixture;
using test::ReadFile;
using test::RecordingView;
using test::WriteFile;

// Another window logic in the same start directory, shown.
struct Peer {
  explicit Peer(EventLoop& loop) : programmer(loop, view, std::make_unique<FixedClock>(test::kTime, test::kDate)) {
    programmer.FormShow();
  }
  RecordingView view;
  TQNProgrammer programmer;
};

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

void Save(TQNProgrammer& p, RecordingView& v, const std::filesystem::path& path) {
  v.fileAnswers.push_back(path.string());
  p.RunCommand([&p] { p.SaveToOrvAneProjectClick(); });
}

void Load(TQNProgrammer& p, RecordingView& v, const std::filesystem::path& path) {
  v.fileAnswers.push_back(path.string());
  p.RunCommand([&p] { p.LoadFromOrvaneProjectClick(); });
}

// Everything a project carries, compared between the window that saved it
// and the one that loaded it.
void ExpectSameJob(const TQNProgrammer& saved, const TQNProgrammer& loaded) {
  EXPECT_EQ(loaded.Chip, saved.Chip);
  EXPECT_EQ(loaded.Job.OptionBits, saved.Job.OptionBits);
  EXPECT_EQ(loaded.Image.ChipStart, saved.Image.ChipStart);
  EXPECT_EQ(loaded.Image.ChipEnd, saved.Image.ChipEnd);
  EXPECT_EQ(loaded.Image.AccSum16, saved.Image.AccSum16);
  EXPECT_EQ(loaded.Image.Crc16, saved.Image.Crc16);
  EXPECT_EQ(std::memcmp(loaded.Image.Data.get(), saved.Image.Data.get(), saved.Image.ChipEnd + 1), 0);
  EXPECT_TRUE(loaded.ChipConfirmed);
  EXPECT_TRUE(loaded.FileLoaded);
  EXPECT_EQ(loaded.Image.FileStart, loaded.Image.ChipStart);

  const MainControls& s = saved.Controls;
  const MainControls& l = loaded.Controls;
  EXPECT_EQ(l.MCUNameEdit.Text, s.MCUNameEdit.Text);
  EXPECT_EQ(l.ProductEditX.Text, s.ProductEditX.Text);
  EXPECT_EQ(l.EditDevAdrX.Text, s.EditDevAdrX.Text);
  EXPECT_EQ(l.SpinEditPGSZ.Value, s.SpinEditPGSZ.Value);
  for (auto box : {&MainControls::CheckBoxAut, &MainControls::CheckBoxSN, &MainControls::ChkBoxPCSN,
                   &MainControls::SNOrderChk, &MainControls::ChkBoxStrSN, &MainControls::ChkBoxNumb}) {
    EXPECT_EQ((l.*box).Checked, (s.*box).Checked);
    EXPECT_EQ((l.*box).Enabled, (s.*box).Enabled);
  }
  for (auto spin : {&MainControls::SpinEditIn, &MainControls::SpinEditOut, &MainControls::SpinEditNumb}) {
    EXPECT_EQ((l.*spin).Value, (s.*spin).Value);
    EXPECT_EQ((l.*spin).Enabled, (s.*spin).Enabled);
  }
  for (auto edit : {&MainControls::SNEdit, &MainControls::GainEdit, &MainControls::AddrEdit}) {
    EXPECT_EQ((l.*edit).Text, (s.*edit).Text);
    EXPECT_EQ((l.*edit).Enabled, (s.*edit).Enabled);
  }
  EXPECT_EQ(l.RadioGroupSpd.ItemIndex, s.RadioGroupSpd.ItemIndex);
  EXPECT_EQ(l.RadioGpVolt.ItemIndex, s.RadioGpVolt.ItemIndex);
}

class ProjectTest : public ProgrammerFixture {
 protected:
  ProjectTest() { programmer->FormShow(); }

  MainControls& c() { return programmer->Controls; }

  // Loads a binary file of count bytes (named with Chinese characters) into
  // the image.
  void LoadData(std::size_t count, uint8_t step) {
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>(i * step + 1);
    dataFile = directory / "固件数据.bin";
    WriteFile(dataFile, bytes);
    programmer->LoadFile(dataFile.string());
  }

  // A job on an I2C EEPROM whose every stored setting differs from its
  // start-up value.
  void EepromJob() {
    Choose("24xx02");
    LoadData(256, 13);
    c().CheckBoxAut.Checked = true;
    programmer->CheckBoxAutClick();
    c().SpinEditIn.Value = 700;
    c().SpinEditOut.Value = 1200;
    programmer->SelectVoltage(1);
    c().RadioGroupSpd.ItemIndex = 1;
    c().CheckBoxWRP.Checked = true;
    c().CheckBoxSN.Checked = true;
    programmer->CheckBoxSNClick();
    c().ChkBoxPCSN.Checked = true;
    c().SNOrderChk.Checked = true;
    c().ChkBoxStrSN.Checked = true;
    c().SNEdit.Text = "0x00ABCDEF";
    c().GainEdit.Text = "0x10";
    c().AddrEdit.Text = "0x000000F0";
    c().SpinEditNumb.Value = 12340;
    programmer->SpinEditNumbChange();
    c().EditDevAdrX.Text = "0xA6";
    c().SpinEditPGSZ.Value = 16;
    programmer->PrepareJob();  // device address, page size, option bits
    ChipParams& chip = programmer->Chip;
    chip.SubType = 0x77;
    chip.AddrStyle = 0x04;
    chip.IdByte1 = 0x5A;
    chip.IdByte2 = 0xA5;
    chip.EepromProtect = 0x0C;
    chip.StatusBytes = {1, 2, 3, 4, 5, 6, 7, 8};
    chip.ReservedWord1 = 0x1111;
    chip.ReservedWord2 = 0x2222;
    chip.ReservedWord3 = 0x3333;
    chip.ReservedByte1 = 0x41;
    chip.ReservedByte2 = 0x42;
    chip.ReservedByte3 = 0x43;
    chip.ReservedByte4 = 0x44;
    chip.ReservedByte5 = 0x45;
    chip.ReservedByte6 = 0x46;
  }

  std::filesystem::path dataFile;
};

// ---------------------------------------------------------------- round trip

TEST_F(ProjectTest, TheSameChipShownGetsEveryStoredFieldAndControlBack) {
  EepromJob();
  programmer->Chip.EraseTime = 0x1234;  // restored only while the chip is not applied again
  const auto path = directory / "job.OVP";
  Save(*programmer, view, path);

  Peer peer(loop);
  peer.programmer.ChooseChip(*FindChip("24xx02"));
  std::memset(peer.programmer.Image.Data.get(), 0x00, 512);
  const std::size_t mark = peer.view.lines.size();
  Load(peer.programmer, peer.view, path);

  ExpectSameJob(*programmer, peer.programmer);
  EXPECT_EQ(peer.programmer.Chip.EraseTime, 0x1234);
  EXPECT_EQ(peer.programmer.Image.Data[256], 0x00);  // beyond the block: untouched
  EXPECT_FALSE(peer.programmer.Controls.CheckBoxWRP.Checked);  // not restored
  EXPECT_TRUE(peer.view.messages.empty());
  const std::vector<std::string> lines(peer.view.lines.begin() + static_cast<std::ptrdiff_t>(mark),
                                       peer.view.lines.end());
  EXPECT_EQ(lines.front(), Line("Load Project file \"" + path.string() + "\""));
  EXPECT_FALSE(Contains(lines, Line("Chip \"24xx02\" is selectd.")));
  EXPECT_TRUE(Contains(lines, Line("5.0V Interface is selected!")));
}

TEST_F(ProjectTest, AnotherChipShownIsReplacedByTheProjectsChip) {
  EepromJob();
  const auto path = directory / "job.OVP";
  Save(*programmer, view, path);

  Peer peer(loop);  // no chip chosen
  Load(peer.programmer, peer.view, path);

  ExpectSameJob(*programmer, peer.programmer);
  // The selection ran with the parameters read so far (3.3 V, clock item 2),
  // then the stored voltage and clock came back.
  const auto& lines = peer.view.lines;
  const auto selected = std::find(lines.begin(), lines.end(), Line("Chip \"24xx02\" is selectd."));
  ASSERT_NE(selected, lines.end());
  EXPECT_EQ(*(selected + 1), Line("Chip Main Flash is 256B/0KB."));
  EXPECT_NE(std::find(selected, lines.end(), Line("5.0V Interface is selected!")), lines.end());
}

TEST_F(ProjectTest, SavingTwiceGivesDifferentFilesThatLoadTheSame) {
  EepromJob();
  const auto first = directory / "first.OVP";
  const auto second = directory / "second.OVP";
  Save(*programmer, view, first);
  Save(*programmer, view, second);
  EXPECT_NE(ReadFile(first), ReadFile(second));
  EXPECT_EQ(ReadFile(first).size(), ReadFile(second).size());
  for (const auto& path : {first, second}) {
    Peer peer(loop);
    Load(peer.programmer, peer.view, path);
    ExpectSameJob(*programmer, peer.programmer);
  }
}

// A flash project saved with its trimmed range, loaded while another chip is
// shown: the selection widens the range to the whole chip, the file holds
// only the trimmed pairs, and the rest of the chip becomes 0xFF again.
TEST_F(ProjectTest, ATrimmedFlashRangeLoadsIntoTheWholeChipOfAChineseCaption) {
  Choose("1M Bits(1M位)");
  LoadData(0x1234, 3);
  ASSERT_EQ(programmer->Image.ChipEnd, 0x1FFFu);
  const auto path = directory / "工程.OVP";
  Save(*programmer, view, path);

  Peer peer(loop);
  peer.programmer.ChooseChip(*FindChip("24xx02"));
  std::memset(peer.programmer.Image.Data.get(), 0x00, 0x30000);
  Load(peer.programmer, peer.view, path);

  ExpectSameJob(*programmer, peer.programmer);
  EXPECT_EQ(peer.programmer.Controls.MCUNameEdit.Text, "1M Bits(1M位)");
  EXPECT_EQ(peer.programmer.Controls.ProductEditX.Text, dataFile.string());
  EXPECT_TRUE(Contains(peer.view.lines, Line("Chip \"1M Bits(1M位)\" is selectd.")));
  EXPECT_TRUE(Contains(peer.view.lines,
                       Line("The project's data block holds 4096 byte pairs, the chip range 0x000000-0x01FFFF "
                                  "takes 65536; the rest of the range is set to 0xFF.")));
  const uint8_t* data = peer.programmer.Image.Data.get();
  EXPECT_TRUE(std::all_of(data + 0x1234, data + 0x20000, [](uint8_t b) { return b == 0xFF; }));
  EXPECT_TRUE(std::all_of(data + 0x20000, data + 0x30000, [](uint8_t b) { return b == 0x00; }));
}

// The flags a catalogue entry sets and no project holds (here the mode bits
// of a 32 MiB flash) come from the project's chip, not from the chip shown.
TEST_F(ProjectTest, CatalogueFlagsFollowTheProjectsChip) {
  Choose("256M Bits(256M位)");
  programmer->RecomputeImage();  // a blank chip: one 4 KB block
  ASSERT_EQ(programmer->Chip.ModeFlags, 0x10);
  const auto path = directory / "large.OVP";
  Save(*programmer, view, path);

  Peer peer(loop);
  peer.programmer.ChooseChip(*FindChip("93xx66B"));
  ASSERT_EQ(peer.programmer.Chip.ModeFlags, 0x08);
  Load(peer.programmer, peer.view, path);
  EXPECT_EQ(peer.programmer.Chip.ModeFlags, 0x10);
  ExpectSameJob(*programmer, peer.programmer);
}

// ---------------------------------------------------------------- failures

// Offsets in a saved project: P follows the object file path, Q the
// serial-number address text (docs/file-formats.md).
struct Offsets {
  std::size_t P;
  std::size_t Q;
};

class ProjectFailureTest : public ProjectTest {
 protected:
  // Saves the EEPROM job at 5.0 V, then shows another chip at 3.3 V.
  std::string SavedThenAnotherChip() {
    Choose("24xx02");
    LoadData(256, 13);
    programmer->SelectVoltage(1);
    path = directory / "job.OVP";
    Save(*programmer, view, path);
    const std::string bytes = ReadFile(path);
    at.P = 30 + std::string("24xx02").size() + Utf8ToGbk(dataFile.string()).size();
    at.Q = at.P + 196 + 10 + 4 + 10;  // the three serial-number texts at their start-up values
    EXPECT_EQ(bytes.size(), at.Q + 36 + 256 + 1024);
    Choose("24xx04");
    view.messages.clear();
    return bytes;
  }

  std::filesystem::path path;
  Offsets at{};
};

struct MarkCase {
  const char* name;
  std::function<void(std::string&, const Offsets&)> damage;
  const char* line;
  bool stopsBeforeTheChip;
};
void PrintTo(const MarkCase& c, std::ostream* os) { *os << c.name; }

class ProjectMarkTest : public ProjectFailureTest, public ::testing::WithParamInterface<MarkCase> {};

TEST_P(ProjectMarkTest, AppendsItsLineAsItIsAndStops) {
  std::string bytes = SavedThenAnotherChip();
  GetParam().damage(bytes, at);
  WriteFile(path, bytes);
  const ChipParams before = programmer->Chip;
  const std::size_t mark = view.lines.size();
  Load(*programmer, view, path);

  const std::vector<std::string> lines(view.lines.begin() + static_cast<std::ptrdiff_t>(mark), view.lines.end());
  EXPECT_TRUE(Contains(lines, GetParam().line));  // no time stamp
  EXPECT_TRUE(view.messages.empty());
  EXPECT_FALSE(programmer->FileLoaded);
  // For the command line, which does not show the log: the file, the
  // reason and what was taken.
  EXPECT_EQ(programmer->LastProjectRefusal.rfind("The project file \"" + path.string() + "\" was refused: ", 0), 0u)
      << programmer->LastProjectRefusal;
  EXPECT_NE(programmer->LastProjectRefusal.find(GetParam().stopsBeforeTheChip ? "nothing was taken"
                                                                               : "its chip and settings were taken"),
            std::string::npos);
  if (GetParam().stopsBeforeTheChip) {
    EXPECT_EQ(lines.back(), GetParam().line);
    EXPECT_FALSE(programmer->ChipConfirmed);
    EXPECT_EQ(programmer->Chip, before);
    EXPECT_EQ(c().MCUNameEdit.Text, "24xx04");
    EXPECT_EQ(c().RadioGpVolt.ItemIndex, 0);
  } else {
    // The settings before the marker are in place; the chip was applied.
    EXPECT_TRUE(programmer->ChipConfirmed);
    EXPECT_EQ(c().MCUNameEdit.Text, "24xx02");
    EXPECT_EQ(c().RadioGpVolt.ItemIndex, 1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Marks, ProjectMarkTest,
    ::testing::Values(MarkCase{"FixedBytesSwapped", [](std::string& b, const Offsets&) { std::swap(b[0], b[1]); },
                               "> Invalid File format for Orvane Project file!", true},
                      MarkCase{"MagicDamaged", [](std::string& b, const Offsets&) { b[6] ^= 0x04; },
                               "> File is not the Orvane_QN Project file!", true},
                      MarkCase{"DataMarkerDamaged", [](std::string& b, const Offsets& at) { b[at.Q + 30] ^= 0x01; },
                               "> Data is Corrupted 2!", false}),
    [](const auto& c) { return std::string(c.param.name); });

struct CutCase {
  const char* name;
  std::function<std::size_t(const Offsets&)> length;
  const char* part;  // empty: the file ends inside the data block
  bool chipApplied;
};
void PrintTo(const CutCase& c, std::ostream* os) { *os << c.name; }

class ProjectCutTest : public ProjectFailureTest, public ::testing::WithParamInterface<CutCase> {};

TEST_P(ProjectCutTest, SaysWhereTheFileEndsAndKeepsTheFlagsTrue) {
  const std::string bytes = SavedThenAnotherChip();
  const std::size_t length = GetParam().length(at);
  WriteFile(path, bytes.substr(0, length));
  std::memset(programmer->Image.Data.get(), 0x00, 512);
  Load(*programmer, view, path);

  const std::string text =
      *GetParam().part
          ? "The project file \"" + path.string() + "\" ends at offset " + std::to_string(length) + ", in its " +
                GetParam().part + "; the load stopped there."
          : "The project file \"" + path.string() +
                "\" ends inside its data block: 50 of 128 byte pairs were restored and the rest of the chip range "
                "set to 0xFF; the data does not count as loaded.";
  ASSERT_FALSE(view.messages.empty());
  EXPECT_EQ(view.messages.back().kind, MessageKind::Error);
  EXPECT_EQ(view.messages.back().text, text);
  EXPECT_TRUE(Contains(view.lines, Line(text)));
  EXPECT_FALSE(programmer->FileLoaded);
  EXPECT_EQ(programmer->ChipConfirmed, GetParam().chipApplied);
  EXPECT_EQ(c().MCUNameEdit.Text, GetParam().chipApplied ? "24xx02" : "24xx04");
  if (!*GetParam().part) {
    const uint8_t* data = programmer->Image.Data.get();
    for (std::size_t i = 0; i < 100; ++i) EXPECT_EQ(data[i], static_cast<uint8_t>(i * 13 + 1)) << i;
    EXPECT_TRUE(std::all_of(data + 100, data + 256, [](uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(data[256], 0x00);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, ProjectCutTest,
    ::testing::Values(
        CutCase{"OneByte", [](const Offsets&) { return std::size_t{1}; }, "identification bytes", false},
        CutCase{"InsideTheRange", [](const Offsets& at) { return at.P + 40; }, "checksums and address range", false},
        CutCase{"InsideTheChipParameters", [](const Offsets& at) { return at.P + 100; }, "chip parameters", true},
        CutCase{"InsideTheDataMarker", [](const Offsets& at) { return at.Q + 30; }, "data marker", true},
        CutCase{"InsideTheDataBlock", [](const Offsets& at) { return at.Q + 36 + 100; }, "", true}),
    [](const auto& c) { return std::string(c.param.name); });

// ---------------------------------------------------------------- commands

TEST_F(ProjectTest, CancelledDialogsDoNothing) {
  Choose("24xx02");
  const std::size_t lines = view.lines.size();
  programmer->RunCommand([&] { programmer->SaveToOrvAneProjectClick(); });
  programmer->RunCommand([&] { programmer->LoadFromOrvaneProjectClick(); });
  EXPECT_EQ(view.lines.size(), lines);
  EXPECT_TRUE(view.messages.empty());
  EXPECT_TRUE(programmer->ChipConfirmed);
  for (const auto& entry : std::filesystem::directory_iterator(directory))
    EXPECT_NE(entry.path().extension(), ".OVP") << entry.path();
}

TEST_F(ProjectTest, SavingReportsInTheLogAndInABox) {
  const auto path = directory / "job.OVP";
  Save(*programmer, view, path);  // no chip, no data: saved all the same
  const std::string text = "Orvane Project file of " + path.string() + " has been saved!";
  EXPECT_EQ(view.lines.back(), Line(text));
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].kind, MessageKind::Information);
  EXPECT_EQ(view.messages[0].text, text);
  EXPECT_TRUE(std::filesystem::exists(path));
}

TEST_F(ProjectTest, FailuresToSaveOrOpenShowAnErrorBox) {
  Choose("24xx02");
  const auto unwritable = directory / "missing folder" / "job.OVP";
  Save(*programmer, view, unwritable);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].kind, MessageKind::Error);
  EXPECT_FALSE(Contains(view.lines, Line("Orvane Project file of " + unwritable.string() + " has been saved!")));

  const auto absent = directory / "absent.OVP";
  Load(*programmer, view, absent);
  EXPECT_EQ(view.lines.back(), Line("Load Project file \"" + absent.string() + "\""));
  ASSERT_EQ(view.messages.size(), 2u);
  EXPECT_EQ(view.messages[1].kind, MessageKind::Error);
  EXPECT_NE(view.messages[1].text.find("absent.OVP"), std::string::npos);
  EXPECT_FALSE(programmer->ChipConfirmed);
  EXPECT_FALSE(programmer->FileLoaded);
}

}  // namespace
}  // namespace velkor
