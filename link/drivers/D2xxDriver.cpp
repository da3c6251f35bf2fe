#include "link/drivers/D2xxDriver.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "base/Deadline.h"
#include "base/SharedLibrary.h"
#include "text/Messages.h"

namespace vxa {

struct D2xxDriver::Library {
  std::string name;
  std::unique_ptr<SharedLibrary> module;
  d2xx::Functions call;
};

namespace {

// A read of the program's longer than this waits in slices of it, so that an abort ends it
// within one.
constexpr uint32_t kReadSliceMs = 100;

// One opened bridge: each call is the library's call on its handle.
class D2xxDevice final : public FtDevice {
 public:
  D2xxDevice(std::shared_ptr<const D2xxDriver::Library> library, d2xx::Handle handle)
      : library_(std::move(library)), call_(library_->call), handle_(handle) {}
  ~D2xxDevice() override {
    if (handle_ != nullptr) call_.Close(handle_);
  }
  D2xxDevice(const D2xxDevice&) = delete;
  D2xxDevice& operator=(const D2xxDevice&) = delete;

  FtStatus ResetDevice() override { return Open() ? call_.ResetDevice(handle_) : Closed(); }
  FtStatus SetLatencyTimer(uint8_t milliseconds) override {
    return Open() ? call_.SetLatencyTimer(handle_, milliseconds) : Closed();
  }
  FtStatus SetUSBParameters(uint32_t inTransferSize, uint32_t outTransferSize) override {
    return Open() ? call_.SetUSBParameters(handle_, inTransferSize, outTransferSize) : Closed();
  }
  FtStatus SetTimeouts(uint32_t readTimeoutMs, uint32_t writeTimeoutMs) override {
    if (!Open()) return Closed();
    const FtStatus status = call_.SetTimeouts(handle_, readTimeoutMs, writeTimeoutMs);
    if (status == kFtOk) {
      readTimeoutMs_ = libraryReadMs_ = readTimeoutMs;
      writeTimeoutMs_ = writeTimeoutMs;
    }
    return status;
  }
  FtStatus SetDataCharacteristics(uint8_t wordLength, uint8_t stopBits, uint8_t parity) override {
    return Open() ? call_.SetDataCharacteristics(handle_, wordLength, stopBits, parity) : Closed();
  }
  FtStatus GetModemStatus(uint32_t* modemStatus) override {
    return Open() ? call_.GetModemStatus(handle_, modemStatus) : Closed();
  }
  FtStatus SetFlowControl(uint16_t mode, uint8_t xon, uint8_t xoff) override {
    return Open() ? call_.SetFlowControl(handle_, mode, xon, xoff) : Closed();
  }
  FtStatus SetDivisor(uint16_t divisor) override {
    return Open() ? call_.SetDivisor(handle_, divisor) : Closed();
  }
  FtStatus Purge(uint32_t mask) override { return Open() ? call_.Purge(handle_, mask) : Closed(); }
  FtStatus Write(const void* buffer, uint32_t count, uint32_t* written) override {
    if (!Open()) return Closed();
    if (aborted_.load()) return Aborted(written);
    // The library's prototype takes a plain pointer; it only reads the buffer.
    return call_.Write(handle_, const_cast<void*>(buffer), count, written);
  }
  FtStatus Read(void* buffer, uint32_t count, uint32_t* read) override;
  FtStatus GetStatus(uint32_t* rxQueue, uint32_t* txQueue, uint32_t* eventStatus) override {
    return Open() ? call_.GetStatus(handle_, rxQueue, txQueue, eventStatus) : Closed();
  }
  FtStatus Close() override {
    if (!Open()) return Closed();
    // The handle is given up whatever the library says: a second FT_Close on it would be a
    // call on a handle the library may have freed.
    const FtStatus status = call_.Close(handle_);
    handle_ = nullptr;
    return status;
  }
  // The library has no way to cancel a read: reads wait in slices, and look at the flag between.
  void Abort() override { aborted_.store(true); }

 private:
  bool Open() const { return handle_ != nullptr; }
  static FtStatus Closed() { return kFtInvalidHandle; }
  static FtStatus Aborted(uint32_t* moved) {
    if (moved != nullptr) *moved = 0;
    return kFtAborted;
  }

  std::shared_ptr<const D2xxDriver::Library> library_;
  const d2xx::Functions& call_;
  d2xx::Handle handle_;
  uint32_t readTimeoutMs_ = 0;  // as the program set them; 0: no limit
  uint32_t writeTimeoutMs_ = 0;
  uint32_t libraryReadMs_ = 0;  // the read timeout the library has now
  std::atomic<bool> aborted_{false};
};

FtStatus D2xxDevice::Read(void* buffer, uint32_t count, uint32_t* read) {
  if (!Open()) return Closed();
  if (aborted_.load()) return Aborted(read);
  // A read no longer than a slice goes to the library as it is.
  if (readTimeoutMs_ != 0 && readTimeoutMs_ <= kReadSliceMs) {
    return call_.Read(handle_, buffer, count, read);
  }
  if (read == nullptr || buffer == nullptr) return kFtInvalidParameter;
  *read = 0;
  auto* bytes = static_cast<uint8_t*>(buffer);
  const Deadline deadline = DeadlineAfter(readTimeoutMs_);
  while (*read < count) {
    // The library's read returns as soon as the bytes are there, or at the end of the slice;
    // the last slice is what is left of the program's timeout, never 0 (no limit to the library).
    const int left = deadline ? PollTimeoutMs(deadline) : static_cast<int>(kReadSliceMs);
    if (left == 0) break;
    const uint32_t slice = std::min(static_cast<uint32_t>(left), kReadSliceMs);
    if (slice != libraryReadMs_) {
      if (const FtStatus status = call_.SetTimeouts(handle_, slice, writeTimeoutMs_);
          status != kFtOk) {
        return status;
      }
      libraryReadMs_ = slice;
    }
    uint32_t got = 0;
    const FtStatus status = call_.Read(handle_, bytes + *read, count - *read, &got);
    *read += got;
    if (status != kFtOk) return status;
    if (aborted_.load()) return kFtAborted;
  }
  return kFtOk;
}

template <typename Function>
bool Resolve(const SharedLibrary& module, const char* name, Function* function,
             std::string* missing) {
  *function = reinterpret_cast<Function>(module.Symbol(name));
  if (*function == nullptr && missing->empty()) *missing = name;
  return *function != nullptr;
}

}  // namespace

D2xxDriver::D2xxDriver(std::shared_ptr<const Library> library) : library_(std::move(library)) {}

D2xxDriver::~D2xxDriver() = default;

std::unique_ptr<D2xxDriver> D2xxDriver::Load(const std::string& libraryName, std::string* error) {
  std::string why;
  auto library = std::make_shared<Library>();
  library->name = libraryName;
  library->module = SharedLibrary::Load(libraryName, &why);
  if (!library->module) {
    if (error != nullptr) {
      *error = FormatText(VXA_MSG(msg::kD2xxLibraryMissing), libraryName.c_str(), why.c_str());
    }
    return nullptr;
  }
  const SharedLibrary& module = *library->module;
  d2xx::Functions& call = library->call;
  std::string missing;
  Resolve(module, "FT_ListDevices", &call.ListDevices, &missing);
  Resolve(module, "FT_OpenEx", &call.OpenEx, &missing);
  Resolve(module, "FT_Close", &call.Close, &missing);
  Resolve(module, "FT_ResetDevice", &call.ResetDevice, &missing);
  Resolve(module, "FT_SetLatencyTimer", &call.SetLatencyTimer, &missing);
  Resolve(module, "FT_SetUSBParameters", &call.SetUSBParameters, &missing);
  Resolve(module, "FT_SetTimeouts", &call.SetTimeouts, &missing);
  Resolve(module, "FT_SetDataCharacteristics", &call.SetDataCharacteristics, &missing);
  Resolve(module, "FT_GetModemStatus", &call.GetModemStatus, &missing);
  Resolve(module, "FT_SetFlowControl", &call.SetFlowControl, &missing);
  Resolve(module, "FT_SetDivisor", &call.SetDivisor, &missing);
  Resolve(module, "FT_Purge", &call.Purge, &missing);
  Resolve(module, "FT_Write", &call.Write, &missing);
  Resolve(module, "FT_Read", &call.Read, &missing);
  Resolve(module, "FT_GetStatus", &call.GetStatus, &missing);
  if (!missing.empty()) {
    if (error != nullptr) {
      *error = FormatText(VXA_MSG(msg::kD2xxFunctionMissing), libraryName.c_str(),
                          missing.c_str());
    }
    return nullptr;
  }
  return std::unique_ptr<D2xxDriver>(new D2xxDriver(std::move(library)));
}

FtStatus D2xxDriver::Note(const char* call, FtStatus status) {
  if (status != kFtOk) error_.Set(std::string(call) + ": status " + std::to_string(status));
  return status;
}

FtStatus D2xxDriver::CountDevices(uint32_t* count) {
  if (count == nullptr) return kFtInvalidParameter;
  // The number alone: a listing of every description would need room the program cannot know
  // in advance (a bridge may be plugged in between two calls).
  *count = 0;
  const FtStatus status = library_->call.ListDevices(count, nullptr, d2xx::kListNumberOnly);
  if (status != kFtOk) *count = 0;
  // None attached: the library's usual answer is success with a count of 0, and status 2 its
  // other way of saying so. The program hears one, whichever the library chose.
  if ((status == kFtOk && *count == 0) || status == kFtDeviceNotFound) {
    error_.Set(BridgeCause::kNoSuchPort,
               FormatText(VXA_MSG(msg::kNoFtdiDeviceFound), library_->name.c_str()));
    return kFtDeviceNotFound;
  }
  return Note("FT_ListDevices", status);
}

FtStatus D2xxDriver::DeviceDescription(uint32_t index, std::string* description) {
  if (description == nullptr) return kFtInvalidParameter;
  char text[d2xx::kDescriptionSize + 1] = {};
  const FtStatus status = library_->call.ListDevices(
      reinterpret_cast<void*>(static_cast<uintptr_t>(index)), text,
      d2xx::kListByIndex | d2xx::kOpenByDescription);
  if (status != kFtOk) return Note("FT_ListDevices", status);
  *description = text;  // the extra byte keeps it terminated whatever the library wrote
  return kFtOk;
}

FtStatus D2xxDriver::OpenByDescription(const std::string& description,
                                       std::unique_ptr<FtDevice>* device) {
  return OpenEx(const_cast<char*>(description.c_str()), d2xx::kOpenByDescription, device);
}

FtStatus D2xxDriver::DescribeDevice(uint32_t index, BridgeInfo* bridge) {
  if (bridge == nullptr) return kFtInvalidParameter;
  *bridge = BridgeInfo{.index = index};
  if (const FtStatus status = DeviceDescription(index, &bridge->description); status != kFtOk) {
    return status;
  }
  void* const byIndex = reinterpret_cast<void*>(static_cast<uintptr_t>(index));
  char serialNumber[d2xx::kSerialNumberSize + 1] = {};
  if (library_->call.ListDevices(byIndex, serialNumber,
                                 d2xx::kListByIndex | d2xx::kOpenBySerialNumber) == kFtOk) {
    bridge->serialNumber = serialNumber;
  }
  // Where the library tells it; not every platform's library does.
  uint32_t locationId = 0;
  if (library_->call.ListDevices(byIndex, &locationId,
                                 d2xx::kListByIndex | d2xx::kOpenByLocation) == kFtOk &&
      locationId != 0) {
    bridge->location = FormatText("USB 0x%X", locationId);
  }
  return kFtOk;
}

FtStatus D2xxDriver::OpenBridge(const BridgeInfo& bridge, std::unique_ptr<FtDevice>* device) {
  if (bridge.serialNumber.empty()) return OpenByDescription(bridge.description, device);
  return OpenEx(const_cast<char*>(bridge.serialNumber.c_str()), d2xx::kOpenBySerialNumber, device);
}

FtStatus D2xxDriver::OpenEx(void* what, d2xx::ULong flags, std::unique_ptr<FtDevice>* device) {
  if (device == nullptr) return kFtInvalidParameter;
  device->reset();
  d2xx::Handle handle = nullptr;
  const FtStatus status = library_->call.OpenEx(what, flags, &handle);
  if (status == kFtOk && handle != nullptr) {
    *device = std::make_unique<D2xxDevice>(library_, handle);
    return kFtOk;
  }
  // The library gives a number alone; what it means on opening is all there is to say.
  const FtStatus failed = status != kFtOk ? status : kFtInvalidHandle;
  error_.Set(FaultOfStatus(failed, true));
  return failed;
}

}  // namespace vxa
