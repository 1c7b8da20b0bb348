// One pseudo-terminal pair standing in for a programmer's serial port: the
// simulator works the master side, the host opens the slave path.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace velkor::sim {

class PtyLink {
 public:
  // Opens a pair; on failure returns nothing and says why in error.
  static std::optional<PtyLink> Open(std::string& error);

  PtyLink(PtyLink&& other) noexcept;
  PtyLink& operator=(PtyLink&&) = delete;
  PtyLink(const PtyLink&) = delete;
  PtyLink& operator=(const PtyLink&) = delete;
  ~PtyLink();

  // Non-blocking; reads what the host wrote, takes what the host is to read.
  int MasterFd() const { return master_; }
  const std::string& SlavePath() const { return slavePath_; }

  // Bytes sent to the host that it has not read yet.
  std::size_t UnreadByHost() const;
  // Closes both sides: the host's port sees the device go away.
  void HangUp();

 private:
  PtyLink(int master, int slave, std::string slavePath);

  int master_;
  // Held open for the simulator's whole run, so that the master never sees a
  // hang-up when the host closes the port: one simulator serves any number
  // of host sessions.
  int slave_;
  std::string slavePath_;
};

}  // namespace velkor::sim
