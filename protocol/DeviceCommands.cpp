#include <algorithm>
#include <cstring>

#include "text/Cp1251.h"
#include "text/Messages.h"
#include "link/Errors.h"
#include "protocol/Connection.h"

namespace vxa {

void TVXA4410Connection::Query(uint8_t code, const char* text, size_t expected, uint8_t* record,
                               bool& valid) {
  std::lock_guard lock(RxMutex);
  valid = false;
  std::memset(RxBuffer.get(), 0, expected);
  const uint32_t payload = text != nullptr ? static_cast<uint32_t>(kTextCommandSize) : 0;
  for (int attempt = 1; attempt <= kQueryAttempts; ++attempt) {
    if (text != nullptr) std::memcpy(TxPayload(), text, kTextCommandSize);
    lastPayloadLength_ = payload;
    PrepareCommand(code, payload);
    if (Exchange(0) == kRxOk) {
      // A record of the wrong length is not the instrument being slow: asking again won't help.
      if (RxHead().Length() != expected) throw TVXA4410ConnError(VXA_MSG(msg::kDeviceIdFailed));
      std::memcpy(record, RxData(), expected);
      valid = true;
      return;
    }
    // Given up on (the version wait runs on the traffic thread, which is stopped this way): the
    // attempts left would send nothing anyway.
    if (Aborted()) break;
    if (attempt < kQueryAttempts) PauseUnlessAborted(kQueryRetryPauseMs);
  }
  throw TVXA4410ConnError(VXA_MSG(msg::kDeviceIdFailed), ConnErrorKind::kLink);
}

void TVXA4410Connection::QueryDeviceInfo() {
  Query(kCmdDeviceInfo, nullptr, kDeviceInfoSize, deviceInfo_.data(), deviceInfoValid_);
}

void TVXA4410Connection::QueryGinf() {
  Query(kCmdText, kTextGetInfo, kGinfSize, ginf_.data(), ginfValid_);
}

bool TVXA4410Connection::SetDeviceClock(LocalDateTime* sent) {
  std::lock_guard lock(RxMutex);
  for (int attempt = 1; attempt <= kQueryAttempts; ++attempt) {
    const LocalDateTime now = clock().LocalTime();
    uint8_t* payload = TxPayload();
    std::memcpy(payload, kTextSetClock, kTextCommandSize);
    const int fields[kClockFields] = {now.year % 100, now.month,  now.day,
                                      now.hour,       now.minute, now.second};
    for (size_t i = 0; i < kClockFields; ++i) {
      PutU16(payload + kTextCommandSize + 2 * i, static_cast<uint16_t>(fields[i]));
    }
    lastPayloadLength_ = kTextCommandSize + kClockRecordSize;
    PrepareCommand(kCmdText, lastPayloadLength_);
    if (Exchange(0) == kRxOk) {
      // A refusal is an answer too, and ends the attempts; but the instrument kept its own time,
      // and must not be said to have taken ours.
      if (RxHead().Answer() == kAnsRefusal) return false;
      if (sent != nullptr) *sent = now;
      return true;
    }
    if (Aborted()) return false;
    if (attempt < kQueryAttempts) PauseUnlessAborted(kClockRetryPauseMs);
  }
  // An instrument that keeps its old time is no reason to fail an update that has succeeded.
  return false;
}

std::string TVXA4410Connection::ModelText() const {
  if (!deviceInfoValid_) return {};
  const auto* name = reinterpret_cast<const char*>(deviceInfo_.data() + kInfoModelName);
  return Cp1251ToUtf8(std::string_view(name, strnlen(name, kModelNameSize)));
}

std::string TVXA4410Connection::SerialNumberText() const {
  if (ginfValid_) return std::to_string(GetI32(ginf_.data() + kGinfSerial));
  if (deviceInfoValid_) return std::to_string(GetI32(deviceInfo_.data() + kInfoSerial));
  return "????";
}

std::string TVXA4410Connection::DeviceVersionText() const {
  if (ginfValid_) {
    return FormatText("%d.%d", GetI32(ginf_.data() + kGinfDeviceMajor),
                      GetI32(ginf_.data() + kGinfDeviceMinor));
  }
  if (deviceInfoValid_) {
    const uint16_t v = GetU16(deviceInfo_.data() + kInfoDeviceVersion);
    return FormatText("%d.%d", v >> 8, v & 0xFF);
  }
  return "?.?";
}

std::string TVXA4410Connection::ProgramVersionText() const {
  if (ginfValid_) {
    return FormatText("%d.%d.%d", GetI32(ginf_.data() + kGinfProgram),
                      GetI32(ginf_.data() + kGinfProgram + 4),
                      GetI32(ginf_.data() + kGinfProgram + 8));
  }
  if (deviceInfoValid_) {
    const uint16_t v = GetU16(deviceInfo_.data() + kInfoProgramVersion);
    return FormatText("%d.%d", v >> 8, v & 0xFF);
  }
  return "?.?.?";
}

}  // namespace vxa
