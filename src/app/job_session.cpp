#include "app/job_session.hpp"

#include "data/text_format.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {

std::string ProgrammerText(const SessionProgrammerInfo& p) {
  std::string text = FormatText(Tx("programmer %d \"%s\", firmware %s"), p.programmer, p.identification.c_str(),
                                p.firmware.empty() ? Tx("unknown") : p.firmware.c_str());
  if (!p.adapterSerial.empty()) text += FormatText(Tx(", adapter %s"), p.adapterSerial.c_str());
  return text;
}

}  // namespace

std::string SessionStartLine(const JobSession& s) {
  std::string line = FormatText(Tx("Session started: program version %s, station %s, job %s \"%s\" (%s), chip %s, "
                                   "image SHA-256 %s"),
                                s.programVersion.c_str(), s.station.c_str(), s.jobId.c_str(), s.lockedJob.c_str(),
                                s.jobLock.c_str(), s.chip.c_str(), s.imageSha256.c_str());
  if (s.programmers.empty()) line += Tx("; no programmer identified yet");
  for (const SessionProgrammerInfo& p : s.programmers) line += "; " + ProgrammerText(p);
  return line + ".";
}

std::string SessionProgrammerLine(const SessionProgrammerInfo& programmer) {
  return FormatText(Tx("Session: %s joined."), ProgrammerText(programmer).c_str());
}

std::string SessionEndLine(const JobSession& s) {
  return FormatText(Tx("Session ended: %llu good, %llu failed chips of job %s \"%s\"."),
                    static_cast<unsigned long long>(s.good), static_cast<unsigned long long>(s.failed),
                    s.jobId.c_str(), s.lockedJob.c_str());
}

}  // namespace velkor
