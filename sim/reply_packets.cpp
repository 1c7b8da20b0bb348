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

std::size_t SealDataReply(std::span<uint8_t> packet, const ReplyHeader& header, std::size_t payloadLength) {
  packet[0] = header.code;
  packet[1] = static_cast<uint8_t>(header.parameter);
  packet[2] = static_cast<uint8_t>(header.parameter >> 8);
  packet[3] = header.flags;
  packet[4] = header.family;
  packet[5] = header.subtype;
  packet[6] = static_cast<uint8_t>(payloadLength);
  packet[7] = static_cast<uint8_t>(payloadLength >> 8);
  const std::size_t body = 8 + payloadLength;
  const uint16_t check = LinkCrc16(packet.data(), 0, static_cast<uint32_t>(body - 1));
  packet[body] = static_cast<uint8_t>(check);
  packet[body + 1] = static_cast<uint8_t>(check >> 8);
  return body + 2;
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
