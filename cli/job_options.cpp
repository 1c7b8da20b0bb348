#include "cli/job_options.hpp"

#include <array>

#include "app/integer_text.hpp"
#include "app/serial_list.hpp"
#include "data/text_format.hpp"
#include "text/text_table.hpp"

namespace velkor::cli {

namespace {

// Item texts of the command line and the window's item index.
struct Choice {
  const char* word;
  int itemIndex;
};
constexpr std::array<Choice, 3> kVoltages = {{{"3.3", 0}, {"5", 1}, {"1.8", 2}}};
constexpr std::array<Choice, 4> kClocks = {{{"100k", 0}, {"200k", 1}, {"400k", 2}, {"1M", 3}}};

template <std::size_t N>
std::vector<std::string> Words(const std::array<Choice, N>& choices) {
  std::vector<std::string> words;
  for (const Choice& c : choices) words.emplace_back(c.word);
  return words;
}

template <std::size_t N>
int ItemOf(const std::array<Choice, N>& choices, const std::string& word) {
  for (const Choice& c : choices)
    if (word == c.word) return c.itemIndex;
  return -1;
}

std::string NotForChip(const char* option, const TQNProgrammer& p) {
  return FormatText(Tx("%s does not apply to %s."), option, p.Controls.MCUNameEdit.Text.c_str());
}

std::string SetSpin(SpinControl& spin, int value, const char* option) {
  if (value < spin.MinValue || value > spin.MaxValue)
    return FormatText(Tx("%s takes %d to %d; %d is outside."), option, spin.MinValue, spin.MaxValue, value);
  spin.Value = value;
  return {};
}

std::string SetCheck(CheckControl& box, bool checked, const char* option, const TQNProgrammer& p) {
  if (!box.Visible || !box.Enabled) return NotForChip(option, p);
  box.Checked = checked;
  return {};
}

// A pair --NAME / --no-NAME that sets the switch only when one of them is
// given: left out, the control keeps the window's default. (A flag bound to
// an optional<bool> is not enough: the parser sets it to false when the
// flag is absent.) The help names the window's default for the control.
void AddStepSwitch(CLI::App& command, const std::string& name, std::optional<bool>& target, const std::string& help,
                   const CheckControl& windowBox, const char* group) {
  const std::string byDefault = windowBox.Checked ? " (the window's default)" : "";
  const std::string notByDefault = windowBox.Checked ? "" : " (the window's default)";
  command.add_flag_callback("--" + name, [&target] { target = true; }, help + byDefault)->group(group);
  command.add_flag_callback("--no-" + name, [&target] { target = false; }, "Leave out: " + help + notByDefault)
      ->group(group);
}

template <std::size_t N>
std::string WordOf(const std::array<Choice, N>& choices, int itemIndex) {
  for (const Choice& c : choices)
    if (c.itemIndex == itemIndex) return c.word;
  return "?";
}

std::string SpinHelp(const char* what, const SpinControl& spin) {
  return FormatText("%s, %d to %d ms (default %d)", what, spin.MinValue, spin.MaxValue, spin.Value);
}

}  // namespace

std::string CheckJobValues(const JobOptions& o) {
  // The value as the window's edit box would read it, within the field it
  // goes into; the window's parser decides the form.
  struct Ranged {
    const char* option;
    const std::optional<std::string>& text;
    int64_t least, most;
  };
  const Ranged values[] = {
      {"--sn", o.serialStart, 0, 0xFFFFFFFF},
      {"--sn-step", o.serialStep, 1, 0xFFFF},
      {"--sn-address", o.serialAddress, 0, 0xFFFFFFFF},
      {"--device-address", o.deviceAddress, 0, 0xFF},
  };
  for (const Ranged& v : values) {
    if (!v.text) continue;
    int64_t value = 0;
    try {
      value = StrToInt(*v.text);
    } catch (const EConvertError&) {
      return FormatText(Tx("%s takes a number, decimal or hexadecimal after 0x; \"%s\" is not one."), v.option,
                        v.text->c_str());
    }
    // Hexadecimal takes all 32 bits: 0xFFFFFFFF reads as -1.
    const bool hexadecimal = v.text->find_first_of("xX$") != std::string::npos;
    if (hexadecimal && value < 0) value += int64_t{1} << 32;
    if (value < v.least || value > v.most)
      return FormatText(Tx("%s takes %lld to 0x%llX; %s is outside."), v.option, static_cast<long long>(v.least),
                        static_cast<unsigned long long>(v.most), v.text->c_str());
  }
  return {};
}

void AddJobOptions(CLI::App& command, JobOptions& o) {
  // Every default named in the help is read from the window's own controls.
  static const MainControls window;
  const char* chip = "Chip settings";
  command.add_option("--voltage", o.voltage,
                     "Interface voltage (window default " + WordOf(kVoltages, window.RadioGpVolt.ItemIndex) + ")")
      ->check(CLI::IsMember(Words(kVoltages)))
      ->group(chip);
  command.add_option("--clock", o.clock,
                     "Clock of I2C and Microwire chips (window default " +
                         WordOf(kClocks, window.RadioGroupSpd.ItemIndex) + ")")
      ->check(CLI::IsMember(Words(kClocks)))
      ->group(chip);
  command.add_option("--protect", o.protect, "Protection level to set, 0 = none (flash and SPI EEPROM)")->group(chip);
  command.add_flag("--srwd-disabled", o.srwdDisabled, "Tick \"SRWD Disabled\" (flash)")->group(chip);
  command.add_flag("--qe", o.quadEnable, "Set the quad-enable bit QE=1 (flash)")->group(chip);
  command.add_flag("--write-protect", o.writeProtect, "Write protection of a temperature-sensor EEPROM")->group(chip);
  command.add_option("--device-address", o.deviceAddress, "I2C device address, e.g. 0xA0")->group(chip);
  command.add_option("--page-size", o.pageSize,
                     FormatText("I2C page size in bytes, %d to %d in steps of %d", window.SpinEditPGSZ.MinValue,
                                window.SpinEditPGSZ.MaxValue, window.SpinEditPGSZ.Increment))
      ->group(chip);

  const char* steps = "Programming steps (auto and the programmer's own cycles)";
  AddStepSwitch(command, "auto-erase", o.autoErase, "Erase first", window.EnEraseChk, steps);
  AddStepSwitch(command, "auto-blank-check", o.autoBlankCheck, "Blank check first", window.EnBlankChk, steps);
  AddStepSwitch(command, "auto-program", o.autoProgram, "Program", window.EnProgChk, steps);
  AddStepSwitch(command, "auto-verify", o.autoVerify, "Verify", window.EnVerifyChk, steps);
  command.add_flag("--error-if-not-blank", o.errorIfNotBlank, "A chip that is not blank is an error")->group(steps);
  command.add_flag("--whole-chip", o.wholeChip, "Process by chip size: program the whole chip, not only up to the data")
      ->group(steps);
  command.add_flag("--extended-addressing", o.extendedAddressing,
                   "Send block positions and sizes of 64 MiB and more in the extension bytes; only for programmer "
                   "firmware that reads them (without it such operations are refused)")
      ->group(steps);

  const char* verification = "Verification";
  AddStepSwitch(command, "locate", o.locate,
                "On a failed verify or blank check, read the chip back (up to 16 MiB) and name where it differs",
                window.ChkBoxLocate, verification);
  command.add_flag("--check-id", o.checkId,
                   "Read the chip's ID before programming it and refuse a chip whose ID is not the catalogue's")
      ->group(verification);
  if (command.get_name() == "verify")
    command.add_flag("--readback", o.readback,
                     "Read each chip back and compare it on the host, instead of the programmer's own verify")
        ->group(verification);

  const char* detect = "Automatic chip detection (stand-alone use)";
  command.add_flag("--detect-chip", o.detectChip, "Detect a chip put into the socket")->group(detect);
  command.add_option("--power-up-ms", o.powerUpMs, SpinHelp("Power-up settling time", window.SpinEditPTM))
      ->group(detect);
  command.add_option("--power-down-ms", o.powerDownMs, SpinHelp("Power-down time", window.SpinPowDown))->group(detect);
  command.add_option("--settle-ms", o.settleMs, SpinHelp("Chip settling time", window.SpinEditIn))->group(detect);
  command.add_option("--remove-ms", o.removeMs, SpinHelp("Chip removal time", window.SpinEditOut))->group(detect);

  const char* serial = "Serial numbers";
  command.add_option("--sn", o.serialStart, "Write serial numbers, starting with this one (e.g. 0x00001000)")
      ->group(serial);
  command.add_option("--sn-step", o.serialStep, "Serial-number increment (default " + window.GainEdit.Text + ")")->group(serial);
  command.add_option("--sn-address", o.serialAddress, "Serial-number address in the chip (default " + window.AddrEdit.Text + ")")
      ->group(serial);
  command.add_flag("--sn-big-endian", o.serialBigEndian, "Store serial numbers big-endian")->group(serial);
  command.add_flag("--sn-host", o.serialHost, "The host writes the numbers into the image, chip after chip")
      ->group(serial);
  command.add_option("--sn-list", o.serialList,
                     "Host-side serial numbers from this file: one a line, decimal, 0x hexadecimal or a MAC address")
      ->group(serial);
  command.add_option("--sn-generator", o.serialGenerator,
                     "Host-side serial numbers from this program, run with each chip's index; it prints the bytes in "
                     "hexadecimal")
      ->group(serial);
  command.add_option("--sn-generator-timeout-ms", o.serialGeneratorMs,
                     SpinHelp("Time the generator has for each number", window.SpinSNGenTime))
      ->group(serial);
  command.add_option("--sn-failed", o.serialFailed,
                     std::string("A failed chip's value from the list or generator: void or reuse (default ") +
                         kFailedValuePolicyNames[window.RadioSNFailed.ItemIndex] + ")")
      ->check(CLI::IsMember(std::vector<std::string>(std::begin(kFailedValuePolicyNames),
                                                     std::end(kFailedValuePolicyNames))))
      ->group(serial);
  command.add_option("--burn-limit", o.burnLimit, "Limit the number of chips the programmer burns (0: no limit)")
      ->group(serial);
}

std::string ApplyJobOptions(const JobOptions& o, TQNProgrammer& p) {
  MainControls& c = p.Controls;
  std::string error;
  // The first refusal is the one reported.
  auto fail = [&error](std::string text) {
    if (error.empty()) error = std::move(text);
  };

  if (o.voltage) {
    if (!c.RadioGpVolt.Enabled) fail(NotForChip("--voltage", p));
    else p.SelectVoltage(ItemOf(kVoltages, *o.voltage));
  }
  if (o.clock) {
    if (!c.RadioGroupSpd.Enabled || !c.RadioGroupSpd.Visible) fail(NotForChip("--clock", p));
    else c.RadioGroupSpd.ItemIndex = ItemOf(kClocks, *o.clock);
  }
  if (o.protect) {
    ComboControl* levels = c.ComBoxWP8.Visible ? &c.ComBoxWP8 : c.ComBoxWPF.Visible ? &c.ComBoxWPF : nullptr;
    if (!levels || !levels->Enabled) {
      fail(NotForChip("--protect", p));
    } else if (*o.protect < 0 || *o.protect >= static_cast<int>(levels->Items.size())) {
      fail(FormatText(Tx("--protect takes 0 to %zu for this chip."), levels->Items.size() - 1));
    } else {
      levels->ItemIndex = *o.protect;
      if (levels == &c.ComBoxWP8) p.ComBoxWP8Change(); else p.ComBoxWPFChange();
    }
  }
  if (o.srwdDisabled) {
    const std::string refused = SetCheck(c.ChkBoxSRWD, true, "--srwd-disabled", p);
    if (refused.empty()) p.ChkBoxSRWDClick();
    fail(refused);
  }
  if (o.quadEnable) fail(SetCheck(c.CheckBoxQE, true, "--qe", p));
  if (o.writeProtect) fail(SetCheck(c.CheckBoxWRP, true, "--write-protect", p));
  if ((o.deviceAddress || o.pageSize) && !c.EditDevAdrX.Visible) fail(NotForChip("--device-address/--page-size", p));
  if (o.deviceAddress) c.EditDevAdrX.Text = *o.deviceAddress;
  if (o.pageSize) {
    if (*o.pageSize % c.SpinEditPGSZ.Increment != 0)
      fail(Tx("--page-size takes a multiple of 8."));
    else fail(SetSpin(c.SpinEditPGSZ, *o.pageSize, "--page-size"));
  }

  if (o.autoErase) c.EnEraseChk.Checked = *o.autoErase;
  if (o.autoBlankCheck) c.EnBlankChk.Checked = *o.autoBlankCheck;
  if (o.autoProgram) c.EnProgChk.Checked = *o.autoProgram;
  if (o.autoVerify) c.EnVerifyChk.Checked = *o.autoVerify;
  if (o.errorIfNotBlank) c.ChkBoxNotBLK.Checked = true;
  if (o.wholeChip) c.ChkBoxCPES.Checked = true;
  if (o.extendedAddressing) c.ChkBoxExtAddr.Checked = true;
  if (o.locate) c.ChkBoxLocate.Checked = *o.locate;
  if (o.checkId) c.ChkBoxCheckId.Checked = true;

  if (o.detectChip) {
    c.CheckBoxAut.Checked = true;
    p.CheckBoxAutClick();
  }
  if (o.powerUpMs) fail(SetSpin(c.SpinEditPTM, *o.powerUpMs, "--power-up-ms"));
  if (o.powerDownMs) fail(SetSpin(c.SpinPowDown, *o.powerDownMs, "--power-down-ms"));
  if (o.settleMs) fail(SetSpin(c.SpinEditIn, *o.settleMs, "--settle-ms"));
  if (o.removeMs) fail(SetSpin(c.SpinEditOut, *o.removeMs, "--remove-ms"));

  const bool fromSource = o.serialList || o.serialGenerator;
  if (o.serialList && o.serialGenerator) fail(Tx("--sn-list and --sn-generator exclude each other."));
  if (o.serialFailed && !fromSource) fail(Tx("--sn-failed needs --sn-list or --sn-generator."));
  if (o.serialGeneratorMs && !o.serialGenerator) fail(Tx("--sn-generator-timeout-ms needs --sn-generator."));
  if (fromSource && (o.serialStart || o.serialStep))
    fail(Tx("--sn and --sn-step do not apply with --sn-list or --sn-generator: the list or the program gives the "
            "numbers."));
  if (fromSource) {
    // The host writes each chip's value: host-side numbers, from the source.
    c.CheckBoxSN.Checked = true;
    p.CheckBoxSNClick();
    if (o.serialAddress) c.AddrEdit.Text = *o.serialAddress;
    c.SNOrderChk.Checked = o.serialBigEndian;
    c.ChkBoxPCSN.Checked = true;
    c.EditSNList.Text = o.serialList.value_or("");
    c.EditSNGenerator.Text = o.serialGenerator.value_or("");
    if (o.serialGeneratorMs) fail(SetSpin(c.SpinSNGenTime, *o.serialGeneratorMs, "--sn-generator-timeout-ms"));
    if (o.serialFailed) c.RadioSNFailed.ItemIndex = static_cast<int>(*ParseFailedValuePolicy(*o.serialFailed));
  }
  const bool serial = o.serialStart || o.serialStep || o.serialAddress || o.serialBigEndian || o.serialHost;
  if (serial && !o.serialStart && !fromSource) fail(Tx("The serial-number options need --sn START."));
  if (o.serialStart) {
    c.CheckBoxSN.Checked = true;
    p.CheckBoxSNClick();
    c.SNEdit.Text = *o.serialStart;
    if (o.serialStep) c.GainEdit.Text = *o.serialStep;
    if (o.serialAddress) c.AddrEdit.Text = *o.serialAddress;
    c.SNOrderChk.Checked = o.serialBigEndian;
    c.ChkBoxPCSN.Checked = o.serialHost;
  }
  if (o.burnLimit) {
    fail(SetSpin(c.SpinEditNumb, *o.burnLimit, "--burn-limit"));
    p.SpinEditNumbChange();
  }
  return error;
}

}  // namespace velkor::cli
