#include "link/drivers/SerialLine.h"

#include "text/Messages.h"

namespace vxa {
namespace {

// A driver may round a custom rate to what its divisor can make; more than this is a refusal
// (an FT232R answers a rate it cannot make by falling back to 9600).
constexpr uint32_t kSpeedTolerancePerMille = 10;

}  // namespace

namespace serial {

Failure DescribeIoFailure(unsigned long code, const std::string& port, bool setting) {
  // A pseudo-terminal whose other side closed is gone the same way as an unplugged bridge.
  if (IsGone(code)) {
    return {kFtIoError, VXA_MSG(msg::kCauseDisconnected), BridgeCause::kDisconnected};
  }
  const std::string words = SystemErrorText(code);
  if (setting) {
    return {kFtIoError, FormatText(VXA_MSG(msg::kCausePortSetting), port.c_str(), words.c_str()),
            BridgeCause::kNotSupported};
  }
  return {kFtIoError, FormatText(VXA_MSG(msg::kComPortFailed), port.c_str(), words.c_str())};
}

}  // namespace serial

std::unique_ptr<SerialLine> SerialLine::Open(const PortLocation& where, serial::Failure* failure) {
  std::unique_ptr<SerialPortIo> port = serial::OpenPort(where, failure);
  if (!port) return nullptr;
  if (const unsigned long code = port->Apply(LineSettings{}); code != 0) {
    *failure = serial::DescribeOpenFailure(code, where.path);
    return nullptr;
  }
  return std::make_unique<SerialLine>(std::move(port), where.path);
}

SerialLine::SerialLine(std::unique_ptr<SerialPortIo> port, std::string name)
    : port_(std::move(port)), name_(std::move(name)) {}

unsigned long SerialLine::Apply(const LineSettings& line) {
  unsigned long code = port_->Apply(line);
  if (code == 0 && line.baud != 0) code = port_->Speed(&lineSpeed_);
  if (code == 0) line_ = line;
  return code;
}

FtStatus SerialLine::Fail(PortError error, bool setting) {
  serial::Failure failure = serial::DescribeIoFailure(error.code, name_, setting);
  error_.Set(failure.cause, std::move(failure.text));
  return failure.status;
}

FtStatus SerialLine::NotOpen() {
  error_.Set(name_ + " is closed");
  return kFtInvalidHandle;
}

FtStatus SerialLine::ResetDevice() {
  // A port has no reset request for the bridge (opening the port already reset it). What a
  // reset is for here: nothing stale in the queues, and the line exactly as the program set it.
  if (!port_) return NotOpen();
  if (const unsigned long code = port_->Flush(true, true); code != 0) {
    return Fail({code, "reset (flush)"});
  }
  if (const unsigned long code = Apply(line_); code != 0) return Fail({code, "reset (settings)"});
  return kFtOk;
}

FtStatus SerialLine::SetLatencyTimer(uint8_t milliseconds) {
  if (!port_) return NotOpen();
  if (const FtStatus status = CheckLatencyTimer(milliseconds, error_); status != kFtOk) {
    return status;
  }
  if (const unsigned long code = port_->SetLatency(milliseconds); code != 0) {
    return Fail({code, "setting the latency timer"});
  }
  return kFtOk;
}

FtStatus SerialLine::SetUSBParameters(uint32_t inTransferSize, uint32_t outTransferSize) {
  if (!port_) return NotOpen();
  port_->SetQueueSizes(inTransferSize, outTransferSize);
  return kFtOk;
}

FtStatus SerialLine::SetTimeouts(uint32_t readTimeoutMs, uint32_t writeTimeoutMs) {
  if (!port_) return NotOpen();
  readTimeoutMs_ = readTimeoutMs;
  writeTimeoutMs_ = writeTimeoutMs;
  return kFtOk;
}

FtStatus SerialLine::SetDataCharacteristics(uint8_t wordLength, uint8_t stopBits, uint8_t parity) {
  if (!port_) return NotOpen();
  if (const FtStatus status = CheckLineFormat(wordLength, stopBits, parity, error_);
      status != kFtOk) {
    return status;
  }
  LineSettings line = line_;
  line.wordLength = wordLength;
  line.stopBits = stopBits;
  line.parity = parity;
  if (const unsigned long code = Apply(line); code != 0) {
    return Fail({code, "setting the line format"}, true);
  }
  return kFtOk;
}

FtStatus SerialLine::GetModemStatus(uint32_t* modemStatus) {
  if (modemStatus == nullptr) return kFtInvalidParameter;
  *modemStatus = 0;
  if (!port_) return NotOpen();
  if (const unsigned long code = port_->ModemLines(modemStatus); code != 0) {
    *modemStatus = 0;
    return Fail({code, "reading the modem lines"});
  }
  return kFtOk;
}

FtStatus SerialLine::SetFlowControl(uint16_t mode, uint8_t xon, uint8_t xoff) {
  if (!port_) return NotOpen();
  if (mode == kFtFlowDtrDsr) {
    error_.Set(BridgeCause::kNotSupported,
               std::string("DTR/DSR flow control is not available on a ") + serial::kPortKind);
    return kFtNotSupported;
  }
  if (mode != kFtFlowNone && mode != kFtFlowRtsCts && mode != kFtFlowXonXoff) {
    return RefuseFlowControl(error_);
  }
  LineSettings line = line_;
  line.flow = mode;
  line.xon = xon;
  line.xoff = xoff;
  if (const unsigned long code = Apply(line); code != 0) {
    return Fail({code, "setting flow control"}, true);
  }
  return kFtOk;
}

FtStatus SerialLine::SetDivisor(uint16_t divisor) {
  if (!port_) return NotOpen();
  LineSettings line = line_;
  line.baud = BaudRateOfDivisor(divisor);
  const unsigned asked = line.baud;
  if (const unsigned long code = Apply(line); code != 0) {
    if (serial::IsGone(code)) return Fail({code, "setting the speed"});
    // A port that refuses the rate outright: a plain serial port, which tops out far below it.
    error_.Set(BridgeCause::kNotSupported,
               FormatText(VXA_MSG(msg::kCausePortSpeed), name_.c_str(), asked));
    return kFtInvalidBaudRate;
  }
  // The driver may have settled for another rate than asked: Apply read back what it runs at.
  const unsigned got = lineSpeed_;
  const uint64_t off = asked > got ? asked - got : got - asked;
  if (off * 1000 > uint64_t{asked} * kSpeedTolerancePerMille) {
    error_.Set(BridgeCause::kNotSupported,
               FormatText(VXA_MSG(msg::kCausePortSpeedReported), name_.c_str(), got, asked));
    return kFtInvalidBaudRate;
  }
  return kFtOk;
}

FtStatus SerialLine::Purge(uint32_t mask) {
  if (!port_) return NotOpen();
  if (const FtStatus status = CheckPurgeMask(mask, error_); status != kFtOk) return status;
  if (mask == 0) return kFtOk;
  if (const unsigned long code = port_->Flush(mask & kFtPurgeRx, mask & kFtPurgeTx); code != 0) {
    return Fail({code, "purge"});
  }
  return kFtOk;
}

FtStatus SerialLine::Write(const void* buffer, uint32_t count, uint32_t* written) {
  if (written == nullptr || (buffer == nullptr && count > 0)) return kFtInvalidParameter;
  *written = 0;
  if (!port_) return NotOpen();
  if (aborted_.load()) return kFtAborted;
  // As the vendor's library: a write that runs into its timeout succeeds with fewer bytes.
  const PortError error =
      port_->Write(static_cast<const uint8_t*>(buffer), count, writeTimeoutMs_, written);
  if (aborted_.load()) return kFtAborted;
  return error ? Fail(error) : kFtOk;
}

FtStatus SerialLine::Read(void* buffer, uint32_t count, uint32_t* read) {
  if (read == nullptr || (buffer == nullptr && count > 0)) return kFtInvalidParameter;
  *read = 0;
  if (!port_) return NotOpen();
  if (aborted_.load()) return kFtAborted;
  const PortError error = port_->Read(static_cast<uint8_t*>(buffer), count, readTimeoutMs_, read);
  if (aborted_.load()) return kFtAborted;
  return error ? Fail(error) : kFtOk;
}

FtStatus SerialLine::GetStatus(uint32_t* rxQueue, uint32_t* txQueue, uint32_t* eventStatus) {
  if (rxQueue == nullptr || txQueue == nullptr || eventStatus == nullptr) {
    return kFtInvalidParameter;
  }
  *rxQueue = *txQueue = *eventStatus = 0;
  if (!port_) return NotOpen();
  if (const PortError error = port_->Queues(rxQueue, txQueue)) {
    *rxQueue = *txQueue = 0;
    return Fail(error);
  }
  return kFtOk;
}

void SerialLine::Abort() {
  aborted_.store(true);
  if (port_) port_->Abort();
}

FtStatus SerialLine::Close() {
  if (!port_) return NotOpen();
  // A port that fails to close is released all the same; there is nothing left to retry.
  port_.reset();
  return kFtOk;
}

}  // namespace vxa
