// Sessions of locked jobs: which program, programmers and lock ran the job,
// and how many chips passed and failed, in the log and a line's database.
#include "app/qn_programmer.hpp"

namespace velkor {

void TQNProgrammer::FollowSession(int channel) {
  if (LockedJobPath.empty()) return;
  const auto infoOf = [this](int n) {
    const std::size_t i = static_cast<std::size_t>(n - 1);
    return SessionProgrammerInfo{ProgrammerNumberBase + n, DeviceName[i], FirmwareVersionOf(DeviceName[i]),
                                 PortAdapter[i].serial};
  };
  const SessionProgrammerInfo programmer = infoOf(channel);
  if (Session) {
    for (const SessionProgrammerInfo& known : Session->programmers)
      if (known.programmer == programmer.programmer) return;
    Session->programmers.push_back(programmer);
    AppendInfo(SessionProgrammerLine(programmer));
    return;
  }
  JobSession& session = Session.emplace();
  session.programVersion = VELKOR_VERSION;
  session.station = Station();
  session.jobId = JobId();
  session.chip = Controls.MCUNameEdit.Text;
  session.imageSha256 = LockedJobImageSha256;
  session.lockedJob = LockedJobPath;
  session.jobLock = LockedJobLock;
  session.started = std::chrono::system_clock::now();
  // Every programmer identified now belongs to the session, not only the
  // one that starts it.
  for (int n = 1; n <= ProgrammerChannels::kChannelCount; ++n)
    if (n == channel || Channels.Channel(n).Identified) session.programmers.push_back(infoOf(n));
  AppendInfo(SessionStartLine(session));
  sessionRecordId_ = SessionRecords ? SessionRecords->Begin(session) : std::nullopt;
  sessionSink_ = SessionRecords;
}

void TQNProgrammer::EndSession() {
  if (!Session) return;
  AppendInfo(SessionEndLine(*Session));
  // The end goes where the start went.
  if (sessionSink_ && sessionRecordId_) sessionSink_->End(*sessionRecordId_, *Session);
  Session.reset();
  sessionRecordId_.reset();
  sessionSink_ = nullptr;
}

}  // namespace velkor
