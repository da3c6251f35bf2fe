#include "link/UsbChannel.h"

#include <algorithm>

#include "text/Messages.h"
#include "link/Crc32.h"
#include "link/Errors.h"

namespace vxa {

TUsbChannel::TUsbChannel(FtDriver& driver, Clock& clock)
    : TxPacket(nullptr),
      TxBuffer(new uint8_t[kPacketBufferSize]()),
      RxBuffer(new uint8_t[kPacketBufferSize]()),
      driver_(driver),
      clock_(clock) {
  TxPacket = PacketHeader(TxBuffer.get());
}

TUsbChannel::~TUsbChannel() {
  if (Opened) CloseDevice();
}

void TUsbChannel::CloseDevice() {
  std::lock_guard lock(handleMutex_);
  if (FtHandle) {
    FtHandle->Close();
    FtHandle.reset();
  }
}

void TUsbChannel::Abort() {
  aborted_.store(true);
  // The read in flight, if any, ends now rather than at its timeout. The handle cannot go
  // meanwhile: it is only set and closed under the same lock.
  std::lock_guard lock(handleMutex_);
  if (FtHandle) FtHandle->Abort();
}

void TUsbChannel::Fail(const char* text, BridgeFault fault) {
  CloseDevice();
  throw TVXA4410ConnError(text, ConnErrorKind::kLink, std::move(fault));
}

void TUsbChannel::Check(FtStatus status, const char* text) {
  if (status != kFtOk) Fail(text, DeviceFault(status));
}

BridgeFault TUsbChannel::DeviceFault(FtStatus status) const {
  if (FtHandle) {
    if (BridgeFault fault = FtHandle->LastFault(); fault.Known()) return fault;
  }
  return FaultOfStatus(status, false);
}

void TUsbChannel::FailLink(int32_t text, FtStatus status) {
  throw TVXA4410ConnError(VXA_MSG(text), static_cast<int32_t>(status), ConnErrorKind::kLink,
                          DeviceFault(status));
}

bool TUsbChannel::Open(const BridgeInfo* bridge) {
  if (Opened) return true;
  // The lock is a member that exists as long as the channel, so there is no step that can fail to
  // create it.
  std::unique_ptr<FtDevice> opened;
  openStatus_ = bridge != nullptr ? driver_.OpenBridge(*bridge, &opened)
                                  : driver_.OpenByDescription(kDeviceDescription, &opened);
  if (openStatus_ != kFtOk || !opened) {
    BridgeFault fault = driver_.LastFault();
    Fail("FT_Open failed", fault.Known() ? std::move(fault) : FaultOfStatus(openStatus_, true));
  }
  {
    std::lock_guard lock(handleMutex_);
    FtHandle = std::move(opened);
    // Given up on while it was being opened: it starts aborted.
    if (aborted_.load()) FtHandle->Abort();
  }
  FtDevice& dev = *FtHandle;
  Check(dev.ResetDevice(), "FT_ResetDevice failed");
  Check(dev.SetLatencyTimer(kLatencyTimerMs), "FT_SetLatencyTimer failed");
  Check(dev.SetUSBParameters(kUsbTransferSize, kUsbTransferSize), "FT_SetUSBParameters failed");
  Check(dev.SetTimeouts(kReadTimeoutMs, kWriteTimeoutMs), "FT_SetTimeouts failed");
  Check(dev.SetDataCharacteristics(kFtBits8, kFtStopBits2, kFtParityNone),
        "FT_SetDataCharacteristics failed");
  uint32_t modemStatus = 0;
  Check(dev.GetModemStatus(&modemStatus), "FT_GetModemStatus failed");
  // An instrument that can hold the line back with CTS gets the full rate; without flow control
  // its receiver could be overrun at 3 Mbaud, so it gets half.
  const bool cts = (modemStatus & kFtModemCts) != 0;
  Check(dev.SetFlowControl(cts ? kFtFlowRtsCts : kFtFlowNone, 0, 0), "FT_SetFlowControl failed");
  Check(dev.SetDivisor(cts ? kFtDivisor3M : kFtDivisor1M5), "FT_SetDivisor failed");
  Check(dev.Purge(kFtPurgeRx | kFtPurgeTx), "FT_Purge failed");
  Opened = true;
  return true;
}

void TUsbChannel::PrepareCommand(uint8_t code, uint32_t payloadLength) {
  TxPacket.SetCode(code);
  TxPacket.SetLength(payloadLength);
  TxLength = payloadLength;
}

void TUsbChannel::SendPacket() {
  TxPacket.SetStartMark(kStartMark);
  TxPacket.SetAnswer(0);
  TxPacket.SetReserved(0);
  TxPacket.SetEndMark(kEndMark);
  const uint32_t length = TxPacket.Length();
  // The CRC goes right after the payload; a payload that leaves it no room never goes out.
  if (length > kMaxCommandPayload) throw TVXA4410ConnError(VXA_MSG(msg::kFtdiOverflow));
  TxLength += kHeaderSize;
  if (length != 0) {
    PutU32(TxBuffer.get() + kHeaderSize + length, Crc32Jam(TxBuffer.get() + kHeaderSize, length));
    TxPacket.SetLength(length + kCrcSize);
    TxLength += kCrcSize;
  }
  FtDevice* dev = FtHandle.get();
  if (dev == nullptr) {
    throw TVXA4410ConnError(VXA_MSG(msg::kFtdiWriteError), kFtInvalidHandle, ConnErrorKind::kLink);
  }
  // Nothing left from an earlier exchange may be taken for the answer to this command. The
  // purge goes before every command, even after a clean answer with empty queues: the queue
  // status does not count bytes the bridge still holds under its latency timer, and the
  // instrument has always seen this pause before each command.
  dev->Purge(kFtPurgeRx | kFtPurgeTx);
  // Before each write and each read, also where the values are in force already: a driver may
  // rely on the call (it costs no request to the bridge). Its status is ignored.
  dev->SetTimeouts(kReadTimeoutMs, kWriteTimeoutMs);
  // Given up on while the bridge was being readied: the command must not go out after all.
  if (aborted_.load()) return;
  uint32_t written = 0;
  const FtStatus status = dev->Write(TxBuffer.get(), TxLength, &written);
  // Given up on meanwhile: what did not go out is not a failure of the link.
  if (aborted_.load()) return;
  if (status != kFtOk) FailLink(msg::kFtdiWriteError, status);
  if (written != TxLength) {
    throw TVXA4410ConnError(VXA_MSG(msg::kFtdiOverflow), ConnErrorKind::kLink);
  }
}

int32_t TUsbChannel::ReceivePacket() {
  FtDevice* dev = FtHandle.get();
  if (dev == nullptr) {
    throw TVXA4410ConnError(VXA_MSG(msg::kFtdiReadError), kFtInvalidHandle, ConnErrorKind::kLink);
  }
  dev->SetTimeouts(kReadTimeoutMs, kWriteTimeoutMs);
  uint32_t got = 0;
  FtStatus status = dev->Read(RxHeader, kHeaderSize, &got);
  // An abort ends the read in flight: no answer, and no failure of the link either.
  if (aborted_.load()) return kRxNoHeader;
  if (status != kFtOk) FailLink(msg::kFtdiReadError, status);
  if (got < kHeaderSize) return kRxNoHeader;
  PacketHeader header(RxHeader);
  if (header.StartMark() != kStartMark) return kRxBadStartMark;
  if (header.Reserved() != 0) return kRxBadReserved;
  if (header.EndMark() != kEndMark) return kRxBadEndMark;
  if (header.Code() != TxPacket.Code()) return kRxWrongCode;
  const uint32_t length = header.Length();
  if (length == 0) return kRxOk;
  dev->SetTimeouts(length / kBodyBytesPerExtraMs + kReadTimeoutMs, kWriteTimeoutMs);
  if (length > kMaxAnswerBody) {
    // Let the rest of the oversized answer arrive before throwing it away, but never longer than
    // a real body could take: the length may be anything up to 4 GiB.
    PauseUnlessAborted(std::min(length / kBodyBytesPerExtraMs, kMaxDiscardSleepMs));
    dev->Purge(kFtPurgeRx | kFtPurgeTx);
    return kRxTooLong;
  }
  if (aborted_.load()) return kRxShortBody;
  status = dev->Read(RxBuffer.get(), length, &got);
  if (aborted_.load()) return kRxShortBody;
  if (status != kFtOk) FailLink(msg::kFtdiReadError, status);
  if (got < length) return kRxShortBody;
  if (length <= kCrcSize) return kRxLengthTooSmall;
  if (Crc32Jam(RxBuffer.get(), length) != 0) return kRxBadCrc;
  header.SetLength(length - kCrcSize);
  return kRxOk;
}

void TUsbChannel::PauseUnlessAborted(uint32_t ms) {
  while (ms > 0 && !aborted_.load()) {
    const uint32_t slice = std::min(ms, kAbortSliceMs);
    clock_.SleepMs(slice);
    ms -= slice;
  }
}

int32_t TUsbChannel::Exchange(uint32_t delayMs) {
  // Given up on: nothing more goes to the instrument.
  if (aborted_.load()) return kRxNoHeader;
  if (Logging()) {
    Log(logfmt::kCommand, TxPacket.Code(), static_cast<int32_t>(TxPacket.Length()));
    FlushLog();
  }
  SendPacket();
  PauseUnlessAborted(delayMs);
  const int32_t result = ReceivePacket();
  // Given up on: the rest of the answer does not matter any more.
  if (result == kRxOk || aborted_.load()) return result;

  // Throw away the rest of a bad or late answer so that it cannot be taken for the answer to the
  // next command.
  FtDevice& dev = *FtHandle;
  const Clock::TimePoint start = clock_.Now();
  FtStatus status = kFtOk;
  for (;;) {
    uint32_t rxQueue = 0, txQueue = 0, events = 0;
    status = dev.GetStatus(&rxQueue, &txQueue, &events);
    if (status != kFtOk) break;
    if (rxQueue == 0 && txQueue == 0) break;
    status = dev.Purge(kFtPurgeRx | kFtPurgeTx);
    if (status != kFtOk) break;
    if (clock_.Now() - start >= kDrainLimit || aborted_.load()) break;
    PauseUnlessAborted(kDrainPauseMs);
  }
  if (status != kFtOk) FailLink(msg::kFtdiStatusError, status);
  return result;
}

}  // namespace vxa
