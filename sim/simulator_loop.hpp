// The front end of velkor-sim: one pseudo-terminal and one device model per
// programmer, served by a single poll loop.
#pragma once

#include "sim/command_line.hpp"

namespace velkor::sim {

// Opens the pseudo-terminals, prints their slave paths on standard output
// (one per line, nothing else), and serves them until standard input ends
// or SIGINT/SIGTERM arrives. SIGUSR1 makes every programmer run one
// stand-alone cycle; the automatic cycles after a download run at the
// interval the settings give. With the wire summary (--wire-summary),
// SIGUSR2 and the end write each programmer's received and sent byte counts
// to standard error. After an orderly end the chips in the sockets go to the
// dump directory, when there is one. Returns the exit status: 0 after an
// orderly end, 1 when a pseudo-terminal could not be opened or failed.
int RunSimulator(const SimulatorSettings& settings);

}  // namespace velkor::sim
