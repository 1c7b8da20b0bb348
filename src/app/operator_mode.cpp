// Operator mode: the window runs one locked job and nothing else. Every
// control that would change the job is held disabled, and every command
// that would change it is refused, whichever way it is reached. Only the
// key the job was locked with leaves the mode; the window keeps an HMAC of
// that key over the job's lock value, never the key itself.
#include <openssl/crypto.h>

#include <algorithm>
#include <filesystem>

#include "app/qn_programmer.hpp"
#include "data/text_format.hpp"
#include "platform/text_file.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

constexpr const char* kOperatorRefusal =
    TextKey("Not in operator mode: %s would change the locked job \"%s\". Only an engineer can leave operator mode "
            "(Project, Leave Operator Mode).");
constexpr const char* kLockedJobFilter = TextKey("Locked jobs (*.job)|*.job|All files (*)|*");
constexpr const char* kKeyFileFilter = TextKey("Key files (*)|*");
constexpr const char* kJobKeyTitle = TextKey("Locked job");

// What shows a key again without keeping it: its HMAC over the job's lock
// value, which is the job's own salt.
std::string KeyCheck(const JobKey& key, const std::string& lock) {
  return JobLockValue(JobKey{JobLockKind::Passphrase, key.bytes}, lock);
}

}  // namespace

std::vector<Control*> TQNProgrammer::OperatorLockedControls() {
  MainControls& c = Controls;
  std::vector<Control*> controls = JobLockedControls();
  // Finding programmers and choosing their port is the station's hardware,
  // not the job: the operator plugs programmers in.
  std::erase_if(controls, [&c](const Control* control) {
    return control == &c.ComboBoxCOM || control == &c.BitBtnFindCOM || control == &c.BitBtnFresh;
  });
  // A chip read replaces the image; a project saved or a job locked anew
  // is the engineer's step.
  controls.insert(controls.end(), {&c.SpeedButtonRD, &c.ReadTargetChipMemory1, &c.SaveToOrvAneProject,
                                   &c.SaveLockedJob1, &c.OpenLockedJob1, &c.OperatorMode1});
  return controls;
}

bool TQNProgrammer::RefusedInOperatorMode(const char* action) {
  if (!Operator.active) return false;
  const std::string what = FormatText(Tx(kOperatorRefusal), action, LockedJobPath.c_str());
  AppendInfo(what);
  Warn(what);
  return true;
}

bool TQNProgrammer::RefusedJobChange(const char* action) {
  return RefusedInOperatorMode(action) || RefusedWhileBusy(action);
}

std::optional<JobKey> TQNProgrammer::AskJobKey(JobLockKind kind) {
  switch (kind) {
    case JobLockKind::Digest:
      return JobKey{};
    case JobLockKind::Passphrase: {
      const auto passphrase = view_.AskSecret(Tx(kJobKeyTitle), Tx("The job's passphrase:"));
      if (!passphrase) return std::nullopt;
      return JobKey{JobLockKind::Passphrase, *passphrase};
    }
    case JobLockKind::KeyFile: {
      const auto path = view_.AskOpenFile({Tx(kKeyFileFilter), 1, "", FileDialogPurpose::Other});
      if (!path) return std::nullopt;
      std::string error;
      auto key = ReadJobKey(JobLockKind::KeyFile, *path, error);
      if (!key) view_.ShowMessage(MessageKind::Error, error);
      return key;
    }
  }
  return std::nullopt;
}

std::optional<JobLockKind> TQNProgrammer::LockKindOfJob(const std::string& path) {
  std::vector<uint8_t> bytes;
  std::string reason = ReadRegularFile(path, kLargestLockedJob, bytes);
  if (reason.empty()) {
    const ParsedLockedJob parsed =
        ParseLockedJob(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    if (parsed.hasBlock && parsed.formatProblem.empty()) return parsed.block.kind;
    reason = parsed.hasBlock ? parsed.formatProblem : Tx("it is not a locked job (it carries no lock block)");
  }
  const std::string text = FormatText(Tx("The locked job \"%s\" cannot be opened: %s"), path.c_str(), reason.c_str());
  AppendInfo(text);
  view_.ShowMessage(MessageKind::Error, text);
  return std::nullopt;
}

void TQNProgrammer::SaveLockedJob1Click() {
  if (RefusedInOperatorMode(Tx("locking a job"))) return;
  if (!ChipConfirmed || !FileLoaded) {
    view_.ShowMessage(MessageKind::Warning, Tx("Choose the chip and load its data before the job is locked."));
    return;
  }
  const auto path = view_.AskSaveFile({Tx(kLockedJobFilter), 1, "job", FileDialogPurpose::Project});
  if (!path) return;
  const auto passphrase = view_.AskSecret(
      Tx(kJobKeyTitle), Tx("A passphrase for the lock (empty: a plain SHA-256 lock, which anyone can renew):"));
  if (!passphrase) return;
  JobKey key;
  if (!passphrase->empty()) {
    const auto again = view_.AskSecret(Tx(kJobKeyTitle), Tx("The passphrase again:"));
    if (!again) return;
    if (*again != *passphrase) {
      view_.ShowMessage(MessageKind::Error, Tx("The two passphrases differ; the job was not locked."));
      return;
    }
    key = {JobLockKind::Passphrase, *passphrase};
  }
  try {
    SaveLockedJob(*path, key);
  } catch (const EInOutError& error) {
    view_.ShowMessage(MessageKind::Error, error.what());
  }
}

void TQNProgrammer::OpenLockedJob1Click() {
  if (RefusedJobChange(Tx("loading a project"))) return;
  const auto path = view_.AskOpenFile({Tx(kLockedJobFilter), 1, "", FileDialogPurpose::Project});
  if (path) OpenLockedJob(*path, std::nullopt);
}

std::optional<JobKey> TQNProgrammer::KeyForJob(const std::string& path, std::optional<JobKey> given) {
  if (given) return given;
  const auto kind = LockKindOfJob(path);
  if (!kind) return std::nullopt;
  return AskJobKey(*kind);
}

bool TQNProgrammer::OpenLockedJob(const std::string& path, std::optional<JobKey> given) {
  const std::optional<JobKey> key = KeyForJob(path, std::move(given));
  if (!key) return false;
  const LockedJobOutcome outcome = LoadLockedJob(path, *key);
  if (!outcome.loaded) {
    std::string text = FormatText(Tx("The locked job \"%s\" was refused:"), path.c_str());
    for (const std::string& line : outcome.differences) text += "\n  " + line;
    view_.ShowMessage(MessageKind::Error, text);
  }
  return outcome.loaded;
}

void TQNProgrammer::OperatorMode1Click() {
  if (RefusedJobChange(Tx("loading a project"))) return;
  const auto path = view_.AskOpenFile({Tx(kLockedJobFilter), 1, "", FileDialogPurpose::Project});
  if (path) EnterOperatorMode(*path, std::nullopt);
}

bool TQNProgrammer::EnterOperatorMode(const std::string& path, std::optional<JobKey> given) {
  if (Operator.active) return false;
  // Asked once: the same key opens the job and is checked again on leaving.
  const std::optional<JobKey> key = KeyForJob(path, std::move(given));
  if (!key || !OpenLockedJob(path, key)) return false;
  Operator.active = true;
  Operator.kind = key->kind;
  Operator.keyCheck = KeyCheck(*key, LockedJobLock);
  Controls.LabelOperatorJob.Caption =
      FormatText(Tx("Operator mode · job %s · chip %s · image SHA-256 %s · %s"),
                 std::filesystem::path(path).filename().string().c_str(), Controls.MCUNameEdit.Text.c_str(),
                 LockedJobImageSha256.c_str(), JobLockKindWord(key->kind));
  Controls.LabelOperatorJob.Hint = path;
  AppendInfo(FormatText(Tx("Operator mode: the locked job \"%s\" runs; nothing of it can be changed."), path.c_str()));
  ShowControls();
  return true;
}

void TQNProgrammer::LeaveOperatorMode1Click() {
  // The session's chips under way still count for it.
  if (!Operator.active || RefusedWhileBusy(Tx("leaving operator mode"))) return;
  bool fits = false;
  if (Operator.kind == JobLockKind::Digest) {
    fits = view_.AskQuestion(
        Tx("This job's lock has no key, so anyone may leave operator mode.\nLeave operator mode?"));
    if (!fits) return;
  } else {
    const auto key = AskJobKey(Operator.kind);
    if (!key) return;
    const std::string check = KeyCheck(*key, LockedJobLock);
    fits = CRYPTO_memcmp(check.data(), Operator.keyCheck.data(), check.size()) == 0;
  }
  if (!fits) {
    const std::string text = Tx("Operator mode stays on: the key does not fit the job's lock.");
    AppendInfo(text);
    Warn(text);
    return;
  }
  EndSession();
  Operator = {};
  Controls.LabelOperatorJob.Caption.clear();
  AppendInfo(Tx("Operator mode left: the job can be changed again."));
  ShowControls();
}

void TQNProgrammer::ShowOperatorControls() {
  const bool on = Operator.active;
  for (Control* control : OperatorLockedControls()) control->LockedByOperator = on;
  Controls.LabelOperatorJob.Visible = on;
  Controls.LeaveOperatorMode1.Visible = on;
  Controls.OperatorMode1.Visible = !on;
}

}  // namespace velkor
