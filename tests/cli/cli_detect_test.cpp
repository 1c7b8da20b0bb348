// velkor-cli detect --wait: a programmer that appears while the command
// waits is found; one that never appears ends the wait with status 3.
#include <string>

#include "cli_run.hpp"
#include "platform/simulator_process.hpp"

namespace velkor::test {
namespace {

using CliDetectTest = CliTest;

TEST_F(CliDetectTest, WaitFindsAProgrammerThatAppearsLaterAndGivesUpOnOneThatNeverDoes) {
  std::string error;
  const auto sim = SimulatorProcess::Start(FindSimulatorProgram(), {"--count", "1"}, 1, std::chrono::seconds(10), error,
                                           "/dev/null");
  ASSERT_TRUE(sim) << error;
  // The named port comes into being a second after the command starts, as
  // an adapter plugged in late does.
  const std::string link = Path("late-port");
  const CliRun late = RunCli(program, directory, "--json --ports " + link + " detect --wait --wait-timeout 20",
                             "{ (sleep 1; ln -s '" + sim->Ports()[0] + "' '" + link + "') & }");
  EXPECT_EQ(late.status, 0) << late.out << late.err;
  const auto found = late.Events("detected");
  ASSERT_EQ(found.size(), 1u) << late.out;
  EXPECT_EQ(found[0]["programmer"], 1);
  EXPECT_EQ(found[0]["name"], "Velkor350QN");

  const CliRun never = Cli("--json --ports usb-serial:NO-SUCH-ADAPTER detect --wait --wait-timeout 1");
  EXPECT_EQ(never.status, 3) << never.out << never.err;
  EXPECT_TRUE(never.Events("detected").empty());
}

}  // namespace
}  // namespace velkor::test
