// A stand-in for the bridge vendor's D2XX library, for tests: it exports the functions the
// program loads, with the same names and argument types, and serves them from the simulated
// instrument on a simulated bus in this process, in real time. Built as libftd2xx.so on Linux and
// ftd2xx.dll on Windows. VXA_STANDIN_INSTRUMENTS sets how many instruments are attached (1).
// With none, a listing answers success and a count of 0, as the library usually does, or with
// VXA_STANDIN_NONE=status the library's other way of saying so, status 2 (device not found).
#include <algorithm>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "link/drivers/D2xxApi.h"
#include "sim/SimBus.h"

#if defined(_WIN32)
#define VXA_STANDIN_EXPORT extern "C" __declspec(dllexport)
#else
#define VXA_STANDIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

using namespace vxa;
using d2xx::Handle;
using d2xx::Status;
using d2xx::ULong;

// The bus with its instruments and the bridges opened on it. The bridges are declared last, so
// that they go before the bus they belong to.
class StandIn {
 public:
  StandIn() : bus_(clock_) {
    const char* wanted = std::getenv("VXA_STANDIN_INSTRUMENTS");
    const int instruments = wanted != nullptr ? std::atoi(wanted) : 1;
    // Each instrument with a serial number of its own, as on a real station.
    sim::InstrumentConfig config;
    for (int i = 0; i < instruments; ++i, ++config.serialNumber) {
      latest_ = &bus_.AttachInstrument(config);
    }
  }

  sim::SimBus& Bus() { return bus_; }
  // The instrument attached last; null when none was.
  sim::SimInstrument* Latest() { return latest_; }
  // One fresh instrument in place of all attached.
  sim::SimInstrument& Replace(const sim::InstrumentConfig& config) {
    bus_.DetachAll();
    latest_ = &bus_.AttachInstrument(config);
    return *latest_;
  }

  Handle Adopt(std::unique_ptr<FtDevice> device) {
    std::lock_guard lock(mutex_);
    FtDevice* raw = device.get();
    open_.insert(std::move(device));
    return raw;
  }
  // The bridge behind a handle this library gave out and that is not closed; null otherwise.
  FtDevice* Find(Handle handle) {
    std::lock_guard lock(mutex_);
    for (const auto& device : open_) {
      if (device.get() == handle) return device.get();
    }
    return nullptr;
  }
  Status Close(Handle handle) {
    std::unique_ptr<FtDevice> device;
    {
      std::lock_guard lock(mutex_);
      for (auto it = open_.begin(); it != open_.end(); ++it) {
        if (it->get() == handle) {
          device = std::move(open_.extract(it).value());
          break;
        }
      }
    }
    return device ? device->Close() : kFtInvalidHandle;
  }

 private:
  RealClock clock_;
  sim::SimBus bus_;
  sim::SimInstrument* latest_ = nullptr;
  std::mutex mutex_;
  std::set<std::unique_ptr<FtDevice>> open_;
};

std::once_flag g_created;
std::unique_ptr<StandIn> g_standIn;

StandIn& Instance() {
  std::call_once(g_created, [] { g_standIn = std::make_unique<StandIn>(); });
  return *g_standIn;
}

// The count of a listing, and how the library says that none is attached.
Status CountAttached(sim::SimBus& bus, uint32_t* count) {
  const Status status = bus.CountDevices(count);
  if (*count != 0) return status;
  const char* none = std::getenv("VXA_STANDIN_NONE");
  return none != nullptr && std::strcmp(none, "status") == 0 ? kFtDeviceNotFound : kFtOk;
}

template <typename Call>
Status OnDevice(Handle handle, Call call) {
  FtDevice* device = Instance().Find(handle);
  return device != nullptr ? call(*device) : kFtInvalidHandle;
}

}  // namespace

VXA_STANDIN_EXPORT Status VXA_D2XX_CALL FT_ListDevices(void* arg1, void* arg2, ULong flags) {
  sim::SimBus& bus = Instance().Bus();
  if (flags == d2xx::kListNumberOnly) {
    if (arg1 == nullptr) return kFtInvalidParameter;
    return CountAttached(bus, static_cast<uint32_t*>(arg1));
  }
  if (flags == (d2xx::kListByIndex | d2xx::kOpenByDescription)) {
    if (arg2 == nullptr) return kFtInvalidParameter;
    uint32_t count = 0;
    if (const Status status = bus.CountDevices(&count); status != kFtOk) return status;
    std::string description;
    const auto index = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(arg1));
    if (const Status status = bus.DeviceDescription(index, &description); status != kFtOk) {
      return status;
    }
    std::strncpy(static_cast<char*>(arg2), description.c_str(), d2xx::kDescriptionSize - 1);
    static_cast<char*>(arg2)[d2xx::kDescriptionSize - 1] = '\0';
    return kFtOk;
  }
  if (flags == (d2xx::kListByIndex | d2xx::kOpenBySerialNumber) ||
      flags == (d2xx::kListByIndex | d2xx::kOpenByLocation)) {
    if (arg2 == nullptr) return kFtInvalidParameter;
    const auto index = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(arg1));
    BridgeInfo bridge;
    if (const Status status = bus.DescribeDevice(index, &bridge); status != kFtOk) return status;
    if (flags & d2xx::kOpenByLocation) {
      // Nothing is ever unplugged here: a bridge's place in the listing is its place on the bus.
      *static_cast<uint32_t*>(arg2) = 0x100 + index;
      return kFtOk;
    }
    std::strncpy(static_cast<char*>(arg2), bridge.serialNumber.c_str(),
                 d2xx::kSerialNumberSize - 1);
    static_cast<char*>(arg2)[d2xx::kSerialNumberSize - 1] = '\0';
    return kFtOk;
  }
  if (flags == (d2xx::kListAll | d2xx::kOpenByDescription)) {
    if (arg1 == nullptr || arg2 == nullptr) return kFtInvalidParameter;
    auto* count = static_cast<uint32_t*>(arg2);
    if (const Status status = CountAttached(bus, count); status != kFtOk) return status;
    char** buffers = static_cast<char**>(arg1);
    for (uint32_t index = 0; index < *count && buffers[index] != nullptr; ++index) {
      std::string description;
      bus.DeviceDescription(index, &description);
      std::strncpy(buffers[index], description.c_str(), d2xx::kDescriptionSize - 1);
      buffers[index][d2xx::kDescriptionSize - 1] = '\0';
    }
    return kFtOk;
  }
  return kFtInvalidParameter;
}

namespace {

// The bridge attached now that has this serial number, for an open by serial number.
Status BridgeBySerial(sim::SimBus& bus, const char* serialNumber, BridgeInfo* found) {
  uint32_t count = 0;
  if (const Status status = bus.CountDevices(&count); status != kFtOk) return status;
  for (uint32_t index = 0; index < count; ++index) {
    if (bus.DescribeDevice(index, found) == kFtOk && found->serialNumber == serialNumber) {
      return kFtOk;
    }
  }
  return kFtDeviceNotFound;
}

}  // namespace

VXA_STANDIN_EXPORT Status VXA_D2XX_CALL FT_OpenEx(void* arg, ULong flags, Handle* handle) {
  if (arg == nullptr || handle == nullptr ||
      (flags != d2xx::kOpenByDescription && flags != d2xx::kOpenBySerialNumber)) {
    return kFtInvalidParameter;
  }
  *handle = nullptr;
  std::unique_ptr<FtDevice> device;
  sim::SimBus& bus = Instance().Bus();
  Status status = kFtOk;
  if (flags == d2xx::kOpenByDescription) {
    status = bus.OpenByDescription(static_cast<const char*>(arg), &device);
  } else {
    BridgeInfo bridge;
    status = BridgeBySerial(bus, static_cast<const char*>(arg), &bridge);
    if (status == kFtOk) status = bus.OpenBridge(bridge, &device);
  }
  if (status != kFtOk) return status;
  *handle = Instance().Adopt(std::move(device));
  return kFtOk;
}

VXA_STANDIN_EXPORT Status VXA_D2XX_CALL FT_Close(Handle handle) {
  return Instance().Close(handle);
}

VXA_STANDIN_EXPORT Status VXA_D2XX_CALL FT_ResetDevice(Handle handle) {
  return OnDevice(handle, [](FtDevice& device) { return device.ResetDevice(); });
}

VXA_STANDIN_EXPORT Status VXA_D2XX_CALL FT_SetLatencyTimer(Handle handle,
                                                          unsigned char milliseconds) {
  return OnDevice(handle, [&](FtDevice& device) { return device.SetLatencyTimer(milliseconds); });
}

VXA_STANDIN_EXPORT Status VXA_D2XX_CALL FT_SetUSBParameters(Handle handle, ULong inSize,
                                                           ULong outSize) {
  return OnDevice(handle, [&](FtDevice& device) {
    return device.SetUSBParameters(static_cast<uint32_t>(inSize), static_cast<uint32_t>(outSize));
  });
}

VXA_STANDIN_EXPORT Status VXA_D2XX_CALL FT_SetTimeouts(Handle handle, ULong readMs,
                                                      ULong writeMs) {
  return OnDevice(handle, [&](FtDevice& device) {
    return device.SetTimeouts(static_cast<uint32_t>(readMs), static_cast<uint32_t>(writeMs));
  });
}

VXA_STANDIN_EXPORT Status VXA_D2XX_CALL FT_SetDataCharacteristics(Handle handle,
                                                                 unsigned char wordLength,
                                                                 unsigned char stopBits,
                                                                 unsigned char parity) {
  return OnDevice(handle, [&](FtDevice& device) {
    return device.SetDataCharacteristics(wordLength, stopBits, parity);
  });
}

VXA_STANDIN_EXPORT Status VXA_D2XX_CALL FT_GetModemStatus(Handle handle, uint32_t* modemStatus) {
  return OnDevice(handle, [&](FtDevice& device) { return device.GetModemStatus(modemStatus); });
}

VXA_STANDIN_EXPORT Status VXA_D2XX_CALL FT_SetFlowControl(Handle handle, unsigned short mode,
                                                         unsigned char xon, unsigned char xoff) {
  return OnDevice(handle, [&](FtDevice& device) { return device.SetFlowControl(mode, xon, xoff); });
}

VXA_STANDIN_EXPORT Status VXA_D2XX_CALL FT_SetDivisor(Handle handle, unsigned short divisor) {
  return OnDevice(handle, [&](FtDevice& device) { return device.SetDivisor(divisor); });
}

VXA_STANDIN_EXPORT Status VXA_D2XX_CALL FT_Purge(Handle handle, ULong mask) {
  return OnDevice(handle,
                  [&](FtDevice& device) { return device.Purge(static_cast<uint32_t>(mask)); });
}

VXA_STANDIN_EXPORT Status VXA_D2XX_CALL FT_Write(Handle handle, void* buffer, uint32_t count,
                                                uint32_t* written) {
  return OnDevice(handle, [&](FtDevice& device) { return device.Write(buffer, count, written); });
}

VXA_STANDIN_EXPORT Status VXA_D2XX_CALL FT_Read(Handle handle, void* buffer, uint32_t count,
                                               uint32_t* read) {
  return OnDevice(handle, [&](FtDevice& device) { return device.Read(buffer, count, read); });
}

VXA_STANDIN_EXPORT Status VXA_D2XX_CALL FT_GetStatus(Handle handle, uint32_t* rxQueue,
                                                    uint32_t* txQueue, uint32_t* eventStatus) {
  return OnDevice(handle, [&](FtDevice& device) {
    return device.GetStatus(rxQueue, txQueue, eventStatus);
  });
}

// For the tests that run a whole update through this library: a fresh instrument in place of
// those attached, its install taking `installMs`, with `count` faults injected.
struct VxaStandInFault {
  int fault, count, skip, onCommand;
  unsigned value;
};

VXA_STANDIN_EXPORT void VxaStandInReset(const VxaStandInFault* faults, size_t count,
                                        unsigned installMs) {
  sim::InstrumentConfig config;
  config.installTime = std::chrono::milliseconds(installMs);
  sim::SimInstrument& instrument = Instance().Replace(config);
  for (size_t i = 0; i < count; ++i) {
    instrument.Inject({.fault = static_cast<sim::Fault>(faults[i].fault),
                       .count = faults[i].count,
                       .skip = faults[i].skip,
                       .onCommand = faults[i].onCommand,
                       .value = faults[i].value});
  }
}

// The latest instrument's file `name`: its size, with as much of it as fits copied to `buffer`.
VXA_STANDIN_EXPORT size_t VxaStandInFile(const char* name, unsigned char* buffer, size_t size) {
  sim::SimInstrument* instrument = Instance().Latest();
  if (instrument == nullptr) return 0;
  const std::vector<uint8_t> content = instrument->FileContent(name);
  std::memcpy(buffer, content.data(), std::min(size, content.size()));
  return content.size();
}

// Whether the latest instrument took an install (under way or done), with the program version it
// reports now copied to `version`, and the refusals it has sent.
VXA_STANDIN_EXPORT int VxaStandInState(char* version, size_t size, unsigned long long* refusals) {
  sim::SimInstrument* instrument = Instance().Latest();
  if (instrument == nullptr || size == 0) return 0;
  std::strncpy(version, instrument->ProgramVersionText().c_str(), size - 1);
  version[size - 1] = '\0';
  *refusals = instrument->counters().refusalsSent;
  return instrument->Installing() || instrument->Installed() ? 1 : 0;
}
