// The serial line on a Linux port: termios and the tty ioctls, with poll() deadlines in real time.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "base/Deadline.h"
#include "base/UniqueFd.h"
#include "link/drivers/SerialPortIo.h"
#include "link/drivers/SerialSpeed.h"

namespace vxa {
namespace {

// A pseudo-terminal has no modem lines and no serial driver behind it; a real port does.
bool IsNotASerialDriver(int err) {
  return err == ENOTTY || err == EINVAL;
}

void SetCharacterFormat(const LineSettings& line, struct termios* tio) {
  tio->c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
  tio->c_cflag |= line.wordLength == kFtBits7 ? CS7 : CS8;
  if (line.stopBits == kFtStopBits2) tio->c_cflag |= CSTOPB;
  switch (line.parity) {
    case kFtParityOdd:
      tio->c_cflag |= PARENB | PARODD;
      break;
    case kFtParityEven:
      tio->c_cflag |= PARENB;
      break;
    case kFtParityMark:
      tio->c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case kFtParitySpace:
      tio->c_cflag |= PARENB | CMSPAR;
      break;
    default:
      break;
  }
}

class PosixPort final : public SerialPortIo {
 public:
  PosixPort(UniqueFd fd, UniqueFd wake, PortLocation where)
      : fd_(std::move(fd)), wake_(std::move(wake)), where_(std::move(where)) {}
  // The exclusive flag outlives the descriptor: a port the far side keeps open (the simulator,
  // a real instrument's tty while anything holds it) would stay closed to every program but
  // root's after this one. The advisory lock goes with the descriptor.
  ~PosixPort() override { ::ioctl(fd_.Get(), TIOCNXCL); }
  PosixPort(const PosixPort&) = delete;
  PosixPort& operator=(const PosixPort&) = delete;

  unsigned long Apply(const LineSettings& line) override;
  unsigned long Speed(uint32_t* baud) override {
    const int err = serial::GetLineSpeed(fd_.Get(), baud);
    return static_cast<unsigned long>(err);
  }
  unsigned long SetLatency(uint8_t milliseconds) override;
  void SetQueueSizes(uint32_t, uint32_t) override {}  // the kernel driver chooses its own
  unsigned long ModemLines(uint32_t* lines) override;
  unsigned long Flush(bool input, bool output) override {
    const int queue = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
    return ::tcflush(fd_.Get(), queue) != 0 ? static_cast<unsigned long>(errno) : 0;
  }
  PortError Write(const uint8_t* bytes, uint32_t count, uint32_t timeoutMs,
                  uint32_t* written) override;
  PortError Read(uint8_t* bytes, uint32_t count, uint32_t timeoutMs, uint32_t* read) override;
  PortError Queues(uint32_t* input, uint32_t* output) override;
  void Abort() override {
    aborted_.store(true);
    ::eventfd_write(wake_.Get(), 1);  // never read back: every later wait ends at once
  }

 private:
  // Waits for `events` on the port, to the deadline or an abort: poll()'s result, with how the
  // port is ready in `revents`.
  int Wait(short events, const Deadline& deadline, short* revents) {
    pollfd waitFor[2] = {{fd_.Get(), events, 0}, {wake_.Get(), POLLIN, 0}};
    const int ready = ::poll(waitFor, 2, PollTimeoutMs(deadline));
    *revents = waitFor[0].revents;
    return ready;
  }
  static PortError Errno(const char* operation) {
    return {static_cast<unsigned long>(errno), operation};
  }
  bool SetLatencyThroughSysfs(uint8_t milliseconds);

  UniqueFd fd_;
  UniqueFd wake_;  // an eventfd in every wait, written by Abort
  std::atomic<bool> aborted_{false};
  const PortLocation where_;
};

unsigned long PosixPort::Apply(const LineSettings& line) {
  struct termios tio {};
  if (::tcgetattr(fd_.Get(), &tio) != 0) return static_cast<unsigned long>(errno);
  ::cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  SetCharacterFormat(line, &tio);
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  if (line.flow == kFtFlowRtsCts) tio.c_cflag |= CRTSCTS;
  if (line.flow == kFtFlowXonXoff) {
    tio.c_iflag |= IXON | IXOFF;
    tio.c_cc[VSTART] = line.xon;
    tio.c_cc[VSTOP] = line.xoff;
  }
  // The descriptor is non-blocking and every wait is a poll() with the program's own deadline.
  // VMIN 1 makes an empty queue read as EAGAIN; with VMIN 0 it would read as 0, which is what a
  // hang-up looks like.
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (::tcsetattr(fd_.Get(), TCSANOW, &tio) != 0) return static_cast<unsigned long>(errno);
  if (line.baud == 0) return 0;
  return static_cast<unsigned long>(serial::SetLineSpeed(fd_.Get(), line.baud));
}

bool PosixPort::SetLatencyThroughSysfs(uint8_t milliseconds) {
  if (where_.ttyName.empty()) return false;
  const std::string file =
      where_.sysRoot + "/bus/usb-serial/devices/" + where_.ttyName + "/latency_timer";
  UniqueFd out(::open(file.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
  if (!out.IsOpen()) return false;  // usually writable by root or a udev rule only
  char text[8];
  const int length = std::snprintf(text, sizeof text, "%u\n", unsigned{milliseconds});
  return ::write(out.Get(), text, static_cast<size_t>(length)) == length;
}

unsigned long PosixPort::SetLatency(uint8_t milliseconds) {
  if (SetLatencyThroughSysfs(milliseconds)) return 0;
  // Without write access to sysfs an ordinary user can still ask ftdi_sio for low latency,
  // which gives 1 ms: shorter than asked, never longer.
  struct serial_struct info {};
  if (::ioctl(fd_.Get(), TIOCGSERIAL, &info) != 0) {
    const int err = errno;
    // A pseudo-terminal has no latency timer; answers are only slower otherwise.
    return serial::IsGone(static_cast<unsigned long>(err)) ? static_cast<unsigned long>(err) : 0;
  }
  info.flags |= ASYNC_LOW_LATENCY;
  if (::ioctl(fd_.Get(), TIOCSSERIAL, &info) != 0) {
    const int err = errno;
    return serial::IsGone(static_cast<unsigned long>(err)) ? static_cast<unsigned long>(err) : 0;
  }
  return 0;
}

unsigned long PosixPort::ModemLines(uint32_t* lines) {
  int bits = 0;
  if (::ioctl(fd_.Get(), TIOCMGET, &bits) != 0) {
    const int err = errno;
    // A pseudo-terminal has no modem lines: all of them read as low, which is no failure.
    return IsNotASerialDriver(err) ? 0 : static_cast<unsigned long>(err);
  }
  if (bits & TIOCM_CTS) *lines |= kFtModemCts;
  if (bits & TIOCM_DSR) *lines |= kFtModemDsr;
  if (bits & TIOCM_RNG) *lines |= kFtModemRing;
  if (bits & TIOCM_CAR) *lines |= kFtModemDcd;
  return 0;
}

PortError PosixPort::Write(const uint8_t* bytes, uint32_t count, uint32_t timeoutMs,
                           uint32_t* written) {
  const Deadline deadline = DeadlineAfter(timeoutMs);
  while (*written < count && !aborted_.load()) {
    const ssize_t n = ::write(fd_.Get(), bytes + *written, count - *written);
    if (n > 0) {
      *written += static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return Errno("write");
    // The kernel's buffer is full (flow control held, or the far side does not read).
    short revents = 0;
    const int ready = Wait(POLLOUT, deadline, &revents);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return Errno("waiting to write");
    }
    if (aborted_.load()) break;
    if (ready == 0) {
      if (Expired(deadline)) break;  // as the vendor's library: success, fewer bytes written
      continue;
    }
    if ((revents & POLLOUT) == 0) return {EIO, "write"};
  }
  return {};
}

PortError PosixPort::Read(uint8_t* bytes, uint32_t count, uint32_t timeoutMs, uint32_t* read) {
  const Deadline deadline = DeadlineAfter(timeoutMs);
  while (*read < count && !aborted_.load()) {
    const ssize_t n = ::read(fd_.Get(), bytes + *read, count - *read);
    if (n > 0) {
      *read += static_cast<uint32_t>(n);
      continue;
    }
    // End of file on a terminal is a hang-up: nothing more will come, what arrived is the answer.
    if (n == 0) break;
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return Errno("read");
    short revents = 0;
    const int ready = Wait(POLLIN, deadline, &revents);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return Errno("waiting to read");
    }
    if (aborted_.load()) break;
    if (ready == 0) {
      if (Expired(deadline)) break;
      continue;
    }
    // Hung up with nothing left to read: waiting longer would only spin.
    if ((revents & POLLIN) == 0) break;
  }
  return {};
}

PortError PosixPort::Queues(uint32_t* input, uint32_t* output) {
  int waitingIn = 0;
  if (::ioctl(fd_.Get(), FIONREAD, &waitingIn) != 0) return Errno("status (input queue)");
  int waitingOut = 0;
  if (::ioctl(fd_.Get(), TIOCOUTQ, &waitingOut) != 0) return Errno("status (output queue)");
  *input = static_cast<uint32_t>(waitingIn);
  *output = static_cast<uint32_t>(waitingOut);
  return {};
}

}  // namespace

namespace serial {

const char* const kPortKind = "Linux serial port";

std::unique_ptr<SerialPortIo> OpenPort(const PortLocation& where, Failure* failure) {
  UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wake.IsOpen()) {
    *failure = DescribeOpenFailure(static_cast<unsigned long>(errno), where.path);
    return nullptr;
  }
  UniqueFd fd(::open(where.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.IsOpen()) {
    *failure = DescribeOpenFailure(static_cast<unsigned long>(errno), where.path);
    return nullptr;
  }
  // One program per port: a second one on the same bridge would interleave packets with ours.
  // The lock first, which root does not pass either; only the holder of the lock sets the
  // exclusive flag (which keeps out even programs that take no lock) and clears it again.
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd.Get(), TIOCEXCL) != 0) {
    *failure = DescribeOpenFailure(static_cast<unsigned long>(errno), where.path);
    return nullptr;
  }
  return std::make_unique<PosixPort>(std::move(fd), std::move(wake), where);
}

}  // namespace serial
}  // namespace vxa
