// A session: one run of a locked job at a station, from its first operation
// until the job changes, operator mode is left or the program ends. Its
// start says which program, programmers and lock ran the job; its end, how
// many chips passed and failed. The log keeps both lines; a line database
// keeps the session too.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velkor {

struct SessionProgrammerInfo {
  int programmer = 0;  // as the records number it
  std::string identification;
  std::string firmware;
  std::string adapterSerial;  // may be empty
  bool operator==(const SessionProgrammerInfo&) const = default;
};

struct JobSession {
  std::string programVersion;
  std::string station;
  std::string jobId;
  std::string chip;
  std::string imageSha256;
  std::string lockedJob;
  std::string jobLock;
  std::chrono::system_clock::time_point started;
  std::vector<SessionProgrammerInfo> programmers;
  uint64_t good = 0;
  uint64_t failed = 0;
};

// Where sessions go besides the log (a line's database). Begin is told of
// a session once its start line is written and returns the id it is kept
// under (nothing when it could not be kept: the sink says why); End is told
// of the same session, by that id, once its end line is written.
class SessionSink {
 public:
  virtual ~SessionSink() = default;
  virtual std::optional<int64_t> Begin(const JobSession& session) = 0;
  virtual void End(int64_t id, const JobSession& session) = 0;
};

// "Session started: …" with the program, the job and its lock, and each
// programmer with its firmware and adapter.
std::string SessionStartLine(const JobSession& session);
// A programmer first seen after the session started.
std::string SessionProgrammerLine(const SessionProgrammerInfo& programmer);
// "Session ended: N good, M failed chips …".
std::string SessionEndLine(const JobSession& session);

}  // namespace velkor
