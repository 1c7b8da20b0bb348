// Evidence from the command line: where a chip differs in the result
// events and the plain lines, the verify by read-back, the chip's ID checked
// before programming, and the ID and status bytes of a read of them.
#include <string>
#include <vector>

#include "cli_run.hpp"
#include "support/wire_decoder.hpp"

namespace velkor::test {
namespace {

using wire::Packet;

class CliVerifyTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    data = WriteRandom("data.bin", 4096);
    data[0x100] = 0xA5;  // the stuck cell below holds 0x00: it differs
    std::ofstream(directory / "data.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  }
  // The packets programmer n received in the capture called name.
  std::vector<Packet> Received(const std::string& name, int n = 1) const {
    return wire::Packets(wire::ReadCapture(directory / (name + "." + std::to_string(n))));
  }
  static bool Holds(const std::vector<Packet>& packets, uint8_t code, int parameter = -1) {
    for (const Packet& p : packets)
      if (p.Code() == code && (parameter < 0 || p.Parameter() == parameter)) return true;
    return false;
  }
  const std::string stuck = Sim({"--stuck-byte", "0x100=0x00"});
  std::vector<uint8_t> data;
};

TEST_F(CliVerifyTest, AFailedVerifyCarriesTheFirstDifferenceInTheResultOfEveryProgrammer) {
  const CliRun run = Cli("--simulate --json" + stuck + Sim({"--capture", Path("wire")}) +
                         " auto --chip W25x10xx --file data.bin");
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  const auto results = run.Events("result");
  ASSERT_EQ(results.size(), 2u) << run.out;
  for (const Json& r : results) {
    SCOPED_TRACE(r.dump());
    EXPECT_EQ(r["result"], "failed");
    EXPECT_EQ(r["code"], 0x31);
    EXPECT_EQ(r["first_difference"], 0x100);
    EXPECT_EQ(r["differences"], 1);
    EXPECT_EQ(r["compared"], 4096);
    ASSERT_EQ(r["first_differences"].size(), 1u);
    EXPECT_EQ(r["first_differences"][0], (Json{{"address", 0x100}, {"expected", 0xA5}, {"found", 0}}));
  }
  // On the wire: the programmer's verify, then the streamed read of the range.
  for (int n = 1; n <= 2; ++n) {
    const std::vector<Packet> packets = Received("wire", n);
    EXPECT_TRUE(Holds(packets, wire::kChipOperation, 0x33)) << n;
    EXPECT_TRUE(Holds(packets, wire::kReadStream)) << n;
  }

  // Left out: the verify fails as before, with nothing read back.
  const CliRun quiet = Cli("--simulate --json" + stuck + Sim({"--capture", Path("quiet")}) +
                           " verify --chip W25x10xx --file data.bin --no-locate");
  EXPECT_EQ(quiet.status, 1);
  for (const Json& r : quiet.Events("result")) EXPECT_FALSE(r.contains("first_difference")) << r.dump();
  EXPECT_FALSE(Holds(Received("quiet"), wire::kReadStream));

  // Plain lines name the difference too.
  const CliRun plain = Cli("--simulate --plain --sim-count 1" + Sim({"--chip-content", Path("data.bin")}) + stuck +
                           " verify --chip W25x10xx --file data.bin");
  EXPECT_EQ(plain.status, 1);
  EXPECT_NE(plain.out.find("programmer 1: read back 4096 bytes: 1 byte differs, at 0x00000100"), std::string::npos)
      << plain.out;
  EXPECT_NE(plain.out.find("  0x00000100: expected 0xA5, found 0x00"), std::string::npos) << plain.out;
}

TEST_F(CliVerifyTest, VerifyByReadBackPassesOnAChipThatHoldsTheFileAndNamesADifference) {
  const CliRun good = Cli("--simulate --json --sim-count 1" + Sim({"--chip-content", Path("data.bin")}) +
                          Sim({"--capture", Path("good")}) + " verify --readback --chip W25x10xx --file data.bin");
  EXPECT_EQ(good.status, 0) << good.out << good.err;
  const auto results = good.Events("result");
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0]["result"], "ok");
  EXPECT_EQ(results[0]["operation"], "verify");
  EXPECT_EQ(results[0]["differences"], 0);
  EXPECT_EQ(results[0]["compared"], 4096);
  const std::vector<Packet> packets = Received("good");
  EXPECT_FALSE(Holds(packets, wire::kChipOperation, 0x33)) << "the programmer's own verify is not asked for";
  EXPECT_TRUE(Holds(packets, wire::kReadStream));

  const CliRun bad = Cli("--simulate --json --sim-count 1" + Sim({"--chip-content", Path("data.bin")}) + stuck +
                         " verify --readback --chip W25x10xx --file data.bin");
  EXPECT_EQ(bad.status, 1);
  const auto failed = bad.Events("result");
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0]["first_difference"], 0x100);
  EXPECT_EQ(failed[0]["text"], "数据校验错误！");
}

TEST_F(CliVerifyTest, AWrongChipIdIsRefusedBeforeAnyBlockIsSentAndTheIdReadCarriesItsBytes) {
  const CliRun refused = Cli("--simulate --json --sim-count 1" + Sim({"--chip-id", "0x12,0x34"}) +
                             Sim({"--capture", Path("wire")}) + " program --check-id --chip GD25Q512x --file data.bin");
  EXPECT_EQ(refused.status, 1) << refused.out << refused.err;
  const auto results = refused.Events("result");
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0]["text"], "Chip ID 0x12 0x34 does not match GD25Q512x: 0xC8 0x40");
  EXPECT_EQ(results[0]["chip_id"], (Json{0x12, 0x34}));
  const std::vector<Packet> packets = Received("wire");
  EXPECT_TRUE(Holds(packets, wire::kChipOperation, 0x60)) << "the ID was read";
  EXPECT_FALSE(Holds(packets, wire::kProgramBlock)) << "nothing was written";

  // The catalogue's own ID passes the check and the chip is programmed.
  const CliRun passed = Cli("--simulate --json --sim-count 1 program --check-id --chip GD25Q512x --file data.bin");
  EXPECT_EQ(passed.status, 0) << passed.out << passed.err;

  const CliRun id = Cli("--simulate --json --sim-count 1" + Sim({"--chip-id", "0xEF,0x40", "--chip-status", "0x02,0x00"}) +
                        " id --chip W25x10xx");
  EXPECT_EQ(id.status, 0) << id.out << id.err;
  const auto ids = id.Events("result");
  ASSERT_EQ(ids.size(), 1u);
  EXPECT_EQ(ids[0]["chip_id"], (Json{0xEF, 0x40}));
  EXPECT_EQ(ids[0]["chip_status"], (Json{0x02, 0x00}));
}

}  // namespace
}  // namespace velkor::test
