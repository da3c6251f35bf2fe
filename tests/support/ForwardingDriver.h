#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/FtDriver.h"

namespace vxa::test {

// A driver that passes every call through to another, and lets a test or a benchmark act on the
// calling thread before each call on a bridge it opened: hold the thread back, count its writes.
class ForwardingDriver : public FtDriver {
 public:
  explicit ForwardingDriver(FtDriver& inner) : inner_(inner) {}

  FtStatus CountDevices(uint32_t* count) override { return inner_.CountDevices(count); }
  FtStatus DeviceDescription(uint32_t index, std::string* description) override {
    return inner_.DeviceDescription(index, description);
  }
  FtStatus OpenByDescription(const std::string& description,
                             std::unique_ptr<FtDevice>* device) override;
  FtStatus DescribeDevice(uint32_t index, BridgeInfo* bridge) override {
    return inner_.DescribeDevice(index, bridge);
  }
  FtStatus OpenBridge(const BridgeInfo& bridge, std::unique_ptr<FtDevice>* device) override;
  std::string LastError() const override { return inner_.LastError(); }
  BridgeFault LastFault() const override { return inner_.LastFault(); }

  // Before every call on an opened bridge but Close; `write` says whether it is a Write.
  virtual void BeforeDeviceCall(bool write) = 0;
  // After each of those calls, on the same thread.
  virtual void AfterDeviceCall() {}
  // Just before a Write goes on to the bridge, with the bytes it carries.
  virtual void BeforeWrite(const void* /*buffer*/, uint32_t /*count*/) {}
  // When the bridge is aborted (from any thread), before the abort is passed on.
  virtual void DeviceAborted() {}

 private:
  FtStatus Forwarded(FtStatus status, std::unique_ptr<FtDevice> inner,
                     std::unique_ptr<FtDevice>* device);

  FtDriver& inner_;
};

}  // namespace vxa::test
