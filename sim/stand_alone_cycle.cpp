// The programmer's stand-alone cycle: what it does with the downloaded job
// when the operator presses its start key or it detects a chip by itself.
// One fresh chip per cycle; the steps the job asks for (blank check, erase,
// programming, verification); the serial number written into the
// programmed data; the burn-count limit; progress reports as it goes.
#include <algorithm>
#include <array>
#include <vector>

#include "sim/programmer_model.hpp"

namespace velkor::sim {

namespace {

// Step bits of a job.
constexpr uint8_t kStepErase = 0x01;
constexpr uint8_t kStepBlankCheck = 0x02;
constexpr uint8_t kStepNoProgramming = 0x04;
constexpr uint8_t kStepNoVerification = 0x08;
// Also "no programming", except for sensors, where it asks for write protection.
constexpr uint8_t kStepNoProgrammingOrProtect = 0x80;

// A programming report goes out after every this many blocks.
constexpr uint32_t kBlocksPerReport = 16;
constexpr std::size_t kLongestSerialNumber = 4;

}  // namespace

// The part of the chip a job covers.
struct ProgrammerModel::CycleRange {
  // Bytes of the host's image: the used range, at most the chip's part of that image.
  uint64_t usedBytes = 0;
  // Blocks from position 0: the used range rounded up to whole blocks, at
  // least one, at most the chip's.
  uint32_t blocks = 0;
};

// The serial number a chip receives, where it lies in the host's image.
struct ProgrammerModel::SerialPatch {
  uint64_t address = 0;
  std::array<uint8_t, kLongestSerialNumber> bytes{};
  std::size_t width = 0;
};

CycleOutcome ProgrammerModel::RunStandAloneCycle() {
  CycleOutcome outcome;
  if (hungUp_) return outcome;
  outcome.ran = true;
  outcome.number = ++counters_.standAloneCycles;
  QueueProgressReport(kStageStart, 0, 0, 0);
  outcome.result = CycleSteps(outcome);
  QueueProgressReport(kStageCompleted, outcome.result, 0, 0);
  Log("stand-alone cycle %u ended with result 0x%02X (%s)", outcome.number, outcome.result,
      outcome.result == kCycleSucceeded ? "success" : "failure");
  return outcome;
}

CycleOutcome ProgrammerModel::RunAutoCycle() {
  if (autoCyclesLeft_ == 0 || hungUp_) {
    autoCyclesLeft_ = 0;
    return {};
  }
  --autoCyclesLeft_;
  return RunStandAloneCycle();
}

uint8_t ProgrammerModel::CycleSteps(CycleOutcome& outcome) {
  const uint32_t cycle = outcome.number;
  for (const CycleFailureRule& rule : options_.faults.cycleFailures) {
    if (rule.cycle != cycle) continue;
    ++counters_.failuresInjected;
    Log("stand-alone cycle %u fails on purpose with result 0x%02X", cycle, rule.result);
    return rule.result;
  }
  if (!job_ || !job_->complete) {
    Log("stand-alone cycle %u: %s", cycle,
        job_ ? "the download of the job is not complete" : "no job has been downloaded");
    return kCycleNoJob;
  }
  const JobSettings& settings = job_->settings.parameters.job;
  const ChipParams& chip = job_->settings.parameters.chip;
  if (settings.LimitOn != 0 && job_->burns >= settings.LimitCount) {
    Log("stand-alone cycle %u: burn limit reached: %u of %u chips programmed with this job", cycle, job_->burns,
        settings.LimitCount);
    return kCycleBurnLimitReached;
  }

  // The operator puts the next chip in.
  PutFreshChip({chip.Family, chip.SubType, chip.Size}, true);
  outcome.chipInserted = true;

  if (settings.OpFlags & kStepBlankCheck) {
    QueueProgressReport(kStageBlankCheck, 0, 0, 0);
    if (!chip_.IsBlank()) {
      if (settings.OptionBits & kOptionErrorIfNotBlank) {
        Log("stand-alone cycle %u: the chip is not blank", cycle);
        return kCycleNotBlank;
      }
      Log("stand-alone cycle %u: the chip is not blank; the job goes on", cycle);
    }
  }
  if (settings.OpFlags & kStepErase) {
    QueueProgressReport(kStageErase, 0, 0, 0);
    chip_.Erase();
  }

  const CycleRange range = JobRange();
  const std::optional<SerialPatch> serial = CycleSerialNumber(range, cycle);
  const bool programmingOff = (settings.OpFlags & kStepNoProgramming) != 0 ||
                              (chip.Family != kFamilySensor && (settings.OpFlags & kStepNoProgrammingOrProtect) != 0);
  if (!programmingOff) ProgramJob(range, serial);
  if (!(settings.OpFlags & kStepNoVerification)) {
    QueueProgressReport(kStageMainFlashVerification, 0, 0, 0);
    if (!ChipHoldsJob(range, serial, cycle)) return kCycleCompareFailed;
  }

  ++job_->burns;
  ++counters_.successfulBurns;
  // The next chip receives the next number.
  if (settings.SnEnable != 0) serialNumbers_.current = static_cast<uint32_t>(serialNumbers_.current + settings.SnStep);
  return kCycleSucceeded;
}

ProgrammerModel::CycleRange ProgrammerModel::JobRange() const {
  const uint64_t used = UsedBytes(job_->settings.parameters.chip);
  CycleRange range;
  range.usedBytes = std::min(used, chip_.HostImageBytes());
  const uint64_t blocks = std::max<uint64_t>(1, (used + kBlockBytes - 1) / kBlockBytes);
  range.blocks = static_cast<uint32_t>(std::min<uint64_t>(blocks, chip_.Blocks()));
  return range;
}

std::optional<ProgrammerModel::SerialPatch> ProgrammerModel::CycleSerialNumber(const CycleRange& range,
                                                                                 uint32_t cycle) {
  const JobSettings& settings = job_->settings.parameters.job;
  if (settings.SnEnable == 0) return std::nullopt;
  SerialPatch serial;
  serial.address = settings.SnAddress;
  serial.width = settings.SnWidth;
  if (serial.width < 1 || serial.width > kLongestSerialNumber) {
    Log("stand-alone cycle %u: serial numbers of %u bytes are not supported; 4 bytes are written", cycle,
        settings.SnWidth);
    serial.width = kLongestSerialNumber;
  }
  if (serial.address + serial.width > range.usedBytes) {
    Log("stand-alone cycle %u: the serial number at 0x%08X does not lie inside the used range of %llu bytes; "
        "it is not written",
        cycle, settings.SnAddress, static_cast<unsigned long long>(range.usedBytes));
    return std::nullopt;
  }
  const bool mostSignificantFirst = (settings.OptionBits & kOptionSerialBigEndian) == kOptionSerialBigEndian;
  for (std::size_t i = 0; i < serial.width; ++i) {
    const std::size_t byte = mostSignificantFirst ? serial.width - 1 - i : i;
    serial.bytes[i] = static_cast<uint8_t>(serialNumbers_.current >> (8 * byte));
  }
  return serial;
}

void ProgrammerModel::JobBlock(uint32_t positionKB, const std::optional<SerialPatch>& serial,
                               std::span<uint8_t> out) const {
  chip_.BlockFromHostImage(positionKB, job_->image, out);
  if (!serial) return;
  for (std::size_t i = 0; i < serial->width; ++i)
    if (const auto at = chip_.BlockIndex(positionKB, serial->address + i)) out[*at] = serial->bytes[i];
}

void ProgrammerModel::ProgramJob(const CycleRange& range, const std::optional<SerialPatch>& serial) {
  // At most 32768 blocks (128 MiB): the count fits the report's 16 bits.
  const auto total = static_cast<uint16_t>(range.blocks);
  QueueProgressReport(kStageMainFlashProgramming, 0, 0, total);
  std::vector<uint8_t> block(chip_.BlockBytes());
  for (uint32_t done = 1; done <= range.blocks; ++done) {
    const uint32_t position = (done - 1) * kBlockKB;
    JobBlock(position, serial, block);
    chip_.ProgramBlock(position, block);
    if (done % kBlocksPerReport == 0 || done == range.blocks)
      QueueProgressReport(kStageMainFlashProgramming, 0, static_cast<uint16_t>(done), total);
  }
}

bool ProgrammerModel::ChipHoldsJob(const CycleRange& range, const std::optional<SerialPatch>& serial,
                                   uint32_t cycle) {
  std::vector<uint8_t> expected(chip_.BlockBytes());
  std::vector<uint8_t> held(chip_.BlockBytes());
  for (uint32_t block = 0; block < range.blocks; ++block) {
    const uint32_t position = block * kBlockKB;
    JobBlock(position, serial, expected);
    chip_.ReadBlock(position, held);
    if (held == expected) continue;
    // Bytes of the block past the used range do not count.
    for (std::size_t i = 0; i < held.size(); ++i) {
      const uint64_t offset = chip_.HostOffset(position, i);
      if (held[i] == expected[i] || offset >= range.usedBytes) continue;
      Log("stand-alone cycle %u: verify failed at image address 0x%llX: the chip holds 0x%02X, the job 0x%02X", cycle,
          static_cast<unsigned long long>(offset), held[i], expected[i]);
      return false;
    }
  }
  return true;
}

}  // namespace velkor::sim
