// Whole-chip transfers end to end: what the chip in the simulated socket
// holds arrives at the same place of the image, on the largest chips, on the
// 528-byte page flash, block by block and streamed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "data/image_buffer.hpp"
#include "simulated_programmers.hpp"
#include "support/files.hpp"

namespace velkor {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t MiB = 1u << 20;

struct Placed {
  uint64_t offset;
  std::vector<uint8_t> bytes;
};

class TransfersTest : public test::SimulatedProgrammersTest {
 protected:
  std::vector<uint8_t> RandomBytes(std::size_t n, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
  }
  // The simulator option that puts these bytes into every fresh chip.
  std::vector<std::string> ContentOption(const Placed& placed, const std::string& name) {
    test::WriteFile(directory / name, std::string(placed.bytes.begin(), placed.bytes.end()));
    return {"--chip-content", (directory / name).string() + "@" + std::to_string(placed.offset)};
  }
  // The first offset below size where the image is not erased apart from
  // the placed bytes, or nothing when it is exactly that.
  std::optional<uint64_t> FirstDifference(uint64_t size, const std::vector<Placed>& placed) const {
    const uint8_t* image = programmer->Image.Data.get();
    uint64_t at = 0;
    for (const Placed& p : placed) {
      const uint8_t* stray = std::find_if(image + at, image + p.offset, [](uint8_t b) { return b != 0xFF; });
      if (stray != image + p.offset) return static_cast<uint64_t>(stray - image);
      if (std::memcmp(image + p.offset, p.bytes.data(), p.bytes.size()) != 0) return p.offset;
      at = p.offset + p.bytes.size();
    }
    const uint8_t* stray = std::find_if(image + at, image + size, [](uint8_t b) { return b != 0xFF; });
    if (stray != image + size) return static_cast<uint64_t>(stray - image);
    return std::nullopt;
  }
  void ReadChip(bool streamed) {
    programmer->Image.Erase();
    programmer->FastReadCapable = streamed;
    programmer->RunCommand([&] { programmer->SpeedButtonRDClick(); });
    EXPECT_EQ(programmer->Channels.Channel(1).Operation, streamed ? 0x20 : 0x00);
    ASSERT_TRUE(RunToIdle(120s));
    EXPECT_EQ(programmer->Gauge(1).Colour, GaugeColour::Blue);
  }
};

// At a real chip's pace a streamed read of 1 MiB takes longer than the
// host waits for its first data (10 s): the blocks must arrive one by one as
// the chip reads them, not all at its end.
TEST_F(TransfersTest, APacedStreamedReadLongerThanTheFirstWaitArrivesBlockByBlock) {
  const std::vector<Placed> placed = {{MiB - 4096, RandomBytes(4096, 3)}};
  std::vector<std::string> options = ContentOption(placed[0], "end.bin");
  options.insert(options.end(), {"--pace", "--block-time-us", "42000"});  // 256 blocks: 10.75 s
  Connect(1, options);
  Choose("8M Bits(8M位)");
  programmer->Controls.ChkBoxCPES.Checked = true;
  ReadChip(true);
  EXPECT_TRUE(LoggedLine(ChannelLine(1, "Chip Data has been read out.")));
  EXPECT_EQ(FirstDifference(MiB, placed), std::nullopt);
}

TEST_F(TransfersTest, LargestChipReadsToItsLastBlockAndVerifiesAUsedRangeAbove64MiB) {
  // One block at 100 MiB - 4 KB, one at the chip's very end; a position
  // that lost its bits above 16 would put them at 36 MiB and 64 MiB.
  const std::vector<Placed> placed = {{100 * MiB - 4096, RandomBytes(4096, 1)}, {128 * MiB - 4096, RandomBytes(4096, 2)}};
  std::vector<std::string> options = ContentOption(placed[0], "at100.bin");
  for (const std::string& o : ContentOption(placed[1], "atEnd.bin")) options.push_back(o);
  Connect(1, options);
  Choose("GD55B01GE");
  programmer->Controls.ChkBoxCPES.Checked = true;  // the whole chip
  // The simulated programmer reads positions and sizes from 64 MiB on.
  programmer->Controls.ChkBoxExtAddr.Checked = true;

  for (bool streamed : {true, false}) {
    SCOPED_TRACE(streamed ? "streamed" : "block by block");
    ReadChip(streamed);
    EXPECT_EQ(FirstDifference(128 * MiB, placed), std::nullopt);
    EXPECT_EQ(programmer->Image.ChipEnd, 128 * MiB - 1);
  }

  // The used range trimmed to the first block's end: 102400 KB, which the
  // programmer must sum whole to agree with the host.
  programmer->Controls.ChkBoxCPES.Checked = false;
  std::fill_n(programmer->Image.Data.get() + placed[1].offset, 4096, 0xFF);
  programmer->RecomputeImage();  // as a load does
  programmer->RunCommand([&] { programmer->SpdBtnVerifyClick(); });
  ASSERT_TRUE(RunToIdle());
  EXPECT_EQ(programmer->Chip.SizeKB, 100u * 1024);
  EXPECT_TRUE(LoggedLine(ChannelLine(1, "操作成功！")));
  EXPECT_TRUE(view.messages.empty());

  programmer->Image.Data[placed[0].offset + 7] ^= 0x01;
  programmer->RecomputeImage();
  programmer->RunCommand([&] { programmer->SpdBtnVerifyClick(); });
  ASSERT_TRUE(RunToIdle());
  loop.runFor(20ms);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, "数据校验错误！");
}

TEST_F(TransfersTest, PageFlashReadsItsDataAndSpareAreasAndProgramsThemBack) {
  // The chip as it holds itself: 4096 pages of 512 data and 16 spare bytes.
  const Placed whole{0, RandomBytes(kDataFlashPages * kDataFlashPageSize, 3)};
  Connect(1, ContentOption(whole, "pages.bin"));
  Choose("AT45DB16E");
  programmer->Controls.ChkBoxCPES.Checked = true;

  ReadChip(false);
  const uint8_t* image = programmer->Image.Data.get();
  for (uint32_t page = 0; page < kDataFlashPages; ++page) {
    const uint8_t* chipPage = whole.bytes.data() + page * kDataFlashPageSize;
    ASSERT_EQ(std::memcmp(image + page * kDataFlashMainSize, chipPage, kDataFlashMainSize), 0) << "page " << page;
    ASSERT_EQ(std::memcmp(image + kDataFlashSpareBase + page * kDataFlashSpareSize, chipPage + kDataFlashMainSize,
                          kDataFlashSpareSize),
              0)
        << "spare bytes of page " << page;
  }

  // New data through the automatic sequence (erase, program, verify), then
  // read back into an erased image.
  const std::vector<uint8_t> main = RandomBytes(kDataFlashSpareBase, 4);
  const std::vector<uint8_t> spare = RandomBytes(kDataFlashPages * kDataFlashSpareSize, 5);
  std::copy(main.begin(), main.end(), programmer->Image.Data.get());
  std::copy(spare.begin(), spare.end(), programmer->Image.Data.get() + kDataFlashSpareBase);
  programmer->FileLoaded = true;
  programmer->RecomputeImage();
  programmer->Controls.EnEraseChk.Checked = true;  // the chip holds data
  programmer->RunCommand([&] { programmer->SpdBtnAutoPClick(); });
  ASSERT_TRUE(RunToIdle());
  EXPECT_EQ(programmer->BurnCount, 1u);

  ReadChip(false);
  EXPECT_TRUE(std::equal(main.begin(), main.end(), programmer->Image.Data.get()));
  EXPECT_TRUE(std::equal(spare.begin(), spare.end(), programmer->Image.Data.get() + kDataFlashSpareBase));
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(TransfersTest, ReadIdAndStatusLogsWhatTheChipAnswers) {
  Connect(1, {"--chip-id", "0xEF,0x17", "--chip-status", "0x02,0x80"});
  Choose("W25x10xx");
  programmer->RunCommand([&] { programmer->ReadChipIDandStatus1Click(); });
  ASSERT_TRUE(RunToIdle());
  EXPECT_TRUE(LoggedLine(ChannelLine(1, "Read Chip Information success: ID=0x17,0xEF, Statu Reg=0x02,0x80")));

  // An SPI EEPROM answers its status register and a page of 128 bytes,
  // which the simulator fills with 00, 01, ... 7F.
  Choose("25xx040");
  view.lines.clear();
  programmer->RunCommand([&] { programmer->ReadChipIDandStatus1Click(); });
  ASSERT_TRUE(RunToIdle());
  EXPECT_TRUE(LoggedLine(ChannelLine(1, "Read Chip Statu data is : 0x02.")));
  EXPECT_TRUE(LoggedLine(ChannelLine(1, "Read Chip DID data are : ")));
  EXPECT_TRUE(LoggedLine(ChannelLine(1, "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F ")));
  EXPECT_TRUE(LoggedLine(ChannelLine(1, "70 71 72 73 74 75 76 77 78 79 7A 7B 7C 7D 7E 7F ")));
  EXPECT_TRUE(LoggedLine(ChannelLine(1, "操作成功！")));
}

}  // namespace
}  // namespace velkor
