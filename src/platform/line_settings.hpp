// The line settings of a serial port, in the terms the programmer link
// uses for them. The enumerations keep the ordinal values of the original
// component, so that values stored elsewhere keep their meaning.
#pragma once

#include <cstdint>

namespace velkor {

enum class TParity : uint8_t { None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };
enum class TStopBits : uint8_t { _1 = 0, _1_5 = 1, _2 = 2 };
enum class TByteSize : uint8_t { _5 = 0, _6 = 1, _7 = 2, _8 = 3 };
enum class TDtrControl : uint8_t { DtrEnable = 0, DtrDisable = 1, DtrHandshake = 2 };
enum class TRtsControl : uint8_t { RtsEnable = 0, RtsDisable = 1, RtsHandshake = 2, RtsTransmissionAvailable = 3 };

// Every line property of a port. Some exist only for the settings' sake on
// Linux: DSR flow and sensitivity, continue-on-XOFF and the XON/XOFF limits
// have no termios counterpart and are stored without effect.
struct CommLineSettings {
  uint32_t BaudRate = 9600;
  bool ParityCheck = false;
  bool Outx_CtsFlow = false;
  bool Outx_DsrFlow = false;
  TDtrControl DtrControl = TDtrControl::DtrEnable;
  bool DsrSensitivity = false;
  bool TxContinueOnXoff = true;
  bool Outx_XonXoffFlow = true;
  bool Inx_XonXoffFlow = true;
  bool ReplaceWhenParityError = false;
  bool IgnoreNullChar = false;
  TRtsControl RtsControl = TRtsControl::RtsEnable;
  uint16_t XonLimit = 500;
  uint16_t XoffLimit = 500;
  TByteSize ByteSize = TByteSize::_8;
  TParity Parity = TParity::None;
  TStopBits StopBits = TStopBits::_1;
  char XonChar = 0x11;
  char XoffChar = 0x13;
  char ReplacedChar = 0x00;

  bool operator==(const CommLineSettings&) const = default;

  // The settings of both programmer channels: 1,000,000 baud, 8 data bits,
  // 2 stop bits, no parity, no flow control, DTR and RTS off.
  static CommLineSettings ProgrammerChannel();
};

// Port time-outs in milliseconds. A block is delivered as soon as bytes
// arrive, so on Linux they are kept only as settings.
struct CommTimeouts {
  uint32_t ReadIntervalTimeout = 100;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;

  bool operator==(const CommTimeouts&) const = default;

  static CommTimeouts ProgrammerChannel();
};

// Whether changing the settings of an open port from before to after applies
// the line configuration again at once. A change of Parity alone does not:
// it takes effect the next time the configuration is applied.
inline bool ReappliesAtOnce(const CommLineSettings& before, const CommLineSettings& after) {
  CommLineSettings sameParity = after;
  sameParity.Parity = before.Parity;
  return !(sameParity == before);
}

inline CommLineSettings CommLineSettings::ProgrammerChannel() {
  CommLineSettings s;
  s.BaudRate = 1000000;
  s.DtrControl = TDtrControl::DtrDisable;
  s.TxContinueOnXoff = false;
  s.Outx_XonXoffFlow = false;
  s.Inx_XonXoffFlow = false;
  s.RtsControl = TRtsControl::RtsDisable;
  s.XonLimit = 10;
  s.XoffLimit = 10;
  s.StopBits = TStopBits::_2;
  s.XonChar = '0';
  s.XoffChar = '0';
  return s;
}

inline CommTimeouts CommTimeouts::ProgrammerChannel() {
  CommTimeouts t;
  t.ReadIntervalTimeout = 5;
  return t;
}

}  // namespace velkor
