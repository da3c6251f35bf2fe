#include "link/drivers/SerialPortDevice.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "base/Deadline.h"
#include "link/drivers/SerialSpeed.h"

namespace vxa {
namespace {

// A kernel may round a custom rate to what its divisor can make; more than this is a refusal
// (an FT232R answers a rate it cannot make by falling back to 9600).
constexpr uint32_t kSpeedTolerancePerMille = 10;

// A pseudo-terminal has no modem lines and no serial driver behind it; a real port does.
bool IsNotASerialDriver(int err) {
  return err == ENOTTY || err == EINVAL;
}

}  // namespace

std::unique_ptr<SerialPortDevice> SerialPortDevice::Open(const Location& where,
                                                         serial::Failure* failure) {
  UniqueFd fd(::open(where.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.IsOpen()) {
    *failure = serial::DescribeOpenFailure(errno, where.path);
    return nullptr;
  }
  // Exclusive: a second program on the same bridge would interleave packets with ours.
  if (::ioctl(fd.Get(), TIOCEXCL) != 0) {
    *failure = serial::DescribeOpenFailure(errno, where.path);
    return nullptr;
  }
  std::unique_ptr<SerialPortDevice> device(new SerialPortDevice(std::move(fd), where));
  if (const int err = device->ApplyLine(Line{}); err != 0) {
    *failure = serial::DescribeOpenFailure(err, where.path);
    return nullptr;
  }
  return device;
}

SerialPortDevice::SerialPortDevice(UniqueFd fd, Location where)
    : fd_(std::move(fd)), where_(std::move(where)) {}

int SerialPortDevice::ApplyLine(const Line& line) {
  struct termios tio {};
  if (::tcgetattr(fd_.Get(), &tio) != 0) return errno;
  ::cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
  tio.c_cflag |= line.wordLength == kFtBits7 ? CS7 : CS8;
  if (line.stopBits == kFtStopBits2) tio.c_cflag |= CSTOPB;
  switch (line.parity) {
    case kFtParityOdd:
      tio.c_cflag |= PARENB | PARODD;
      break;
    case kFtParityEven:
      tio.c_cflag |= PARENB;
      break;
    case kFtParityMark:
      tio.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case kFtParitySpace:
      tio.c_cflag |= PARENB | CMSPAR;
      break;
    default:
      break;
  }
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
  if (::tcsetattr(fd_.Get(), TCSANOW, &tio) != 0) return errno;

  if (line.baud != 0) {
    if (const int err = serial::SetLineSpeed(fd_.Get(), line.baud); err != 0) return err;
    uint32_t actual = 0;
    if (const int err = serial::GetLineSpeed(fd_.Get(), &actual); err != 0) return err;
    lineSpeed_ = actual;
  }
  line_ = line;
  return 0;
}

FtStatus SerialPortDevice::ApplyOrFail(const Line& line, const char* what) {
  if (!fd_.IsOpen()) return NotOpen();
  if (const int err = ApplyLine(line); err != 0) return Fail(err, what);
  return kFtOk;
}

FtStatus SerialPortDevice::Fail(int err, const char* operation) {
  return Fail(serial::DescribeIoFailure(err, where_.path, operation));
}

FtStatus SerialPortDevice::Fail(serial::Failure failure) {
  error_.Set(std::move(failure.text));
  return failure.status;
}

FtStatus SerialPortDevice::NotOpen() {
  error_.Set(where_.path + " is closed");
  return kFtInvalidHandle;
}

FtStatus SerialPortDevice::ResetDevice() {
  // The kernel has no reset request for the bridge (opening the port already reset it). What a
  // reset is for here: nothing stale in the queues, and the line exactly as the program set it.
  if (!fd_.IsOpen()) return NotOpen();
  if (::tcflush(fd_.Get(), TCIOFLUSH) != 0) return Fail(errno, "reset (flush)");
  return ApplyOrFail(line_, "reset (settings)");
}

bool SerialPortDevice::SetLatencyThroughSysfs(uint8_t milliseconds) {
  if (where_.ttyName.empty()) return false;
  const std::string file =
      where_.sysRoot + "/bus/usb-serial/devices/" + where_.ttyName + "/latency_timer";
  UniqueFd out(::open(file.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
  if (!out.IsOpen()) return false;  // usually writable by root or a udev rule only
  char text[8];
  const int length = std::snprintf(text, sizeof text, "%u\n", unsigned{milliseconds});
  return ::write(out.Get(), text, static_cast<size_t>(length)) == length;
}

FtStatus SerialPortDevice::SetLatencyTimer(uint8_t milliseconds) {
  if (!fd_.IsOpen()) return NotOpen();
  if (const FtStatus status = CheckLatencyTimer(milliseconds, error_); status != kFtOk) {
    return status;
  }
  if (SetLatencyThroughSysfs(milliseconds)) return kFtOk;
  // Without write access to sysfs an ordinary user can still ask ftdi_sio for low latency,
  // which gives 1 ms: shorter than asked, never longer.
  struct serial_struct info {};
  if (::ioctl(fd_.Get(), TIOCGSERIAL, &info) != 0) {
    const int err = errno;
    if (serial::IsGone(err)) return Fail(err, "setting the latency timer");
    return kFtOk;  // a pseudo-terminal has no latency timer; answers are only slower otherwise
  }
  info.flags |= ASYNC_LOW_LATENCY;
  if (::ioctl(fd_.Get(), TIOCSSERIAL, &info) != 0) {
    const int err = errno;
    if (serial::IsGone(err)) return Fail(err, "setting the latency timer");
  }
  return kFtOk;
}

FtStatus SerialPortDevice::SetUSBParameters(uint32_t, uint32_t) {
  // The kernel driver chooses its own USB transfer sizes.
  if (!fd_.IsOpen()) return NotOpen();
  return kFtOk;
}

FtStatus SerialPortDevice::SetTimeouts(uint32_t readTimeoutMs, uint32_t writeTimeoutMs) {
  if (!fd_.IsOpen()) return NotOpen();
  readTimeoutMs_ = readTimeoutMs;
  writeTimeoutMs_ = writeTimeoutMs;
  return kFtOk;
}

FtStatus SerialPortDevice::SetDataCharacteristics(uint8_t wordLength, uint8_t stopBits,
                                                  uint8_t parity) {
  if (!fd_.IsOpen()) return NotOpen();
  if (const FtStatus status = CheckLineFormat(wordLength, stopBits, parity, error_);
      status != kFtOk) {
    return status;
  }
  Line line = line_;
  line.wordLength = wordLength;
  line.stopBits = stopBits;
  line.parity = parity;
  return ApplyOrFail(line, "setting the line format");
}

FtStatus SerialPortDevice::GetModemStatus(uint32_t* modemStatus) {
  if (modemStatus == nullptr) return kFtInvalidParameter;
  *modemStatus = 0;
  if (!fd_.IsOpen()) return NotOpen();
  int lines = 0;
  if (::ioctl(fd_.Get(), TIOCMGET, &lines) != 0) {
    const int err = errno;
    // A pseudo-terminal has no modem lines: all of them read as low, which is no failure.
    if (IsNotASerialDriver(err)) return kFtOk;
    return Fail(err, "reading the modem lines");
  }
  if (lines & TIOCM_CTS) *modemStatus |= kFtModemCts;
  if (lines & TIOCM_DSR) *modemStatus |= kFtModemDsr;
  if (lines & TIOCM_RNG) *modemStatus |= kFtModemRing;
  if (lines & TIOCM_CAR) *modemStatus |= kFtModemDcd;
  return kFtOk;
}

FtStatus SerialPortDevice::SetFlowControl(uint16_t mode, uint8_t xon, uint8_t xoff) {
  if (!fd_.IsOpen()) return NotOpen();
  if (mode == kFtFlowDtrDsr) {
    error_.Set("DTR/DSR flow control is not available on a Linux serial port");
    return kFtNotSupported;
  }
  if (mode != kFtFlowNone && mode != kFtFlowRtsCts && mode != kFtFlowXonXoff) {
    return RefuseFlowControl(error_);
  }
  Line line = line_;
  line.flow = mode;
  line.xon = xon;
  line.xoff = xoff;
  return ApplyOrFail(line, "setting flow control");
}

FtStatus SerialPortDevice::SetDivisor(uint16_t divisor) {
  if (!fd_.IsOpen()) return NotOpen();
  Line line = line_;
  line.baud = BaudRateOfDivisor(divisor);
  if (const FtStatus status = ApplyOrFail(line, "setting the speed"); status != kFtOk) {
    return status;
  }
  // The kernel may have settled for another rate than asked: read back what the port runs at.
  const uint64_t asked = line.baud;
  const uint64_t got = lineSpeed_;
  const uint64_t off = asked > got ? asked - got : got - asked;
  if (off * 1000 > asked * kSpeedTolerancePerMille) {
    error_.Set(where_.path + " does not run at " + std::to_string(asked) + " baud (it reports " +
               std::to_string(got) + ")");
    return kFtInvalidBaudRate;
  }
  return kFtOk;
}

FtStatus SerialPortDevice::Purge(uint32_t mask) {
  if (!fd_.IsOpen()) return NotOpen();
  if (const FtStatus status = CheckPurgeMask(mask, error_); status != kFtOk) return status;
  int queue = 0;
  switch (mask) {
    case kFtPurgeRx:
      queue = TCIFLUSH;
      break;
    case kFtPurgeTx:
      queue = TCOFLUSH;
      break;
    case kFtPurgeRx | kFtPurgeTx:
      queue = TCIOFLUSH;
      break;
    default:
      return kFtOk;
  }
  if (::tcflush(fd_.Get(), queue) != 0) return Fail(errno, "purge");
  return kFtOk;
}

FtStatus SerialPortDevice::Write(const void* buffer, uint32_t count, uint32_t* written) {
  if (written == nullptr || (buffer == nullptr && count > 0)) return kFtInvalidParameter;
  *written = 0;
  if (!fd_.IsOpen()) return NotOpen();
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  const Deadline deadline = DeadlineAfter(writeTimeoutMs_);
  uint32_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(fd_.Get(), bytes + done, count - done);
    if (n > 0) {
      done += static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      *written = done;
      return Fail(errno, "write");
    }
    // The kernel's buffer is full (flow control held, or the far side does not read).
    pollfd waitFor = {fd_.Get(), POLLOUT, 0};
    const int ready = ::poll(&waitFor, 1, PollTimeoutMs(deadline));
    if (ready < 0) {
      if (errno == EINTR) continue;
      *written = done;
      return Fail(errno, "waiting to write");
    }
    if (ready == 0) {
      if (Expired(deadline)) break;  // as the vendor's library: success, fewer bytes written
      continue;
    }
    if ((waitFor.revents & POLLOUT) == 0) {
      *written = done;
      return Fail(EIO, "write");
    }
  }
  *written = done;
  return kFtOk;
}

FtStatus SerialPortDevice::Read(void* buffer, uint32_t count, uint32_t* read) {
  if (read == nullptr || (buffer == nullptr && count > 0)) return kFtInvalidParameter;
  *read = 0;
  if (!fd_.IsOpen()) return NotOpen();
  auto* bytes = static_cast<uint8_t*>(buffer);
  const Deadline deadline = DeadlineAfter(readTimeoutMs_);
  uint32_t got = 0;
  while (got < count) {
    const ssize_t n = ::read(fd_.Get(), bytes + got, count - got);
    if (n > 0) {
      got += static_cast<uint32_t>(n);
      continue;
    }
    // End of file on a terminal is a hang-up: nothing more will come, what arrived is the answer.
    if (n == 0) break;
    if (errno == EINTR) continue;
    if (errno != EAGAIN) {
      *read = got;
      return Fail(errno, "read");
    }
    pollfd waitFor = {fd_.Get(), POLLIN, 0};
    const int ready = ::poll(&waitFor, 1, PollTimeoutMs(deadline));
    if (ready < 0) {
      if (errno == EINTR) continue;
      *read = got;
      return Fail(errno, "waiting to read");
    }
    if (ready == 0) {
      if (Expired(deadline)) break;
      continue;
    }
    // Hung up with nothing left to read: waiting longer would only spin.
    if ((waitFor.revents & POLLIN) == 0) break;
  }
  *read = got;
  return kFtOk;
}

FtStatus SerialPortDevice::GetStatus(uint32_t* rxQueue, uint32_t* txQueue, uint32_t* eventStatus) {
  if (rxQueue == nullptr || txQueue == nullptr || eventStatus == nullptr) {
    return kFtInvalidParameter;
  }
  *rxQueue = *txQueue = *eventStatus = 0;
  if (!fd_.IsOpen()) return NotOpen();
  int waitingIn = 0;
  if (::ioctl(fd_.Get(), FIONREAD, &waitingIn) != 0) return Fail(errno, "status (input queue)");
  int waitingOut = 0;
  if (::ioctl(fd_.Get(), TIOCOUTQ, &waitingOut) != 0) {
    return Fail(errno, "status (output queue)");
  }
  *rxQueue = static_cast<uint32_t>(waitingIn);
  *txQueue = static_cast<uint32_t>(waitingOut);
  return kFtOk;
}

FtStatus SerialPortDevice::Close() {
  if (!fd_.IsOpen()) return NotOpen();
  // A failing close() still releases the descriptor; there is nothing left to retry.
  fd_.Reset();
  return kFtOk;
}

}  // namespace vxa
