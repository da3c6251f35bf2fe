// Every allocation of this test program is counted (tests/support/AllocationCount); a test counts
// those made by its own thread while it exchanges packets.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "link/Crc32.h"
#include "link/UsbChannel.h"
#include "tests/support/AllocationCount.h"

namespace vxa {
namespace {

// A bridge whose instrument acknowledges every command with its first four payload bytes, at
// once. It allocates nothing after opening, so what a test counts is the channel's own.
class AckingDevice final : public FtDevice {
 public:
  FtStatus ResetDevice() override { return kFtOk; }
  FtStatus SetLatencyTimer(uint8_t) override { return kFtOk; }
  FtStatus SetUSBParameters(uint32_t, uint32_t) override { return kFtOk; }
  FtStatus SetTimeouts(uint32_t, uint32_t) override { return kFtOk; }
  FtStatus SetDataCharacteristics(uint8_t, uint8_t, uint8_t) override { return kFtOk; }
  FtStatus GetModemStatus(uint32_t* status) override {
    *status = kFtModemCts;
    return kFtOk;
  }
  FtStatus SetFlowControl(uint16_t, uint8_t, uint8_t) override { return kFtOk; }
  FtStatus SetDivisor(uint16_t) override { return kFtOk; }
  FtStatus Purge(uint32_t) override {
    pending_ = 0;
    return kFtOk;
  }
  FtStatus Write(const void* buffer, uint32_t count, uint32_t* written) override {
    const auto* command = static_cast<const uint8_t*>(buffer);
    PacketHeader header(answer_);
    header.SetStartMark(kStartMark);
    header.SetCode(command[kOffCode]);
    header.SetAnswer(kAnsAck);
    header.SetLength(8);
    header.SetReserved(0);
    header.SetEndMark(kEndMark);
    std::memcpy(answer_ + kHeaderSize, command + kHeaderSize, 4);
    PutU32(answer_ + kHeaderSize + 4, Crc32Jam(answer_ + kHeaderSize, 4));
    pending_ = sizeof answer_;
    *written = count;
    return kFtOk;
  }
  FtStatus Read(void* buffer, uint32_t count, uint32_t* read) override {
    const uint32_t n = std::min(count, pending_);
    std::memcpy(buffer, answer_ + (sizeof answer_ - pending_), n);
    pending_ -= n;
    *read = n;
    return kFtOk;
  }
  FtStatus GetStatus(uint32_t* rxQueue, uint32_t* txQueue, uint32_t* events) override {
    *rxQueue = pending_;
    *txQueue = 0;
    if (events != nullptr) *events = 0;
    return kFtOk;
  }
  FtStatus Close() override { return kFtOk; }
  void Abort() override {}

 private:
  uint8_t answer_[kHeaderSize + 8] = {};
  uint32_t pending_ = 0;
};

class AckingDriver final : public FtDriver {
 public:
  FtStatus CountDevices(uint32_t* count) override {
    *count = 1;
    return kFtOk;
  }
  FtStatus DeviceDescription(uint32_t, std::string* description) override {
    *description = kDeviceDescription;
    return kFtOk;
  }
  FtStatus OpenByDescription(const std::string&, std::unique_ptr<FtDevice>* device) override {
    *device = std::make_unique<AckingDevice>();
    return kFtOk;
  }
  std::string LastError() const override { return {}; }
};

class BlockChannel : public TUsbChannel {
 public:
  using TUsbChannel::TUsbChannel;
  // A full write block: its number and 32748 bytes of data.
  int32_t SendBlock(uint32_t number) {
    PutU32(TxPayload(), number);
    std::memset(TxPayload() + 4, static_cast<int>(number), kWriteBlockData);
    PrepareCommand(kCmdWriteBlock, 4 + kWriteBlockData);
    return Exchange(0);
  }
};

TEST(AllocationTest, ExchangingFullBlocksAllocatesNothing) {
  AckingDriver driver;
  VirtualClock clock;
  BlockChannel channel(driver, clock);
  ASSERT_TRUE(channel.Open());
  ASSERT_EQ(channel.SendBlock(1), kRxOk);

  test::StartCountingThreadAllocations();
  int32_t worst = kRxOk;
  for (uint32_t number = 2; number < 100; ++number) {
    const int32_t result = channel.SendBlock(number);
    if (result != kRxOk) worst = result;
  }
  const uint64_t allocations = test::StopCountingThreadAllocations();
  EXPECT_EQ(worst, kRxOk);
  EXPECT_EQ(GetU32(channel.RxData()), 99u);  // the last block's acknowledgement
  EXPECT_EQ(allocations, 0u);
}

TEST(AllocationTest, TheCountSeesAnAllocation) {
  // The counting operators are the ones in use: without this the test above could pass by
  // counting nothing at all.
  static void* volatile escaped = nullptr;  // so that the compiler cannot leave it out
  test::StartCountingThreadAllocations();
  escaped = ::operator new(64);
  const uint64_t allocations = test::StopCountingThreadAllocations();
  ::operator delete(escaped);
  EXPECT_EQ(allocations, 1u);
}

}  // namespace
}  // namespace vxa
