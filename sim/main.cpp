// velkor-sim: simulated programmers on pseudo-terminals, in place of the
// hardware, for the host program's tests and for trying it out.
#include <iostream>

#include "sim/command_line.hpp"
#include "sim/simulator_loop.hpp"

int main(int argc, char** argv) {
  const velkor::sim::CommandLineResult parsed = velkor::sim::ParseCommandLine(argc, argv, std::cout, std::cerr);
  if (!parsed.settings) return parsed.exitCode;
  return velkor::sim::RunSimulator(*parsed.settings);
}
