#include "cli/locked_job_commands.hpp"

#include <optional>

#include "app/qn_programmer.hpp"
#include "app/quiet_view.hpp"
#include "cli/exit_status.hpp"
#include "data/text_format.hpp"
#include "platform/event_loop.hpp"
#include "text/text_table.hpp"

namespace velkor::cli {

namespace {

void AddKeyOptions(CLI::App& command, LockedJobOptions& options) {
  CLI::Option* passphrase =
      command.add_option(std::string("--") + kPassphraseFileOption, options.passphraseFile, kPassphraseFileHelp);
  CLI::Option* key = command.add_option(std::string("--") + kKeyFileOption, options.keyFile, kKeyFileHelp);
  passphrase->excludes(key);
}

// The key the options name; an error message and nothing when its file
// cannot serve.
std::optional<JobKey> KeyOf(const LockedJobOptions& options, EventOutput& output) {
  std::string error;
  auto key = JobKeyOfOptions(options.passphraseFile, options.keyFile, error);
  if (!key) output.Message(MessageKind::Error, error);
  return key;
}

// What the window logic says while it loads and saves with no screen: its
// boxes count as failures and are shown as messages.
class LockView final : public QuietView {
 public:
  explicit LockView(EventOutput& output) : output_(output) {}
  void ShowMessage(MessageKind kind, const std::string& text) override {
    if (kind == MessageKind::Information) return;
    ++problems;
    output_.Message(kind, text);
  }
  int problems = 0;

 private:
  EventOutput& output_;
};

}  // namespace

CLI::App* AddLockCommand(CLI::App& app, LockedJobOptions& options) {
  CLI::App* command = app.add_subcommand(
      "lock", "Make a locked job from a project file: the project with the SHA-256 of its image, its settings and a "
              "lock (the engineer's step)");
  command->add_option("PROJECT", options.project, "The project file (.OVP) of the qualified job")->required();
  command->add_option("JOB", options.job, "The locked job to write")->required();
  AddKeyOptions(*command, options);
  return command;
}

CLI::App* AddRunCommand(CLI::App& app, LockedJobOptions& options) {
  CLI::App* command = app.add_subcommand(
      "run", "Verify a locked job and run the automatic programming with its settings on the programmers found "
             "(the operator's step; a job that differs from its lock is refused, exit status 7)");
  command->add_option("JOB", options.job, "The locked job")->required();
  AddKeyOptions(*command, options);
  return command;
}

int RunLock(EventOutput& output, const LockedJobOptions& options) {
  const std::optional<JobKey> key = KeyOf(options, output);
  if (!key) return kExitUsage;
  EventLoop loop;
  LockView view(output);
  TQNProgrammer programmer(loop, view);
  programmer.StartupReset();
  programmer.RunCommand([&] { programmer.LoadProjectFile(options.project); });
  if (!programmer.LastProjectRefusal.empty()) {
    output.Message(MessageKind::Error, programmer.LastProjectRefusal);
    return kExitRefused;
  }
  if (view.problems > 0 || !programmer.ChipConfirmed || !programmer.FileLoaded) {
    output.Message(MessageKind::Error,
                   FormatText(Tx("The project file \"%s\" did not load whole; no locked job was made."),
                              options.project.c_str()));
    return kExitRefused;
  }
  programmer.RunCommand([&] { programmer.SaveLockedJob(options.job, *key); });
  if (view.problems > 0) return kExitFailed;
  const auto lines = programmer.Info.Lines();
  output.Message(MessageKind::Information, lines.empty() ? std::string() : lines.back());
  return kExitOk;
}

int RunLockedJob(EventOutput& output, const LockedJobOptions& options, const ConnectOptions& connection,
                 const RecordOptions& records, const LineSettings& line) {
  const std::optional<JobKey> key = KeyOf(options, output);
  if (!key) return kExitUsage;
  Session session(output);
  int status = session.OpenLine(line);
  if (status == kExitOk) status = session.Connect(connection, records);
  if (status == kExitOk) status = session.LoadLockedJob(options.job, *key);
  // As `auto --project` runs: the job's settings, nothing added.
  if (status == kExitOk) status = session.ApplyJob(JobOptions{});
  if (status == kExitOk) session.UseLine();
  if (status == kExitOk) {
    for (const OperationCommand& operation : OperationCommands())
      if (operation.kind == Operation::Auto) status = session.Run(operation);
  }
  const int closing = session.Close();
  return status == kExitOk ? closing : status;
}

}  // namespace velkor::cli
