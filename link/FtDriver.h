#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/BridgeFault.h"

namespace vxa {

// Status numbers as the bridge vendor's library returns them; 0 is success, anything else failure.
using FtStatus = uint32_t;
enum : FtStatus {
  kFtOk = 0,
  kFtInvalidHandle = 1,
  kFtDeviceNotFound = 2,
  kFtDeviceNotOpened = 3,
  kFtIoError = 4,
  kFtInsufficientResources = 5,
  kFtInvalidParameter = 6,
  kFtInvalidBaudRate = 7,
  kFtNotSupported = 17,
  kFtOtherError = 18,
  // The program's own, outside the vendor's numbers: a call given up on by FtDevice::Abort.
  kFtAborted = 0x100,
};

// Arguments of the calls, with the vendor library's values.
inline constexpr uint32_t kFtPurgeRx = 1;
inline constexpr uint32_t kFtPurgeTx = 2;
inline constexpr uint16_t kFtFlowNone = 0x0000;
inline constexpr uint16_t kFtFlowRtsCts = 0x0100;
inline constexpr uint16_t kFtFlowDtrDsr = 0x0200;
inline constexpr uint16_t kFtFlowXonXoff = 0x0400;
inline constexpr uint8_t kFtBits7 = 7;
inline constexpr uint8_t kFtBits8 = 8;
inline constexpr uint8_t kFtStopBits1 = 0;
inline constexpr uint8_t kFtStopBits2 = 2;
inline constexpr uint8_t kFtParityNone = 0;
inline constexpr uint8_t kFtParityOdd = 1;
inline constexpr uint8_t kFtParityEven = 2;
inline constexpr uint8_t kFtParityMark = 3;
inline constexpr uint8_t kFtParitySpace = 4;

// Modem line bits of the low byte GetModemStatus gives.
inline constexpr uint32_t kFtModemCts = 0x10;
inline constexpr uint32_t kFtModemDsr = 0x20;
inline constexpr uint32_t kFtModemRing = 0x40;
inline constexpr uint32_t kFtModemDcd = 0x80;

// Bridge divisors this program uses and the baud rates they give on a 3 MHz base.
inline constexpr uint16_t kFtDivisor3M = 0;
inline constexpr uint16_t kFtDivisor1M5 = 2;
uint32_t BaudRateOfDivisor(uint16_t divisor);

// The cause a bare status stands for, for a backend that gives nothing but the status (the vendor's
// library, the simulated bridge). On an open bridge FT_IO_ERROR, FT_DEVICE_NOT_FOUND and
// FT_DEVICE_NOT_OPENED are what the vendor's library answers once the bridge has been unplugged;
// `opening` is the request to open it, where they mean what they say.
BridgeFault FaultOfStatus(FtStatus status, bool opening);
// The vendor's name of a status ("FT_IO_ERROR"), or null for one it has no name for.
const char* StatusName(FtStatus status);

// One open bridge: what a device handle stands for. Calls on one device come from one thread at a
// time (the connection's lock sees to that), except Abort.
class FtDevice {
 public:
  virtual ~FtDevice() = default;

  virtual FtStatus ResetDevice() = 0;
  virtual FtStatus SetLatencyTimer(uint8_t milliseconds) = 0;
  virtual FtStatus SetUSBParameters(uint32_t inTransferSize, uint32_t outTransferSize) = 0;
  virtual FtStatus SetTimeouts(uint32_t readTimeoutMs, uint32_t writeTimeoutMs) = 0;
  virtual FtStatus SetDataCharacteristics(uint8_t wordLength, uint8_t stopBits, uint8_t parity) = 0;
  // The low byte holds the modem lines; kFtModemCts is Clear To Send.
  virtual FtStatus GetModemStatus(uint32_t* modemStatus) = 0;
  virtual FtStatus SetFlowControl(uint16_t mode, uint8_t xon, uint8_t xoff) = 0;
  virtual FtStatus SetDivisor(uint16_t divisor) = 0;
  virtual FtStatus Purge(uint32_t mask) = 0;
  virtual FtStatus Write(const void* buffer, uint32_t count, uint32_t* written) = 0;
  // Returns when `count` bytes have arrived or the read timeout has passed, with what there is.
  virtual FtStatus Read(void* buffer, uint32_t count, uint32_t* read) = 0;
  virtual FtStatus GetStatus(uint32_t* rxQueue, uint32_t* txQueue, uint32_t* eventStatus) = 0;
  // Closes the bridge. Further calls fail; destroying a device that was not closed closes it.
  virtual FtStatus Close() = 0;
  // From any thread, while the device is open (not at the same time as Close): the read in flight
  // ends at once, and every later Read and Write ends at once having moved nothing, all with
  // kFtAborted. For good: a device is aborted when its user gives up on it.
  virtual void Abort() = 0;
  // The cause of its latest failure, when the backend knows more than the status it returned.
  virtual BridgeFault LastFault() const { return {}; }
};

// One attached bridge as a listing shows it, with what tells it from other bridges of the same
// description: a station with several instruments has as many bridges, all described alike.
struct BridgeInfo {
  uint32_t index = 0;        // its place in the listing it was taken from
  std::string description{};   // the USB product string
  std::string location{};      // where it is attached: a port, or a USB position; may be empty
  std::string serialNumber{};  // the bridge's own serial number; empty when it tells none
};

// The driver library: listing and opening bridges. One backend per kind of link, chosen once at
// start-up by CreateBackend (app/Backend.h).
class FtDriver {
 public:
  virtual ~FtDriver() = default;

  // A status number says that something failed, not why. Every backend also keeps the cause of
  // its latest failure in words the user can act on ("permission denied on /dev/ttyUSB0: add the
  // user to group dialout"); empty while nothing has failed or when it has nothing to add. May be
  // asked from another thread than the one that made the call.
  virtual std::string LastError() const = 0;
  // The same with its kind. By default the words alone, of no known kind.
  virtual BridgeFault LastFault() const;

  // Number of attached bridges of any description. None attached gives kFtDeviceNotFound.
  virtual FtStatus CountDevices(uint32_t* count) = 0;
  // The description of the bridge at `index` of the listing.
  virtual FtStatus DeviceDescription(uint32_t index, std::string* description) = 0;
  // Opens the one bridge whose description matches exactly.
  virtual FtStatus OpenByDescription(const std::string& description,
                                     std::unique_ptr<FtDevice>* device) = 0;

  // The bridge at `index` of the latest listing, with its location and serial number where the
  // backend can tell them. The default knows the description alone.
  virtual FtStatus DescribeDevice(uint32_t index, BridgeInfo* bridge);
  // Opens the bridge described, found again by its location and serial number whatever else is
  // attached; kFtDeviceNotFound once it has gone. The default opens by description, which is
  // right only where no two bridges share one.
  virtual FtStatus OpenBridge(const BridgeInfo& bridge, std::unique_ptr<FtDevice>* device);
};

}  // namespace vxa
