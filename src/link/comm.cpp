#include "link/comm.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <future>
#include <mutex>
#include <system_error>
#include <thread>

#include "data/text_format.hpp"
#include "platform/serial_device.hpp"
#include "text/text_table.hpp"

namespace velkor {

namespace {
// With driver line counters the receive thread looks at them this often,
// since a line error without data would otherwise go unnoticed.
constexpr int kCounterPollMs = 100;

struct QueuedBlock {
  std::unique_ptr<uint8_t[]> bytes;
  uint16_t count = 0;
};

void Signal(int eventFd) {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t written = write(eventFd, &one, sizeof one);
}

void Drain(int eventFd) {
  uint64_t count = 0;
  [[maybe_unused]] ssize_t got = read(eventFd, &count, sizeof count);
}
}  // namespace

// Everything the two worker threads share with the main thread while a port
// is open. The threads hold it by shared pointer, so it outlives a thread
// that could not be stopped in time; notifications hold it weakly and are
// dropped once the port has been closed (or reopened) since they were sent.
struct TComm::Session : std::enable_shared_from_this<Session> {
  Session(MainLoop& mainLoop, TComm* comm, std::unique_ptr<SerialDevice> dev)
      : loop(mainLoop), owner(comm), device(std::move(dev)) {}
  ~Session() {
    if (closeEvent >= 0) close(closeEvent);
    if (queueEvent >= 0) close(queueEvent);
  }

  MainLoop& loop;
  TComm* owner;  // main thread only; cleared by ClosePort
  std::unique_ptr<SerialDevice> device;
  int closeEvent = -1;  // signalled once, by ClosePort
  int queueEvent = -1;  // signalled for every queued block
  std::mutex queueMutex;
  std::deque<QueuedBlock> queue;
  std::atomic<bool> sendIdle{true};
  // Set by ClosePort when every byte handed over has gone out: nothing is
  // left to purge, and purging could still drop it on its way.
  std::atomic<bool> outputDrained{false};
  std::atomic<bool> ignoreNullChar{false};
  std::promise<void> readerExit;
  std::promise<void> writerExit;

  // Hands a notification to the main loop; false if it could not be posted.
  bool Notify(std::function<void(TComm&)> raise) {
    std::weak_ptr<Session> weak = weak_from_this();
    try {
      loop.post([weak, raise = std::move(raise)] {
        const auto live = weak.lock();
        if (live && live->owner) raise(*live->owner);
      });
      return true;
    } catch (...) {
      return false;
    }
  }

  void NotifyHangup() {
    Notify([](TComm& c) {
      if (c.OnRequestHangup) c.OnRequestHangup(c);
    });
  }

  bool CloseSignalled() const {
    pollfd pfd{closeEvent, POLLIN, 0};
    return poll(&pfd, 1, 0) > 0;
  }

  void ReceiveLoop();
  bool DeliverBytes(const uint8_t* bytes, std::size_t count);
  bool ReportLineEvents(LineCounters& last);

  void TransmitLoop();
  bool TakeBlock(QueuedBlock& block);
  bool WriteBlock(const QueuedBlock& block);
};

bool TComm::Session::DeliverBytes(const uint8_t* bytes, std::size_t count) {
  // One block of count + 1 bytes, zero after the data, owned by the main
  // thread from the moment it is posted.
  std::shared_ptr<uint8_t[]> block;
  try {
    block = std::make_shared<uint8_t[]>(count + 1);
  } catch (const std::bad_alloc&) {
    NotifyHangup();
    return false;
  }
  std::size_t n = 0;
  if (ignoreNullChar) {
    for (std::size_t i = 0; i < count; ++i)
      if (bytes[i] != 0) block[n++] = bytes[i];
    if (n == 0) return true;
  } else {
    std::memcpy(block.get(), bytes, count);
    n = count;
  }
  const auto length = static_cast<uint16_t>(n);
  const bool posted = Notify([block, length](TComm& c) {
    if (c.OnReceiveData) c.OnReceiveData(c, block.get(), length);
  });
  if (!posted) NotifyHangup();
  return posted;
}

bool TComm::Session::ReportLineEvents(LineCounters& last) {
  LineCounters now;
  if (!device->ReadCounters(now)) return true;
  uint32_t errors = 0;
  if (now.bufferOverrun != last.bufferOverrun) errors |= kLineErrorRxOver;
  if (now.overrun != last.overrun) errors |= kLineErrorOverrun;
  if (now.parity != last.parity) errors |= kLineErrorParity;
  if (now.frame != last.frame) errors |= kLineErrorFrame;
  if (now.brk != last.brk) errors |= kLineErrorBreak;
  uint32_t modem = 0;
  if (now.carrierDetect != last.carrierDetect) modem |= kModemCarrierDetect;
  if (now.ring != last.ring) modem |= kModemRing;
  last = now;
  bool ok = true;
  if (errors)
    ok = Notify([errors](TComm& c) {
      if (c.OnReceiveError) c.OnReceiveError(c, errors);
    });
  if (ok && modem)
    ok = Notify([modem](TComm& c) {
      if (c.OnModemStateChange) c.OnModemStateChange(c, modem);
    });
  if (!ok) NotifyHangup();
  return ok;
}

void TComm::Session::ReceiveLoop() {
  uint8_t buffer[kReadBlockSize];
  LineCounters counters;
  const bool counted = device->ReadCounters(counters);
  pollfd fds[2] = {{device->fd(), POLLIN, 0}, {closeEvent, POLLIN, 0}};
  for (;;) {
    const int ready = poll(fds, 2, counted ? kCounterPollMs : -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      NotifyHangup();
      break;
    }
    if (fds[1].revents) break;
    if (counted && !ReportLineEvents(counters)) break;
    const short events = fds[0].revents;
    if (events & POLLNVAL) break;  // closed underneath the thread: nothing to report
    if (!(events & (POLLIN | POLLHUP | POLLERR))) continue;

    std::size_t got = 0;
    const IoStatus status = device->Read(buffer, sizeof buffer, got);
    if (status == IoStatus::Ok) {
      if (!DeliverBytes(buffer, got)) break;
      continue;
    }
    if (status == IoStatus::WouldBlock && !(events & (POLLHUP | POLLERR))) continue;
    if (status != IoStatus::Closed) NotifyHangup();
    break;
  }
  device->PurgeInput();
}

bool TComm::Session::TakeBlock(QueuedBlock& block) {
  std::lock_guard lock(queueMutex);
  if (queue.empty()) {
    sendIdle = true;
    return false;
  }
  block = std::move(queue.front());
  queue.pop_front();
  return true;
}

bool TComm::Session::WriteBlock(const QueuedBlock& block) {
  std::size_t offset = 0;
  while (offset < block.count) {
    std::size_t written = 0;
    IoStatus status = device->Write(block.bytes.get() + offset, block.count - offset, written);
    if (status == IoStatus::Ok && written > 0) {
      offset += written;
      continue;
    }
    if (status == IoStatus::Ok) status = IoStatus::WouldBlock;
    if (status == IoStatus::Closed) return false;
    if (status != IoStatus::WouldBlock) {
      NotifyHangup();
      return false;
    }
    pollfd fds[2] = {{device->fd(), POLLOUT, 0}, {closeEvent, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      NotifyHangup();
      return false;
    }
    if (fds[1].revents) return false;
    if (fds[0].revents & POLLNVAL) return false;
    if ((fds[0].revents & (POLLHUP | POLLERR)) && !(fds[0].revents & POLLOUT)) {
      NotifyHangup();
      return false;
    }
  }
  return true;
}

void TComm::Session::TransmitLoop() {
  bool writtenSinceIdle = true;
  for (;;) {
    QueuedBlock block;
    if (!TakeBlock(block)) {
      if (writtenSinceIdle && !Notify([](TComm& c) {
            if (c.OnSendDataEmpty) c.OnSendDataEmpty(c);
          })) {
        NotifyHangup();
        break;
      }
      writtenSinceIdle = false;
      pollfd fds[2] = {{queueEvent, POLLIN, 0}, {closeEvent, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        NotifyHangup();
        break;
      }
      if (fds[1].revents) break;
      Drain(queueEvent);
      continue;
    }
    if (CloseSignalled()) break;
    if (!WriteBlock(block)) break;
    writtenSinceIdle = true;
  }
  if (!outputDrained) device->PurgeOutput();
  sendIdle = true;
}

TComm::TComm(MainLoop& loop) : loop_(loop) {}

TComm::~TComm() { ClosePort(); }

void TComm::SetLineSettings(const CommLineSettings& settings) {
  const bool changed = ReappliesAtOnce(line_, settings);
  line_ = settings;
  if (changed && session_) {
    session_->device->ApplyLine(line_);
    session_->ignoreNullChar = line_.IgnoreNullChar;
  }
}

void TComm::OpenPort() {
  if (session_) throw ECommsError(Tx("This serial port already opened"));

  std::unique_ptr<SerialDevice> device;
  switch (SerialDevice::Open(DevicePathOf(CommName), device)) {
    case OpenFailure::None: break;
    case OpenFailure::CannotOpen:
      throw ECommsError(FormatText(Tx("Error opening serial port:%s"), CommName.c_str()));
    case OpenFailure::NotATerminal: throw ECommsError(Tx("File handle is not a comm handle "));
    case OpenFailure::CannotPrepare: throw ECommsError(Tx("Cannot setup comm buffer"));
  }
  device->ApplyLine(line_);

  auto session = std::make_shared<Session>(loop_, this, std::move(device));
  session->ignoreNullChar = line_.IgnoreNullChar;
  session->closeEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  session->queueEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (session->closeEvent < 0 || session->queueEvent < 0) throw ECommsError(Tx("Unable to create event"));

  try {
    reader_ = std::thread([session] {
      session->ReceiveLoop();
      session->readerExit.set_value();
    });
  } catch (const std::system_error&) {
    throw ECommsError(Tx("Unable to create read thread"));
  }
  try {
    writer_ = std::thread([session] {
      session->TransmitLoop();
      session->writerExit.set_value();
    });
  } catch (const std::system_error&) {
    session->owner = nullptr;
    Signal(session->closeEvent);
    reader_.join();
    throw ECommsError(Tx("Unable to create write thread"));
  }
  session_ = std::move(session);
}

namespace {
// Joins a worker that ends within the bound; one that does not is left to
// end by itself, holding the session (and so the device) until it does.
void StopWorker(std::thread& worker, std::promise<void>& exit) {
  if (!worker.joinable()) return;
  std::future<void> ended = exit.get_future();
  if (ended.wait_for(TComm::kThreadStopWait) == std::future_status::ready)
    worker.join();
  else
    worker.detach();
}
}  // namespace

void TComm::ClosePort() {
  if (!session_) return;
  const std::shared_ptr<Session> session = std::move(session_);
  session->owner = nullptr;
  // What the program has handed over goes out first, as far as the line
  // takes it in a short while: the finishing command of a firmware upgrade,
  // sent just before a new search closes the port, must not be thrown away.
  const auto deadline = std::chrono::steady_clock::now() + kCloseDrainTime;
  const auto pending = [&session] { return !session->sendIdle || session->device->OutputPending(); };
  while (pending() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  session->outputDrained = !pending();
  Signal(session->closeEvent);
  session->device->PurgeInput();
  StopWorker(reader_, session->readerExit);
  if (!session->outputDrained) session->device->PurgeOutput();
  session->sendIdle = true;
  StopWorker(writer_, session->writerExit);
}

bool TComm::SendData(const uint8_t* data, uint16_t count) {
  if (!session_ || count == 0) return false;
  QueuedBlock block;
  try {
    block.bytes = std::make_unique<uint8_t[]>(count + 1u);
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::memcpy(block.bytes.get(), data, count);
  block.count = count;
  {
    std::lock_guard lock(session_->queueMutex);
    session_->queue.push_back(std::move(block));
    session_->sendIdle = false;
  }
  Signal(session_->queueEvent);
  return true;
}

bool TComm::SendIdle() const { return !session_ || session_->sendIdle; }

TComm::AppliedLineInfo TComm::AppliedLine() const {
  if (!session_) return {0, 0, 0, TParity::None};
  const auto line = session_->device->ReadAppliedLine();
  return {line.baudRate, line.dataBits, line.stopBits, line.parity};
}

}  // namespace velkor
