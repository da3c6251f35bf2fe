#include "link/drivers/ComPortDevice.h"

#include <windows.h>

#include <chrono>

#include "base/Deadline.h"
#include "base/WindowsText.h"
#include "text/Messages.h"

namespace vxa {
namespace {

// With no read timeout set, a read waits in slices of this length (the port's own timeout needs
// a number) until the bytes are there.
constexpr unsigned long kUnlimitedReadSliceMs = 1000;

// A port may settle for a rate near the one asked; further off is a refusal.
constexpr uint32_t kSpeedTolerancePerMille = 10;

// Windows' DCB counts stop bits and parity with the vendor's numbers (ONESTOPBIT 0, TWOSTOPBITS 2;
// NOPARITY 0 .. SPACEPARITY 4), and its modem status bits are the bridge's (MS_CTS_ON 0x10 ..
// MS_RLSD_ON 0x80).
static_assert(TWOSTOPBITS == kFtStopBits2 && SPACEPARITY == kFtParitySpace && MS_CTS_ON == kFtModemCts);

// Writing stopped at the port's write timeout: that is no failure, just fewer bytes written.
bool IsTimeout(unsigned long error) {
  return error == ERROR_SEM_TIMEOUT || error == ERROR_TIMEOUT;
}

std::string DevicePath(const std::string& port) {
  return port.starts_with("\\\\") ? port : "\\\\.\\" + port;
}

}  // namespace

ComPortDevice::Failure ComPortDevice::Describe(unsigned long systemError,
                                               const std::string& port) {
  switch (systemError) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return {kFtDeviceNotFound, FormatText(VXA_MSG(msg::kComPortMissing), port.c_str())};
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return {kFtDeviceNotOpened, FormatText(VXA_MSG(msg::kComPortBusy), port.c_str())};
    default:
      return {kFtIoError, FormatText(VXA_MSG(msg::kComPortFailed), port.c_str(),
                                     win::SystemErrorText(systemError).c_str())};
  }
}

std::unique_ptr<ComPortDevice> ComPortDevice::Open(const std::string& port, Failure* failure) {
  // No sharing: a second program on the same bridge would interleave packets with ours.
  HANDLE handle = ::CreateFileW(win::Widen(DevicePath(port)).c_str(), GENERIC_READ | GENERIC_WRITE,
                                0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *failure = Describe(::GetLastError(), port);
    if (failure->status == kFtIoError) failure->status = kFtDeviceNotOpened;
    return nullptr;
  }
  std::unique_ptr<ComPortDevice> device(new ComPortDevice(handle, port));
  if (const unsigned long error = device->ApplyLine(Line{}); error != 0) {
    *failure = Describe(error, port);
    if (failure->status == kFtIoError) failure->status = kFtDeviceNotOpened;
    return nullptr;
  }
  return device;
}

ComPortDevice::ComPortDevice(void* handle, std::string port)
    : handle_(handle), port_(std::move(port)) {}

ComPortDevice::~ComPortDevice() {
  if (handle_ != nullptr) ::CloseHandle(handle_);
}

unsigned long ComPortDevice::ApplyLine(const Line& line) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(handle_, &dcb)) return ::GetLastError();
  if (line.baud != 0) dcb.BaudRate = line.baud;
  dcb.fBinary = TRUE;
  dcb.fParity = line.parity != kFtParityNone;
  dcb.Parity = line.parity;
  dcb.ByteSize = line.wordLength;
  dcb.StopBits = line.stopBits;
  const bool rtsCts = line.flow == kFtFlowRtsCts;
  const bool xonXoff = line.flow == kFtFlowXonXoff;
  dcb.fOutxCtsFlow = rtsCts;
  dcb.fRtsControl = rtsCts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = xonXoff;
  dcb.fInX = xonXoff;
  dcb.XonChar = static_cast<char>(line.xon);
  dcb.XoffChar = static_cast<char>(line.xoff);
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  if (!::SetCommState(handle_, &dcb)) return ::GetLastError();
  line_ = line;
  return 0;
}

FtStatus ComPortDevice::ApplyOrFail(const Line& line) {
  if (handle_ == nullptr) return NotOpen();
  if (const unsigned long error = ApplyLine(line); error != 0) return Fail(error);
  return kFtOk;
}

FtStatus ComPortDevice::Fail(unsigned long systemError) {
  Failure failure = Describe(systemError, port_);
  if (failure.status == kFtDeviceNotFound) failure.status = kFtIoError;  // it was there before
  error_.Set(std::move(failure.text));
  return failure.status;
}

FtStatus ComPortDevice::NotOpen() {
  error_.Set(FormatText(VXA_MSG(msg::kComPortFailed), port_.c_str(),
                        win::SystemErrorText(ERROR_INVALID_HANDLE).c_str()));
  return kFtInvalidHandle;
}

bool ComPortDevice::SetReadWait(unsigned long readMs) {
  if (timeoutsSet_ && readMs == readWaitMs_) return true;
  // MAXDWORD/MAXDWORD/n: a read returns at once with what has arrived, or waits at most n ms for
  // the first byte. MAXDWORD/0/0: it returns at once in any case.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = readMs == 0 ? 0 : MAXDWORD;
  timeouts.ReadTotalTimeoutConstant = readMs;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = writeTimeoutMs_;
  if (!::SetCommTimeouts(handle_, &timeouts)) return false;
  readWaitMs_ = readMs;
  timeoutsSet_ = true;
  return true;
}

FtStatus ComPortDevice::ResetDevice() {
  // Windows has no reset request for the bridge either: nothing stale in the queues, and the line
  // exactly as the program set it.
  if (handle_ == nullptr) return NotOpen();
  if (!::PurgeComm(handle_, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR)) {
    return Fail(::GetLastError());
  }
  return ApplyOrFail(line_);
}

FtStatus ComPortDevice::SetLatencyTimer(uint8_t milliseconds) {
  // The vendor's COM port driver keeps its latency timer in the port's settings in the registry;
  // a program cannot change it through the port. Answers are only slower, never lost.
  if (handle_ == nullptr) return NotOpen();
  return CheckLatencyTimer(milliseconds, error_);
}

FtStatus ComPortDevice::SetUSBParameters(uint32_t inTransferSize, uint32_t outTransferSize) {
  if (handle_ == nullptr) return NotOpen();
  // The nearest thing a port has: the size of the driver's queues. A driver may ignore it.
  ::SetupComm(handle_, inTransferSize, outTransferSize);
  return kFtOk;
}

FtStatus ComPortDevice::SetTimeouts(uint32_t readTimeoutMs, uint32_t writeTimeoutMs) {
  if (handle_ == nullptr) return NotOpen();
  readTimeoutMs_ = readTimeoutMs;
  if (writeTimeoutMs != writeTimeoutMs_) timeoutsSet_ = false;
  writeTimeoutMs_ = writeTimeoutMs;
  return kFtOk;
}

FtStatus ComPortDevice::SetDataCharacteristics(uint8_t wordLength, uint8_t stopBits,
                                               uint8_t parity) {
  if (handle_ == nullptr) return NotOpen();
  if (const FtStatus status = CheckLineFormat(wordLength, stopBits, parity, error_);
      status != kFtOk) {
    return status;
  }
  Line line = line_;
  line.wordLength = wordLength;
  line.stopBits = stopBits;
  line.parity = parity;
  return ApplyOrFail(line);
}

FtStatus ComPortDevice::GetModemStatus(uint32_t* modemStatus) {
  if (modemStatus == nullptr) return kFtInvalidParameter;
  *modemStatus = 0;
  if (handle_ == nullptr) return NotOpen();
  DWORD lines = 0;
  if (!::GetCommModemStatus(handle_, &lines)) {
    const unsigned long error = ::GetLastError();
    // A port without modem lines (Wine's port on a pseudo-terminal says "not supported"): all of
    // them read as low, which is no failure.
    if (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION) return kFtOk;
    return Fail(error);
  }
  *modemStatus = lines & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
  return kFtOk;
}

FtStatus ComPortDevice::SetFlowControl(uint16_t mode, uint8_t xon, uint8_t xoff) {
  if (handle_ == nullptr) return NotOpen();
  if (mode == kFtFlowDtrDsr) return kFtNotSupported;
  if (mode != kFtFlowNone && mode != kFtFlowRtsCts && mode != kFtFlowXonXoff) {
    return RefuseFlowControl(error_);
  }
  Line line = line_;
  line.flow = mode;
  line.xon = xon;
  line.xoff = xoff;
  return ApplyOrFail(line);
}

FtStatus ComPortDevice::SetDivisor(uint16_t divisor) {
  if (handle_ == nullptr) return NotOpen();
  Line line = line_;
  line.baud = BaudRateOfDivisor(divisor);
  if (const FtStatus status = ApplyOrFail(line); status != kFtOk) return status;
  // The driver may have settled for another rate than asked: read back what the port runs at.
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(handle_, &dcb)) return Fail(::GetLastError());
  const uint64_t asked = line.baud;
  const uint64_t got = dcb.BaudRate;
  const uint64_t off = asked > got ? asked - got : got - asked;
  if (off * 1000 > asked * kSpeedTolerancePerMille) return kFtInvalidBaudRate;
  return kFtOk;
}

FtStatus ComPortDevice::Purge(uint32_t mask) {
  if (handle_ == nullptr) return NotOpen();
  if (const FtStatus status = CheckPurgeMask(mask, error_); status != kFtOk) return status;
  DWORD flags = 0;
  if (mask & kFtPurgeRx) flags |= PURGE_RXABORT | PURGE_RXCLEAR;
  if (mask & kFtPurgeTx) flags |= PURGE_TXABORT | PURGE_TXCLEAR;
  if (flags != 0 && !::PurgeComm(handle_, flags)) return Fail(::GetLastError());
  return kFtOk;
}

FtStatus ComPortDevice::Write(const void* buffer, uint32_t count, uint32_t* written) {
  if (written == nullptr || (buffer == nullptr && count > 0)) return kFtInvalidParameter;
  *written = 0;
  if (handle_ == nullptr) return NotOpen();
  if (!SetReadWait(readWaitMs_)) return Fail(::GetLastError());
  DWORD done = 0;
  if (!::WriteFile(handle_, buffer, count, &done, nullptr)) {
    const unsigned long error = ::GetLastError();
    *written = done;
    // As the vendor's library: a write that runs into its timeout succeeds with fewer bytes.
    if (IsTimeout(error)) return kFtOk;
    return Fail(error);
  }
  *written = done;
  return kFtOk;
}

FtStatus ComPortDevice::Read(void* buffer, uint32_t count, uint32_t* read) {
  if (read == nullptr || (buffer == nullptr && count > 0)) return kFtInvalidParameter;
  *read = 0;
  if (handle_ == nullptr) return NotOpen();
  auto* bytes = static_cast<uint8_t*>(buffer);
  const Deadline deadline = DeadlineAfter(readTimeoutMs_);
  uint32_t got = 0;
  while (got < count) {
    // The port's own timeout may end a wait a little early: the deadline is ours, and the loop
    // goes on until it has passed. The last round only takes what is there.
    const unsigned long wait =
        deadline ? static_cast<unsigned long>(PollTimeoutMs(deadline)) : kUnlimitedReadSliceMs;
    if (!SetReadWait(wait)) {
      *read = got;
      return Fail(::GetLastError());
    }
    DWORD n = 0;
    if (!::ReadFile(handle_, bytes + got, count - got, &n, nullptr)) {
      const unsigned long error = ::GetLastError();
      *read = got + n;
      if (IsTimeout(error)) return kFtOk;
      return Fail(error);
    }
    got += n;
    if (n == 0 && wait == 0) break;
  }
  *read = got;
  return kFtOk;
}

FtStatus ComPortDevice::GetStatus(uint32_t* rxQueue, uint32_t* txQueue, uint32_t* eventStatus) {
  if (rxQueue == nullptr || txQueue == nullptr || eventStatus == nullptr) {
    return kFtInvalidParameter;
  }
  *rxQueue = *txQueue = *eventStatus = 0;
  if (handle_ == nullptr) return NotOpen();
  DWORD errors = 0;
  COMSTAT status{};
  if (!::ClearCommError(handle_, &errors, &status)) return Fail(::GetLastError());
  *rxQueue = status.cbInQue;
  *txQueue = status.cbOutQue;
  return kFtOk;
}

FtStatus ComPortDevice::Close() {
  if (handle_ == nullptr) return NotOpen();
  ::CloseHandle(handle_);
  handle_ = nullptr;
  return kFtOk;
}

}  // namespace vxa
