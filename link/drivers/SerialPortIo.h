#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/FtDriver.h"

namespace vxa {

// What the program asked of a serial line, in the vendor's numbers, kept so that a reset can put
// it all back. Each platform's port turns it into its own settings.
struct LineSettings {
  uint8_t wordLength = kFtBits8;
  uint8_t stopBits = kFtStopBits1;
  uint8_t parity = kFtParityNone;
  uint16_t flow = kFtFlowNone;
  uint8_t xon = 0x11;
  uint8_t xoff = 0x13;
  uint32_t baud = 0;  // 0: leave the port's speed alone
};

// A system call that failed on an open port: the system's own number (errno, or GetLastError on
// Windows; 0 when nothing failed) and what was being done.
struct PortError {
  unsigned long code = 0;
  const char* operation = "";
  explicit operator bool() const { return code != 0; }
};

// Where a port is. `path` is a device node or a COM port's name ("COM5").
struct PortLocation {
  std::string path;
  // "ttyUSB0" when the kernel's usb-serial layer serves the port: its latency timer is then
  // reachable through sysfs. Empty for anything else.
  std::string ttyName{};
  std::string sysRoot = "/sys";
};

// One open port of the system: the calls a serial line is made of, one file per platform
// (SerialPortIoPosix.cpp, SerialPortIoWindows.cpp). They know nothing of the vendor's statuses
// or of the program's texts: SerialLine gives their results that meaning. Calls come from one
// thread at a time; destroying the port closes it and lets other programs have it.
class SerialPortIo {
 public:
  virtual ~SerialPortIo() = default;

  // The line as asked, the speed included when it is not 0. Returns 0 or the system's error.
  virtual unsigned long Apply(const LineSettings& line) = 0;
  // The speed the port runs at now: a driver may settle for another than asked.
  virtual unsigned long Speed(uint32_t* baud) = 0;
  // Best effort: a port without a latency timer answers 0. Fails only when the port is gone.
  virtual unsigned long SetLatency(uint8_t milliseconds) = 0;
  // The nearest a port has to the bridge's USB transfer sizes; a driver may ignore it.
  virtual void SetQueueSizes(uint32_t in, uint32_t out) = 0;
  // The modem lines in the vendor's bits; a port without modem lines reads them all as low.
  virtual unsigned long ModemLines(uint32_t* lines) = 0;
  virtual unsigned long Flush(bool input, bool output) = 0;
  // Up to `count` bytes, ending at the timeout (0: none) with what went out or arrived.
  virtual PortError Write(const uint8_t* bytes, uint32_t count, uint32_t timeoutMs,
                          uint32_t* written) = 0;
  virtual PortError Read(uint8_t* bytes, uint32_t count, uint32_t timeoutMs, uint32_t* read) = 0;
  // Bytes waiting in the system's input and output queues.
  virtual PortError Queues(uint32_t* input, uint32_t* output) = 0;
  // From another thread: the Read or Write in flight returns at once with what it has moved, and
  // every later one at once too.
  virtual void Abort() = 0;
};

namespace serial {

// What a failure means for the program: the status the link expects, and a sentence that names
// the cause and what to do about it, with its kind.
struct Failure {
  FtStatus status = kFtOk;
  std::string text;
  BridgeCause cause = BridgeCause::kOther;
};

// Opens the port exclusively (no other program may use it while it is open) and makes it raw.
// Null with the reason on failure. One definition per platform.
std::unique_ptr<SerialPortIo> OpenPort(const PortLocation& where, Failure* failure);
// Opening `port` failed with the system's `code`, or making it a port did.
Failure DescribeOpenFailure(unsigned long code, const std::string& port);
// A call failed with `code` on the open `port`: the port is gone, or the system says why. A
// `setting` of the line that the port refuses is one it does not support.
Failure DescribeIoFailure(unsigned long code, const std::string& port, bool setting);
// The device behind the port is gone: unplugged bridge, or the far side of a pseudo-terminal
// closed. Nothing done on the port will work again.
bool IsGone(unsigned long code);
// The system's own words for `code`.
std::string SystemErrorText(unsigned long code);
// What the messages call the kind of port this platform has.
extern const char* const kPortKind;

}  // namespace serial
}  // namespace vxa
