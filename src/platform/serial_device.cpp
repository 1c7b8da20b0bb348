#include "platform/serial_device.hpp"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/custom_baud.hpp"
#include "platform/usb_identity.hpp"

namespace velkor {

struct SerialDevice::SavedSettings {
  termios original{};
  bool valid = false;
};

namespace {

struct StandardBaud {
  uint32_t rate;
  speed_t code;
};

constexpr StandardBaud kStandardBauds[] = {
    {1200, B1200},       {2400, B2400},       {4800, B4800},       {9600, B9600},
    {19200, B19200},     {38400, B38400},     {57600, B57600},     {115200, B115200},
    {230400, B230400},   {460800, B460800},   {500000, B500000},   {921600, B921600},
    {1000000, B1000000}, {1500000, B1500000}, {2000000, B2000000}, {3000000, B3000000},
};

const StandardBaud* FindStandardBaud(uint32_t rate) {
  for (const auto& b : kStandardBauds)
    if (b.rate == rate) return &b;
  return nullptr;
}

constexpr tcflag_t kDataBitFlags[] = {CS5, CS6, CS7, CS8};

void SetParity(termios& tio, TParity parity) {
  tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR);
  switch (parity) {
    case TParity::None: break;
    case TParity::Odd: tio.c_cflag |= PARENB | PARODD; break;
    case TParity::Even: tio.c_cflag |= PARENB; break;
    case TParity::Mark: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case TParity::Space: tio.c_cflag |= PARENB | CMSPAR; break;
  }
}

TParity ParityOf(const termios& tio) {
  if (!(tio.c_cflag & PARENB)) return TParity::None;
  const bool odd = tio.c_cflag & PARODD;
  if (tio.c_cflag & CMSPAR) return odd ? TParity::Mark : TParity::Space;
  return odd ? TParity::Odd : TParity::Even;
}

// DTR and RTS as the settings ask. Handshake and toggle modes have no plain
// termios counterpart: the line is raised and left to the flow control.
void SetModemLines(int fd, const CommLineSettings& s) {
  const auto drive = [fd](int line, bool raise) {
    ioctl(fd, raise ? TIOCMBIS : TIOCMBIC, &line);
  };
  drive(TIOCM_DTR, s.DtrControl != TDtrControl::DtrDisable);
  drive(TIOCM_RTS, s.RtsControl != TRtsControl::RtsDisable);
}

// Asks the driver to hand received bytes on at once rather than batching
// them (USB serial drivers then also shorten their own polling where they
// can). Drivers without serial_struct support (pseudo-terminals) refuse;
// that is fine.
void RequestLowLatency(int fd) {
  serial_struct serial{};
  if (ioctl(fd, TIOCGSERIAL, &serial) != 0 || (serial.flags & ASYNC_LOW_LATENCY)) return;
  serial.flags |= ASYNC_LOW_LATENCY;
  ioctl(fd, TIOCSSERIAL, &serial);
}

}  // namespace

IoStatus ClassifyIoError(int error) {
  switch (error) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINTR:
      return IoStatus::WouldBlock;
    case EIO:
    case ENXIO:
    case ENODEV:
    case EPIPE:
    case ENOENT:
      return IoStatus::Gone;
    case EBADF:
      return IoStatus::Closed;
    default:
      return IoStatus::Failed;
  }
}

std::string DevicePathOf(const std::string& portName) { return ResolvePortName(portName).path; }

SerialDevice::SerialDevice(int fd, std::unique_ptr<SavedSettings> saved) : fd_(fd), saved_(std::move(saved)) {}

OpenFailure SerialDevice::Open(const std::string& path, std::unique_ptr<SerialDevice>& device) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return OpenFailure::CannotOpen;
  if (!isatty(fd)) {
    ::close(fd);
    return OpenFailure::NotATerminal;
  }
  // flock covers every program that takes the same lock, this one included;
  // TIOCEXCL keeps out other programs that open the device plainly.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return OpenFailure::CannotOpen;
  }
  auto saved = std::make_unique<SavedSettings>();
  saved->valid = tcgetattr(fd, &saved->original) == 0;
  // Stale input is dropped. Output is left alone: a freshly opened port
  // holds none of its own, and on a pseudo-terminal a flush would drop what
  // the previous session sent and the other side has not read yet.
  if (ioctl(fd, TIOCEXCL) != 0 || tcflush(fd, TCIFLUSH) != 0) {
    ::close(fd);
    return OpenFailure::CannotPrepare;
  }
  RequestLowLatency(fd);
  device.reset(new SerialDevice(fd, std::move(saved)));
  return OpenFailure::None;
}

PortFailure PortFailureForErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM: return PortFailure::NoPermission;
    case EBUSY: return PortFailure::Busy;
    default: return PortFailure::Absent;
  }
}

PortFailure SerialDevice::Probe(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return PortFailureForErrno(errno);
  PortFailure result = PortFailure::None;
  if (!isatty(fd))
    result = PortFailure::Absent;
  else if (flock(fd, LOCK_EX | LOCK_NB) != 0)
    result = PortFailure::Busy;
  ::close(fd);
  return result;
}

SerialDevice::~SerialDevice() {
  if (saved_->valid) tcsetattr(fd_, TCSANOW, &saved_->original);
  ioctl(fd_, TIOCNXCL);
  ::close(fd_);
}

void SerialDevice::ApplyLine(const CommLineSettings& s) {
  termios tio{};
  if (tcgetattr(fd_, &tio) != 0) return;
  cfmakeraw(&tio);
  tio.c_cflag |= CREAD | CLOCAL;
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | CRTSCTS);
  tio.c_cflag |= kDataBitFlags[static_cast<int>(s.ByteSize) & 3];
  if (s.StopBits != TStopBits::_1) tio.c_cflag |= CSTOPB;  // 1.5 stop bits only exist with 5 data bits
  SetParity(tio, s.Parity);
  // Without IGNPAR and PARMRK the driver hands a byte with a parity error
  // over as 0, which is what replacing it with ReplacedChar's default does.
  tio.c_iflag &= ~static_cast<tcflag_t>(INPCK | IGNPAR | IXON | IXOFF | IXANY);
  if (s.ParityCheck) tio.c_iflag |= INPCK;
  if (s.ParityCheck && !s.ReplaceWhenParityError) tio.c_iflag |= IGNPAR;
  if (s.Outx_CtsFlow || s.RtsControl == TRtsControl::RtsHandshake) tio.c_cflag |= CRTSCTS;
  if (s.Outx_XonXoffFlow) tio.c_iflag |= IXON;
  if (s.Inx_XonXoffFlow) tio.c_iflag |= IXOFF;
  tio.c_cc[VSTART] = static_cast<cc_t>(s.XonChar);
  tio.c_cc[VSTOP] = static_cast<cc_t>(s.XoffChar);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;

  const StandardBaud* standard = FindStandardBaud(s.BaudRate);
  if (standard) cfsetspeed(&tio, standard->code);
  tcsetattr(fd_, TCSANOW, &tio);
  if (!standard) SetCustomBaud(fd_, s.BaudRate);
  SetModemLines(fd_, s);
}

AppliedLine SerialDevice::ReadAppliedLine() const {
  AppliedLine line;
  termios tio{};
  if (tcgetattr(fd_, &tio) != 0) return line;
  line.baudRate = ReadCustomBaud(fd_);
  switch (tio.c_cflag & CSIZE) {
    case CS5: line.dataBits = 5; break;
    case CS6: line.dataBits = 6; break;
    case CS7: line.dataBits = 7; break;
    default: line.dataBits = 8; break;
  }
  line.stopBits = (tio.c_cflag & CSTOPB) ? 2 : 1;
  line.parity = ParityOf(tio);
  line.rtsCtsFlow = tio.c_cflag & CRTSCTS;
  line.xonXoffOut = tio.c_iflag & IXON;
  line.xonXoffIn = tio.c_iflag & IXOFF;
  return line;
}

void SerialDevice::PurgeInput() { tcflush(fd_, TCIFLUSH); }
void SerialDevice::PurgeOutput() { tcflush(fd_, TCOFLUSH); }

bool SerialDevice::OutputPending() const {
  int queued = 0;
  return ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0;
}

IoStatus SerialDevice::Read(uint8_t* buffer, std::size_t capacity, std::size_t& got) {
  got = 0;
  const ssize_t n = ::read(fd_, buffer, capacity);
  if (n > 0) {
    got = static_cast<std::size_t>(n);
    return IoStatus::Ok;
  }
  // A readable port that yields nothing has lost its other end.
  if (n == 0) return IoStatus::Gone;
  return ClassifyIoError(errno);
}

IoStatus SerialDevice::Write(const uint8_t* data, std::size_t count, std::size_t& written) {
  written = 0;
  const ssize_t n = ::write(fd_, data, count);
  if (n >= 0) {
    written = static_cast<std::size_t>(n);
    return IoStatus::Ok;
  }
  return ClassifyIoError(errno);
}

bool SerialDevice::ReadCounters(LineCounters& counters) const {
  serial_icounter_struct icount{};
  if (ioctl(fd_, TIOCGICOUNT, &icount) != 0) return false;
  counters.frame = static_cast<uint32_t>(icount.frame);
  counters.overrun = static_cast<uint32_t>(icount.overrun);
  counters.parity = static_cast<uint32_t>(icount.parity);
  counters.brk = static_cast<uint32_t>(icount.brk);
  counters.bufferOverrun = static_cast<uint32_t>(icount.buf_overrun);
  counters.ring = static_cast<uint32_t>(icount.rng);
  counters.carrierDetect = static_cast<uint32_t>(icount.dcd);
  return true;
}

}  // namespace velkor
