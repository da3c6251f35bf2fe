#include "tests/support/ForwardingDriver.h"

namespace vxa::test {
namespace {

class ForwardedDevice final : public FtDevice {
 public:
  ForwardedDevice(ForwardingDriver& driver, std::unique_ptr<FtDevice> inner)
      : driver_(driver), inner_(std::move(inner)) {}

  FtStatus ResetDevice() override {
    return Forward([](FtDevice& device) { return device.ResetDevice(); });
  }
  FtStatus SetLatencyTimer(uint8_t ms) override {
    return Forward([ms](FtDevice& device) { return device.SetLatencyTimer(ms); });
  }
  FtStatus SetUSBParameters(uint32_t in, uint32_t out) override {
    return Forward([in, out](FtDevice& device) { return device.SetUSBParameters(in, out); });
  }
  FtStatus SetTimeouts(uint32_t read, uint32_t write) override {
    return Forward([read, write](FtDevice& device) { return device.SetTimeouts(read, write); });
  }
  FtStatus SetDataCharacteristics(uint8_t bits, uint8_t stop, uint8_t parity) override {
    return Forward([=](FtDevice& device) { return device.SetDataCharacteristics(bits, stop, parity); });
  }
  FtStatus GetModemStatus(uint32_t* status) override {
    return Forward([status](FtDevice& device) { return device.GetModemStatus(status); });
  }
  FtStatus SetFlowControl(uint16_t mode, uint8_t xon, uint8_t xoff) override {
    return Forward([=](FtDevice& device) { return device.SetFlowControl(mode, xon, xoff); });
  }
  FtStatus SetDivisor(uint16_t divisor) override {
    return Forward([divisor](FtDevice& device) { return device.SetDivisor(divisor); });
  }
  FtStatus Purge(uint32_t mask) override {
    return Forward([mask](FtDevice& device) { return device.Purge(mask); });
  }
  FtStatus Write(const void* buffer, uint32_t count, uint32_t* written) override {
    return Forward(
        [=, this](FtDevice& device) {
          driver_.BeforeWrite(buffer, count);
          return device.Write(buffer, count, written);
        },
        true);
  }
  FtStatus Read(void* buffer, uint32_t count, uint32_t* read) override {
    return Forward([=](FtDevice& device) { return device.Read(buffer, count, read); });
  }
  FtStatus GetStatus(uint32_t* rx, uint32_t* tx, uint32_t* events) override {
    return Forward([=](FtDevice& device) { return device.GetStatus(rx, tx, events); });
  }
  FtStatus Close() override { return inner_->Close(); }
  void Abort() override {
    driver_.DeviceAborted();
    inner_->Abort();
  }
  BridgeFault LastFault() const override { return inner_->LastFault(); }

 private:
  template <typename Call>
  FtStatus Forward(Call call, bool write = false) {
    driver_.BeforeDeviceCall(write);
    const FtStatus status = call(*inner_);
    driver_.AfterDeviceCall();
    return status;
  }

  ForwardingDriver& driver_;
  std::unique_ptr<FtDevice> inner_;
};

}  // namespace

FtStatus ForwardingDriver::Forwarded(FtStatus status, std::unique_ptr<FtDevice> inner,
                                     std::unique_ptr<FtDevice>* device) {
  if (status == kFtOk && inner) {
    *device = std::make_unique<ForwardedDevice>(*this, std::move(inner));
  }
  return status;
}

FtStatus ForwardingDriver::OpenByDescription(const std::string& description,
                                             std::unique_ptr<FtDevice>* device) {
  std::unique_ptr<FtDevice> inner;
  const FtStatus status = inner_.OpenByDescription(description, &inner);
  return Forwarded(status, std::move(inner), device);
}

FtStatus ForwardingDriver::OpenBridge(const BridgeInfo& bridge, std::unique_ptr<FtDevice>* device) {
  std::unique_ptr<FtDevice> inner;
  const FtStatus status = inner_.OpenBridge(bridge, &inner);
  return Forwarded(status, std::move(inner), device);
}

}  // namespace vxa::test
