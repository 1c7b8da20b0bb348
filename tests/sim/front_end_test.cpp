// velkor-sim itself, run as the host runs it: port paths on standard output,
// the host's bytes through real pseudo-terminals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "firmware_helpers.hpp"
#include "frame_helpers.hpp"
#include "host_packets.hpp"
#include "link/reply_check.hpp"
#include "support/files.hpp"

extern char** environ;

namespace velkor::sim {
namespace {

using Clock = std::chrono::steady_clock;
using testing::DecodeFrames;
using testing::Frame;
using testing::HostCheckReply;
using testing::kQueryFrame;
using testing::MakeCommand;

// Generous: these bound a hang, they do not measure speed.
constexpr auto kPatience = std::chrono::seconds(5);

std::string SimulatorProgram() {
  if (const char* path = std::getenv("VELKOR_SIM"); path && *path) return path;
  return VELKOR_SIM_PATH;
}

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() { Close(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return fd_; }
  void Reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }
  void Close() { Reset(-1); }

 private:
  int fd_;
};

class SimulatorRun {
 public:
  // Standard error goes to errorFile when one is named.
  explicit SimulatorRun(const std::vector<std::string>& args, const std::string& errorFile = {}) {
    int toChild[2];
    int fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
    if (!errorFile.empty())
      posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> text{SimulatorProgram()};
    text.insert(text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : text) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    stdin_.Reset(toChild[1]);
    stdout_.Reset(fromChild[0]);
  }

  ~SimulatorRun() {
    if (pid_ > 0 && !exitStatus_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }

  // Everything the simulator printed until it closed standard output or the
  // deadline passed.
  std::string ReadOutput(std::size_t lines) {
    std::string out;
    const auto deadline = Clock::now() + kPatience;
    while (static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n')) < lines) {
      pollfd pfd{stdout_.Get(), POLLIN, 0};
      if (poll(&pfd, 1, MillisecondsLeft(deadline)) <= 0) break;
      char buffer[256];
      const ssize_t n = read(stdout_.Get(), buffer, sizeof buffer);
      if (n <= 0) break;
      out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
  }

  std::vector<std::string> ReadPorts(std::size_t count) {
    const std::string out = ReadOutput(count);
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1)
      lines.push_back(out.substr(start, end - start));
    return lines;
  }

  void CloseStdin() { stdin_.Close(); }

  // The wait status once the simulator has ended, or nothing if it is still
  // running at the deadline.
  std::optional<int> WaitForExit() {
    const auto deadline = Clock::now() + kPatience;
    do {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exitStatus_ = status;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (Clock::now() < deadline);
    return exitStatus_;
  }

 private:
  pid_t pid_ = -1;
  FileDescriptor stdin_;
  FileDescriptor stdout_;
  std::optional<int> exitStatus_;
};

int OpenPort(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return fd;
  termios settings{};
  tcgetattr(fd, &settings);
  cfmakeraw(&settings);
  tcsetattr(fd, TCSANOW, &settings);
  return fd;
}

// The port of a simulator started with one programmer, opened raw; -1 (with
// the reason reported) when the simulator did not start or print its port.
int OpenTheOnlyPort(SimulatorRun& sim) {
  if (!sim.Started()) {
    ADD_FAILURE() << "velkor-sim did not start";
    return -1;
  }
  const std::vector<std::string> ports = sim.ReadPorts(1);
  if (ports.size() != 1u) {
    ADD_FAILURE() << "velkor-sim printed " << ports.size() << " ports";
    return -1;
  }
  return OpenPort(ports[0]);
}

bool WriteAll(int fd, std::span<const uint8_t> bytes) {
  const auto deadline = Clock::now() + kPatience;
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n > 0) {
      bytes = bytes.subspan(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    pollfd pfd{fd, POLLOUT, 0};
    if (poll(&pfd, 1, MillisecondsLeft(deadline)) <= 0) return false;
  }
  return true;
}

// Reads until count packets have arrived or the deadline passes.
std::vector<std::vector<uint8_t>> ReadPackets(int fd, std::size_t count) {
  std::vector<uint8_t> received;
  std::vector<std::vector<uint8_t>> packets;
  const auto deadline = Clock::now() + kPatience;
  while (packets.size() < count) {
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, MillisecondsLeft(deadline)) <= 0) break;
    uint8_t buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) break;
    received.insert(received.end(), buffer, buffer + n);
    packets = DecodeFrames(received);
  }
  return packets;
}

bool AnswersIdentification(int fd) {
  if (!WriteAll(fd, kQueryFrame)) return false;
  const auto replies = ReadPackets(fd, 1);
  if (replies.size() != 1) return false;
  IdentityName name = MakeIdentityName("Velkor350QN");
  return MatchIdentity(replies[0], name, kIdentityNameOffset) == 0;
}

TEST(FrontEnd, EachProgrammerAnswersOnItsOwnPortAcrossHostSessions) {
  SimulatorRun sim({"--count", "2"});
  ASSERT_TRUE(sim.Started());
  const std::vector<std::string> ports = sim.ReadPorts(2);
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_NE(ports[0], ports[1]);

  FileDescriptor first(OpenPort(ports[0]));
  FileDescriptor second(OpenPort(ports[1]));
  ASSERT_GE(first.Get(), 0) << ports[0];
  ASSERT_GE(second.Get(), 0) << ports[1];
  EXPECT_TRUE(AnswersIdentification(first.Get()));
  EXPECT_TRUE(AnswersIdentification(second.Get()));

  // A block larger than one read of the front end, behind its start packet.
  const ChipParams chip = testing::Chip(0x05, 64 << 10);
  ASSERT_TRUE(WriteAll(second.Get(), Frame(testing::StartDownload(chip, JobSettings{}, {"W25X05", "a.bin"}))));
  ASSERT_TRUE(WriteAll(second.Get(), Frame(testing::DownloadBlock(4, chip, std::vector<uint8_t>(64 << 10, 0xC0)))));
  const auto replies = ReadPackets(second.Get(), 2);
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[1][0], 0x55);
  EXPECT_EQ(HostCheckReply(replies[0]), 0x00);
  EXPECT_EQ(HostCheckReply(replies[1]), 0x00);

  // The host closes the port and opens it again: the same programmer answers.
  first.Close();
  FileDescriptor reopened(OpenPort(ports[0]));
  ASSERT_GE(reopened.Get(), 0);
  EXPECT_TRUE(AnswersIdentification(reopened.Get()));

  sim.CloseStdin();
  const std::optional<int> status = sim.WaitForExit();
  ASSERT_TRUE(status) << "velkor-sim did not end when its standard input closed";
  ASSERT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 0);
}

// Counts identification replies in a stream as it grows, without decoding
// the same bytes twice.
class ReplyCounter {
 public:
  void Add(const uint8_t* bytes, std::size_t n) {
    received_.insert(received_.end(), bytes, bytes + n);
    std::vector<uint8_t> frame(LinkChannel::kFrameCapacity);
    std::vector<uint8_t> packet(LinkChannel::kPacketCapacity);
    for (;;) {
      std::size_t scan = 0;
      std::size_t frameLength = 0;
      if (ExtractFrame(received_, scan, frame, frameLength, DelimiterRun::LastOpens) != ScanResult::Found) break;
      received_.erase(received_.begin(), received_.begin() + static_cast<std::ptrdiff_t>(scan));
      uint16_t length = static_cast<uint16_t>(frameLength);
      const DecodeResult decoded = DecodeFrame(frame, length, packet);
      IdentityName name = MakeIdentityName("Velkor350QN");
      if (decoded.code == kResultOk &&
          MatchIdentity(std::span(packet).first(decoded.packetLength), name, kIdentityNameOffset) == 0)
        ++identifications_;
      else
        ++others_;
    }
  }
  std::size_t Identifications() const { return identifications_; }
  std::size_t Others() const { return others_; }

 private:
  std::vector<uint8_t> received_;
  std::size_t identifications_ = 0;
  std::size_t others_ = 0;
};

void ReadAvailable(int fd, ReplyCounter& counter) {
  uint8_t buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) counter.Add(buffer, static_cast<std::size_t>(n));
}

TEST(FrontEnd, HostThatReadsLateLosesNoReply) {
  SimulatorRun sim({});
  FileDescriptor port(OpenTheOnlyPort(sim));
  ASSERT_GE(port.Get(), 0);

  // Far more reply bytes than the pseudo-terminal and the simulator buffer.
  constexpr std::size_t kQueries = 12000;
  std::vector<uint8_t> queries;
  for (std::size_t i = 0; i < kQueries; ++i) testing::Append(queries, kQueryFrame);

  ReplyCounter counter;
  const auto deadline = Clock::now() + 6 * kPatience;
  std::span<const uint8_t> unsent(queries);
  while (!unsent.empty() && Clock::now() < deadline) {
    const ssize_t n = write(port.Get(), unsent.data(), unsent.size());
    if (n > 0) {
      unsent = unsent.subspan(static_cast<std::size_t>(n));
      continue;
    }
    ASSERT_TRUE(n < 0 && (errno == EAGAIN || errno == EINTR)) << std::strerror(errno);
    // Only when the simulator stops taking queries does the host read.
    pollfd pfd{port.Get(), POLLOUT, 0};
    if (poll(&pfd, 1, 50) == 0) ReadAvailable(port.Get(), counter);
  }
  ASSERT_TRUE(unsent.empty()) << "the simulator stopped taking input";

  while (counter.Identifications() + counter.Others() < kQueries) {
    pollfd pfd{port.Get(), POLLIN, 0};
    if (poll(&pfd, 1, MillisecondsLeft(deadline)) <= 0) break;
    ReadAvailable(port.Get(), counter);
  }
  EXPECT_EQ(counter.Identifications(), kQueries);
  EXPECT_EQ(counter.Others(), 0u);
}

// Sends each packet and reads until count packets have come back.
std::vector<std::vector<uint8_t>> Exchange(int fd, std::initializer_list<testing::Packet> packets, std::size_t count) {
  for (const auto& p : packets)
    if (!WriteAll(fd, Frame(p))) return {};
  return ReadPackets(fd, count);
}

void EndsCleanly(SimulatorRun& sim) {
  sim.CloseStdin();
  const std::optional<int> status = sim.WaitForExit();
  ASSERT_TRUE(status) << "velkor-sim did not end when its standard input closed";
  ASSERT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 0);
}

TEST(FrontEnd, TwoProgrammersKeepTheirOwnChips) {
  SimulatorRun sim({"--count", "2"});
  ASSERT_TRUE(sim.Started());
  const std::vector<std::string> ports = sim.ReadPorts(2);
  ASSERT_EQ(ports.size(), 2u);
  FileDescriptor first(OpenPort(ports[0]));
  FileDescriptor second(OpenPort(ports[1]));
  ASSERT_GE(first.Get(), 0);
  ASSERT_GE(second.Get(), 0);

  const ChipParams chip = testing::Chip(0x05, 64 << 10);
  const std::vector<uint8_t> image = testing::Pattern(64 << 10, 21);
  const std::vector<uint8_t> block(image.begin() + 8192, image.begin() + 12288);
  const testing::Packet read = testing::ChipCommand(kCmdReadBlock, 8, chip);

  const auto programmed = Exchange(first.Get(), {testing::ProgramBlock(8, chip, image), read}, 2);
  ASSERT_EQ(programmed.size(), 2u);
  EXPECT_EQ(HostCheckReply(programmed[0]), 0x00);
  ASSERT_EQ(programmed[1].size(), 8 + kBlockBytes + 2);
  EXPECT_TRUE(std::equal(block.begin(), block.end(), programmed[1].begin() + 8));

  const auto other = Exchange(second.Get(), {read}, 1);
  ASSERT_EQ(other.size(), 1u);
  ASSERT_EQ(other[0].size(), 8 + kBlockBytes + 2);
  EXPECT_TRUE(std::all_of(other[0].begin() + 8, other[0].end() - 2, [](uint8_t b) { return b == 0xFF; }))
      << "programming one programmer changed the other's chip";

  EndsCleanly(sim);
}

TEST(FrontEnd, PacedRepliesStillArriveOnBothPorts) {
  SimulatorRun sim({"--count", "2", "--pace", "--block-time-us", "500"});
  ASSERT_TRUE(sim.Started());
  const std::vector<std::string> ports = sim.ReadPorts(2);
  ASSERT_EQ(ports.size(), 2u);
  FileDescriptor first(OpenPort(ports[0]));
  FileDescriptor second(OpenPort(ports[1]));
  ASSERT_GE(first.Get(), 0);
  ASSERT_GE(second.Get(), 0);

  // A streamed read on the first while the second answers on its own.
  ChipParams chip = testing::Chip(0x05, 64 << 10);
  chip.SizeKB = 32;
  ASSERT_TRUE(WriteAll(first.Get(), Frame(testing::ChipCommand(kCmdReadStream, 0, chip))));
  const auto answered = Exchange(second.Get(),
                                 {testing::ChipCommand(kCmdChipOperation, kSubOpBlankCheck, chip),
                                  testing::ChipCommand(kCmdReadBlock, 4, chip)},
                                 2);
  ASSERT_EQ(answered.size(), 2u);
  EXPECT_EQ(HostCheckReply(answered[0]), 0x00);
  EXPECT_EQ(answered[1].size(), 8 + kBlockBytes + 2);

  const auto streamed = ReadPackets(first.Get(), 8);
  ASSERT_EQ(streamed.size(), 8u);
  for (std::size_t i = 0; i < streamed.size(); ++i) {
    EXPECT_EQ(HostCheckReply(streamed[i]), 0x00);
    EXPECT_EQ(streamed[i][1] | streamed[i][2] << 8, static_cast<int>(4 * i));
  }
  EndsCleanly(sim);
}

TEST(FrontEnd, SplitWritesAndNoiseStillCarryWholeReplies) {
  SimulatorRun sim({"--split", "5", "--split-delay-us", "50", "--noise", "C012DB00C0"});
  FileDescriptor port(OpenTheOnlyPort(sim));
  ASSERT_GE(port.Get(), 0);

  const ChipParams chip = testing::Chip(0x05, 64 << 10);
  ASSERT_TRUE(WriteAll(port.Get(), Frame(testing::ChipCommand(kCmdChipOperation, kSubOpErase, chip))));
  ASSERT_TRUE(WriteAll(port.Get(), Frame(testing::ChipCommand(kCmdReadBlock, 0, chip))));
  testing::HostReceiver host;
  std::size_t reads = 0;
  const auto deadline = Clock::now() + kPatience;
  while (host.Packets().size() < 2) {
    pollfd pfd{port.Get(), POLLIN, 0};
    if (poll(&pfd, 1, MillisecondsLeft(deadline)) <= 0) break;
    uint8_t buffer[4096];
    const ssize_t n = read(port.Get(), buffer, sizeof buffer);
    if (n <= 0) continue;
    ++reads;
    host.Deliver(std::span<const uint8_t>(buffer, static_cast<std::size_t>(n)));
  }
  ASSERT_EQ(host.Packets().size(), 2u);
  EXPECT_EQ(HostCheckReply(host.Packets()[0]), 0x00);
  EXPECT_EQ(host.Packets()[1].size(), 8 + kBlockBytes + 2);
  EXPECT_EQ(host.CheckMismatches(), 0);
  EXPECT_GE(reads, 2u);
}

TEST(FrontEnd, HangUpClosesTheHostsPortAndTheSimulatorRunsOn) {
  SimulatorRun sim({"--hang-up-after", "1"});
  FileDescriptor port(OpenTheOnlyPort(sim));
  ASSERT_GE(port.Get(), 0);

  const ChipParams chip = testing::Chip(0x05, 64 << 10);
  const std::vector<uint8_t> image = testing::Pattern(64 << 10, 22);
  const auto first = Exchange(port.Get(), {testing::ProgramBlock(0, chip, image)}, 1);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(HostCheckReply(first[0]), 0x00);

  ASSERT_TRUE(WriteAll(port.Get(), Frame(testing::ProgramBlock(4, chip, image))));
  // The port goes away: poll reports a hang-up, or a read fails.
  bool hungUp = false;
  const auto deadline = Clock::now() + kPatience;
  while (!hungUp && Clock::now() < deadline) {
    pollfd pfd{port.Get(), POLLIN, 0};
    if (poll(&pfd, 1, MillisecondsLeft(deadline)) <= 0) break;
    if (pfd.revents & (POLLHUP | POLLERR)) {
      hungUp = true;
      break;
    }
    uint8_t buffer[256];
    const ssize_t n = read(port.Get(), buffer, sizeof buffer);
    ASSERT_FALSE(n > 0) << "the programmer answered the block after its last";
    hungUp = n == 0 || (n < 0 && errno == EIO);
  }
  EXPECT_TRUE(hungUp);
  EndsCleanly(sim);
}

// A directory of its own for one test, removed with everything in it.
class TemporaryDirectory {
 public:
  TemporaryDirectory() {
    std::string name = (std::filesystem::temp_directory_path() / "velkor-sim-test-XXXXXX").string();
    if (mkdtemp(name.data()) != nullptr) path_ = name;
  }
  ~TemporaryDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::vector<uint8_t> Bytes(const std::string& name) const {
    const std::string text = test::ReadFile(path_ / name);
    return std::vector<uint8_t>(text.begin(), text.end());
  }

 private:
  std::filesystem::path path_;
};

// The stages of the reports, in order; every packet must be a sound report.
std::vector<uint8_t> Stages(const std::vector<std::vector<uint8_t>>& reports) {
  std::vector<uint8_t> stages;
  for (const auto& r : reports) {
    EXPECT_EQ(r.size(), 8u);
    EXPECT_EQ(r[0], 0xFD);
    uint8_t sum = 0;
    for (uint8_t b : r) sum = static_cast<uint8_t>(sum + b);
    EXPECT_EQ(sum, 0);
    stages.push_back(r.size() > 1 ? r[1] : 0);
  }
  return stages;
}

// A 16 KB flash job whose chips receive a serial number at 0x20, least
// significant byte first.
struct FlashJob {
  ChipParams chip = testing::Chip(0x05, 16 << 10);
  std::vector<uint8_t> image = testing::Pattern(16 << 10, 41);
  JobSettings settings = [] {
    JobSettings job;
    job.SnEnable = 0x0F;
    job.SnAddress = 0x20;
    job.SnValue = 0x0A0B0C0D;
    job.SnStep = 0x100;
    return job;
  }();

  // The chip a cycle leaves, with this serial number.
  std::vector<uint8_t> ChipWith(uint32_t serial) const {
    std::vector<uint8_t> bytes = image;
    for (int i = 0; i < 4; ++i) bytes[0x20 + i] = static_cast<uint8_t>(serial >> (8 * i));
    return bytes;
  }
};

// Downloads the job: the start packet, its blocks and the finish.
void DownloadJob(int fd, const FlashJob& job) {
  std::vector<testing::Packet> packets = {testing::StartDownload(job.chip, job.settings, {"W25X05", "job.bin"})};
  for (uint32_t position = 0; position < 16; position += 4)
    packets.push_back(testing::DownloadBlock(position, job.chip, job.image));
  for (const auto& p : packets) ASSERT_TRUE(WriteAll(fd, Frame(p)));
  const auto replies = ReadPackets(fd, packets.size());
  ASSERT_EQ(replies.size(), packets.size());
  for (const auto& r : replies) EXPECT_EQ(HostCheckReply(r), 0x00);
  ASSERT_TRUE(WriteAll(fd, Frame(testing::Finish(kCmdFinishDownload))));
}

TEST(FrontEnd, UserSignalRunsAStandAloneCycleAndTermLeavesTheChip) {
  TemporaryDirectory dumps;
  ASSERT_FALSE(dumps.Path().empty());
  SimulatorRun sim({"--dump-chips", dumps.Path().string()});
  FileDescriptor port(OpenTheOnlyPort(sim));
  ASSERT_GE(port.Get(), 0);

  // Nothing downloaded: the cycle ends at once.
  ASSERT_EQ(kill(sim.Pid(), SIGUSR1), 0);
  const auto refused = ReadPackets(port.Get(), 2);
  ASSERT_EQ(refused.size(), 2u);
  EXPECT_EQ(Stages(refused), (std::vector<uint8_t>{0x10, 0xF0}));
  EXPECT_EQ(refused[1][2], 0x45);

  const FlashJob job;
  DownloadJob(port.Get(), job);
  // The answer to a query behind the finish shows that the programmer has
  // taken the finish before the signal arrives.
  ASSERT_TRUE(AnswersIdentification(port.Get()));
  ASSERT_EQ(kill(sim.Pid(), SIGUSR1), 0);
  const auto reports = ReadPackets(port.Get(), 5);
  ASSERT_EQ(reports.size(), 5u);
  EXPECT_EQ(Stages(reports), (std::vector<uint8_t>{0x10, 0x40, 0x40, 0x70, 0xF0}));
  EXPECT_EQ(reports[2][3] | reports[2][4] << 8, 4) << "blocks done";
  EXPECT_EQ(reports[2][5] | reports[2][6] << 8, 4) << "blocks in total";
  EXPECT_EQ(reports[4][2], 0x06);

  ASSERT_EQ(kill(sim.Pid(), SIGTERM), 0);
  const std::optional<int> status = sim.WaitForExit();
  ASSERT_TRUE(status) << "velkor-sim did not end on SIGTERM";
  ASSERT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 0);
  // The first cycle put no chip in.
  EXPECT_EQ(dumps.Names(), (std::vector<std::string>{"programmer-1-cycle-2.bin", "programmer-1.bin"}));
  EXPECT_TRUE(dumps.Bytes("programmer-1-cycle-2.bin") == job.ChipWith(0x0A0B0C0D));
  EXPECT_TRUE(dumps.Bytes("programmer-1.bin") == job.ChipWith(0x0A0B0C0D));
}

TEST(FrontEnd, AutomaticCyclesAfterADownloadLeaveTheirChipsBehind) {
  TemporaryDirectory dumps;
  ASSERT_FALSE(dumps.Path().empty());
  SimulatorRun sim(
      {"--count", "2", "--auto-cycles", "2", "--cycle-interval-ms", "20", "--dump-chips", dumps.Path().string()});
  ASSERT_TRUE(sim.Started());
  const std::vector<std::string> ports = sim.ReadPorts(2);
  ASSERT_EQ(ports.size(), 2u);
  FileDescriptor port(OpenPort(ports[0]));
  ASSERT_GE(port.Get(), 0);

  const FlashJob job;
  DownloadJob(port.Get(), job);
  const auto reports = ReadPackets(port.Get(), 10);
  ASSERT_EQ(reports.size(), 10u);
  EXPECT_EQ(Stages(reports), (std::vector<uint8_t>{0x10, 0x40, 0x40, 0x70, 0xF0, 0x10, 0x40, 0x40, 0x70, 0xF0}));
  EXPECT_EQ(reports[4][2], 0x06);
  EXPECT_EQ(reports[9][2], 0x06);

  EndsCleanly(sim);
  // Each cycle's chip with its own number; the second programmer never had a chip.
  EXPECT_EQ(dumps.Names(), (std::vector<std::string>{"programmer-1-cycle-1.bin", "programmer-1-cycle-2.bin",
                                                      "programmer-1.bin", "programmer-2.bin"}));
  EXPECT_TRUE(dumps.Bytes("programmer-1-cycle-1.bin") == job.ChipWith(0x0A0B0C0D));
  EXPECT_TRUE(dumps.Bytes("programmer-1-cycle-2.bin") == job.ChipWith(0x0A0B0D0D));
  EXPECT_TRUE(dumps.Bytes("programmer-1.bin") == job.ChipWith(0x0A0B0D0D));
  EXPECT_TRUE(dumps.Bytes("programmer-2.bin").empty());
}

TEST(FrontEnd, ADumpThatCannotBeWrittenIsReportedAndTheSimulatorEndsCleanly) {
  TemporaryDirectory scratch;
  ASSERT_FALSE(scratch.Path().empty());
  const std::filesystem::path dumps = scratch.Path() / "dumps";
  const std::filesystem::path errors = scratch.Path() / "stderr.txt";
  ASSERT_TRUE(std::filesystem::create_directory(dumps));
  SimulatorRun sim({"--dump-chips", dumps.string()}, errors.string());
  FileDescriptor port(OpenTheOnlyPort(sim));
  ASSERT_GE(port.Get(), 0);
  std::filesystem::remove(dumps);

  const FlashJob job;
  DownloadJob(port.Get(), job);
  // The answer to a query behind the finish shows that the programmer has
  // taken the finish before the signal arrives.
  ASSERT_TRUE(AnswersIdentification(port.Get()));
  ASSERT_EQ(kill(sim.Pid(), SIGUSR1), 0);
  const auto reports = ReadPackets(port.Get(), 5);
  ASSERT_EQ(reports.size(), 5u);
  EXPECT_EQ(reports[4][2], 0x06);
  EXPECT_TRUE(AnswersIdentification(port.Get())) << "the simulator went away";

  EndsCleanly(sim);
  const std::string diagnostics = test::ReadFile(errors);
  EXPECT_NE(diagnostics.find("programmer 1: cannot write " + (dumps / "programmer-1-cycle-1.bin").string() + ": "),
            std::string::npos)
      << diagnostics;
  EXPECT_NE(diagnostics.find("programmer 1: cannot write " + (dumps / "programmer-1.bin").string() + ": "),
            std::string::npos)
      << diagnostics;
}

// The host's upgrade over the port: the identification before, one chunk
// per reply, the finish, and the identification after.
TEST(FrontEnd, AFirmwareUpgradeChangesWhatTheProgrammerReports) {
  TemporaryDirectory scratch;
  ASSERT_FALSE(scratch.Path().empty());
  const std::filesystem::path file = scratch.Path() / kFirmwareFileName;
  const std::filesystem::path errors = scratch.Path() / "stderr.txt";
  const std::vector<uint8_t> packed = testing::PackedFirmware(4, "V3.20");
  test::WriteFile(file, std::string(packed.begin(), packed.end()));
  const FirmwareFile firmware = ReadFirmwareFile(packed);

  SimulatorRun sim({"--name", "VelkorQN", "--firmware-file", file.string()}, errors.string());
  FileDescriptor port(OpenTheOnlyPort(sim));
  ASSERT_GE(port.Get(), 0);
  const auto reportedName = [&] {
    EXPECT_TRUE(WriteAll(port.Get(), kQueryFrame));
    const auto reply = ReadPackets(port.Get(), 1);
    return reply.size() == 1 ? std::string(reinterpret_cast<const char*>(reply[0].data() + kNameOffset)) : "";
  };

  EXPECT_EQ(reportedName(), "VelkorQN V3.10");
  for (const uint16_t address : testing::HostChunkAddresses(firmware)) {
    const auto reply = Exchange(port.Get(), {testing::FirmwareChunk(address, firmware)}, 1);
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(HostCheckReply(reply[0]), 0x00);
  }
  ASSERT_TRUE(WriteAll(port.Get(), Frame(testing::Finish(kCmdFinishDownload))));
  EXPECT_EQ(reportedName(), "Velkor350QN V3.20");

  EndsCleanly(sim);
  const std::string diagnostics = test::ReadFile(errors);
  EXPECT_NE(diagnostics.find("programmer 1: boot loader expects firmware V3.20: 4 chunks"), std::string::npos)
      << diagnostics;
  EXPECT_NE(diagnostics.find("programmer 1: firmware upgrade complete"), std::string::npos) << diagnostics;
}

TEST(FrontEnd, RefusedOptionsPrintNoPorts) {
  const std::vector<std::vector<std::string>> refused = {{"--count", "9"},
                                                         {"--dump-chips", "/nonexistent/velkor-sim-dumps"},
                                                         {"--firmware-file", "/nonexistent/VelkorQN_EDF.VFR"}};
  for (const auto& args : refused) {
    SCOPED_TRACE(args[0]);
    SimulatorRun sim(args);
    ASSERT_TRUE(sim.Started());
    EXPECT_EQ(sim.ReadOutput(1), "");
    const std::optional<int> status = sim.WaitForExit();
    ASSERT_TRUE(status);
    ASSERT_TRUE(WIFEXITED(*status));
    EXPECT_NE(WEXITSTATUS(*status), 0);
  }
}

}  // namespace
}  // namespace velkor::sim
