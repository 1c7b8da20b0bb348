#include "sim/reply_packets.hpp"

#include "link/checksum.hpp"

namespace velkor::sim {

StatusReply BuildStatusReply(std::span<const uint8_t, 8> commandHeader, uint8_t status) {
  StatusReply reply{};
  reply[0] = commandHeader[0];
  reply[1] = commandHeader[1];
  reply[2] = commandHeader[2];
  reply[3] = 0;
  reply[4] = commandHeader[4];
  reply[5] = commandHeader[5];
  reply[6] = 2;
  reply[7] = 0;
  reply[8] = status;
  reply[9] = 0;
  const uint16_t check = LinkCrc16(reply.data(), 0, 9);
  reply[10] = static_cast<uint8_t>(check);
  reply[11] = static_cast<uint8_t>(check >> 8);
  return reply;
}

ProgressReport BuildProgressReport(const ProgressStep& step) {
  ProgressReport report{kProgressReportCode,
                        step.stage,
                        step.result,
                        static_cast<uint8_t>(step.done),
                        static_cast<uint8_t>(step.done >> 8),
                        static_cast<uint8_t>(step.total),
                        static_cast<uint8_t>(step.total >> 8),
                        0};
  uint8_t sum = 0;
  for (std::size_t i = 0; i + 1 < report.size(); ++i) sum = static_cast<uint8_t>(sum + report[i]);
  report.back() = static_cast<uint8_t>(-sum);
  return report;
}

}  // namespace velkor::sim
