// The serial line on a Windows COM port (the vendor's virtual COM port driver, or any port that
// carries the instrument's line): DCB and COMMTIMEOUTS.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>

#include "base/Deadline.h"
#include "base/WindowsText.h"
#include "link/drivers/SerialPortIo.h"
#include "text/Messages.h"

namespace vxa {
namespace {

// A read waits in slices of at most this length, with or without a read timeout of its own.
constexpr unsigned long kReadSliceMs = 100;
// After a round that came back empty without waiting, the next waits this long first.
constexpr unsigned long kEmptyReadPauseMs = 10;

// Windows' DCB counts stop bits and parity with the vendor's numbers (ONESTOPBIT 0, TWOSTOPBITS 2;
// NOPARITY 0 .. SPACEPARITY 4), and its modem status bits are the bridge's (MS_CTS_ON 0x10 ..
// MS_RLSD_ON 0x80).
static_assert(TWOSTOPBITS == kFtStopBits2 && SPACEPARITY == kFtParitySpace &&
              MS_CTS_ON == kFtModemCts);

// Writing stopped at the port's write timeout: that is no failure, just fewer bytes written.
bool IsTimeout(unsigned long error) {
  return error == ERROR_SEM_TIMEOUT || error == ERROR_TIMEOUT;
}

std::string DevicePath(const std::string& port) {
  return port.starts_with("\\\\") ? port : "\\\\.\\" + port;
}

// Which program has the port, as a named object that lives as long as some program holds a
// handle of it. Windows' own serial driver allows one open of a port at a time, but a driver may
// not (Wine's ports on pseudo-terminals do not), and the program must not share the line with a
// second copy of itself.
HANDLE ClaimPort(const std::string& port) {
  std::string name = "Global\\vxa4410-port-";
  for (const char c : port)
    name += c == '\\' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  HANDLE claim = ::CreateMutexW(nullptr, FALSE, win::Widen(name).c_str());
  if (claim != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(claim);
    ::SetLastError(ERROR_SHARING_VIOLATION);
    return nullptr;
  }
  return claim;
}

class ComPort final : public SerialPortIo {
 public:
  ComPort(HANDLE handle, HANDLE claim, HANDLE wake) : handle_(handle), claim_(claim), wake_(wake) {}
  ~ComPort() override {
    ::CloseHandle(handle_);
    ::CloseHandle(claim_);
    ::CloseHandle(wake_);
  }
  ComPort(const ComPort&) = delete;
  ComPort& operator=(const ComPort&) = delete;

  unsigned long Apply(const LineSettings& line) override;
  unsigned long Speed(uint32_t* baud) override {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(handle_, &dcb)) return ::GetLastError();
    *baud = dcb.BaudRate;
    return 0;
  }
  // The vendor's COM port driver keeps its latency timer in the port's settings in the registry;
  // a program cannot change it through the port. Answers are only slower, never lost.
  unsigned long SetLatency(uint8_t) override { return 0; }
  void SetQueueSizes(uint32_t in, uint32_t out) override { ::SetupComm(handle_, in, out); }
  unsigned long ModemLines(uint32_t* lines) override;
  unsigned long Flush(bool input, bool output) override {
    DWORD flags = 0;
    if (input) flags |= PURGE_RXABORT | PURGE_RXCLEAR;
    if (output) flags |= PURGE_TXABORT | PURGE_TXCLEAR;
    return ::PurgeComm(handle_, flags) ? 0 : ::GetLastError();
  }
  PortError Write(const uint8_t* bytes, uint32_t count, uint32_t timeoutMs,
                  uint32_t* written) override;
  PortError Read(uint8_t* bytes, uint32_t count, uint32_t timeoutMs, uint32_t* read) override;
  void Abort() override {
    aborted_.store(true);
    ::SetEvent(wake_);
    // Ends the ReadFile or WriteFile in flight on the other thread; one that starts after this
    // sees the flag first, or ends within a slice.
    ::CancelIoEx(handle_, nullptr);
  }
  PortError Queues(uint32_t* input, uint32_t* output) override {
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(handle_, &errors, &status)) return {::GetLastError(), "status"};
    *input = status.cbInQue;
    *output = status.cbOutQue;
    return {};
  }

 private:
  // Gives the port the timeouts of the next ReadFile or WriteFile, if they differ from the last.
  bool SetWaits(unsigned long readMs, unsigned long writeMs);

  HANDLE handle_;
  HANDLE claim_;
  HANDLE wake_;  // set by Abort: ends the pause of a read
  std::atomic<bool> aborted_{false};
  bool waitsSet_ = false;
  unsigned long readWaitMs_ = 0;  // as last given to the port
  unsigned long writeWaitMs_ = 0;
};

unsigned long ComPort::Apply(const LineSettings& line) {
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
  return ::SetCommState(handle_, &dcb) ? 0 : ::GetLastError();
}

unsigned long ComPort::ModemLines(uint32_t* lines) {
  DWORD bits = 0;
  if (!::GetCommModemStatus(handle_, &bits)) {
    const unsigned long error = ::GetLastError();
    // A port without modem lines (Wine's port on a pseudo-terminal says "not supported"): all of
    // them read as low, which is no failure.
    if (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION) return 0;
    return error;
  }
  *lines = bits & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
  return 0;
}

bool ComPort::SetWaits(unsigned long readMs, unsigned long writeMs) {
  if (waitsSet_ && readMs == readWaitMs_ && writeMs == writeWaitMs_) return true;
  // MAXDWORD/MAXDWORD/n: a read returns at once with what has arrived, or waits at most n ms for
  // the first byte. MAXDWORD/0/0: it returns at once in any case.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = readMs == 0 ? 0 : MAXDWORD;
  timeouts.ReadTotalTimeoutConstant = readMs;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = writeMs;
  waitsSet_ = ::SetCommTimeouts(handle_, &timeouts);
  readWaitMs_ = readMs;
  writeWaitMs_ = writeMs;
  return waitsSet_;
}

PortError ComPort::Write(const uint8_t* bytes, uint32_t count, uint32_t timeoutMs,
                         uint32_t* written) {
  if (aborted_.load()) return {};
  if (!SetWaits(readWaitMs_, timeoutMs)) return {::GetLastError(), "write"};
  DWORD done = 0;
  const bool ok = ::WriteFile(handle_, bytes, count, &done, nullptr);
  const unsigned long error = ok ? 0 : ::GetLastError();
  *written = done;
  if (ok || IsTimeout(error) || aborted_.load()) return {};
  return {error, "write"};
}

PortError ComPort::Read(uint8_t* bytes, uint32_t count, uint32_t timeoutMs, uint32_t* read) {
  const Deadline deadline = DeadlineAfter(timeoutMs);
  bool emptyAtOnce = false;
  while (*read < count && !aborted_.load()) {
    // Whether the port is still there, before every wait: under Wine a port whose far side hung
    // up answers a read with nothing, over and over within ReadFile, for the whole of its wait;
    // asked what it holds, it fails, and the read ends as a link failure. The waits are slices,
    // so that a hang-up is noticed within one.
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(handle_, &errors, &status)) return {::GetLastError(), "read"};
    // A read that came back empty long before its wait had run out did not wait at all: never
    // let that turn into a spin.
    if (emptyAtOnce && ::WaitForSingleObject(wake_, kEmptyReadPauseMs) == WAIT_OBJECT_0) break;
    // The port's own timeout may end a wait a little early: the deadline is ours, and the loop
    // goes on until it has passed. The last round only takes what is there.
    const int left = deadline ? PollTimeoutMs(deadline) : static_cast<int>(kReadSliceMs);
    const unsigned long wait = std::min(static_cast<unsigned long>(left), kReadSliceMs);
    if (!SetWaits(wait, writeWaitMs_)) return {::GetLastError(), "read"};
    DWORD n = 0;
    const SteadyClock::time_point started = SteadyClock::now();
    if (!::ReadFile(handle_, bytes + *read, count - *read, &n, nullptr)) {
      const unsigned long error = ::GetLastError();
      *read += n;
      if (IsTimeout(error) || aborted_.load()) return {};
      return {error, "read"};
    }
    *read += n;
    if (n == 0 && wait == 0) break;
    emptyAtOnce = n == 0 && SteadyClock::now() - started < std::chrono::milliseconds(wait / 2);
  }
  return {};
}

}  // namespace

namespace serial {

const char* const kPortKind = "COM port";

bool IsGone(unsigned long code) {
  return code == ERROR_GEN_FAILURE || code == ERROR_DEVICE_NOT_CONNECTED ||
         code == ERROR_DEVICE_REMOVED || code == ERROR_BAD_COMMAND;
}

std::string SystemErrorText(unsigned long code) {
  return win::SystemErrorText(code);
}

Failure DescribeOpenFailure(unsigned long code, const std::string& port) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return {kFtDeviceNotFound, FormatText(VXA_MSG(msg::kComPortMissing), port.c_str()),
              BridgeCause::kNoSuchPort};
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return {kFtDeviceNotOpened, FormatText(VXA_MSG(msg::kComPortBusy), port.c_str()),
              BridgeCause::kBusy};
    default:
      return {kFtDeviceNotOpened, FormatText(VXA_MSG(msg::kComPortFailed), port.c_str(),
                                             SystemErrorText(code).c_str())};
  }
}

std::unique_ptr<SerialPortIo> OpenPort(const PortLocation& where, Failure* failure) {
  // One program per port: a second one on the same bridge would interleave packets with ours.
  // The claim first, then the port without sharing.
  HANDLE wake = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (wake == nullptr) {
    *failure = DescribeOpenFailure(::GetLastError(), where.path);
    return nullptr;
  }
  HANDLE claim = ClaimPort(where.path);
  if (claim == nullptr) {
    *failure = DescribeOpenFailure(::GetLastError(), where.path);
    ::CloseHandle(wake);
    return nullptr;
  }
  HANDLE handle =
      ::CreateFileW(win::Widen(DevicePath(where.path)).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *failure = DescribeOpenFailure(::GetLastError(), where.path);
    ::CloseHandle(claim);
    ::CloseHandle(wake);
    return nullptr;
  }
  return std::make_unique<ComPort>(handle, claim, wake);
}

}  // namespace serial
}  // namespace vxa
