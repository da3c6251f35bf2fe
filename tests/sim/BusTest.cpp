#include <thread>

#include "tests/sim/SimTestSupport.h"

namespace vxa::simtest {
namespace {

using sim::Call;
using sim::CallRecord;

constexpr char kDescription[] = "VXA-4410 Vibration Analyzer";

TEST(BusListingTest, EveryBridgeIsListedInTheOrderAttachedAndNoneMeansNotFound) {
  VirtualClock clock;
  sim::SimBus bus(clock);
  uint32_t count = 99;
  EXPECT_EQ(bus.CountDevices(&count), kFtDeviceNotFound);
  EXPECT_EQ(count, 0u);
  std::unique_ptr<FtDevice> device;
  EXPECT_EQ(bus.OpenByDescription(kDescription, &device), kFtDeviceNotFound);
  EXPECT_EQ(device, nullptr);

  bus.AttachForeignDevice("USB Serial Converter");
  bus.AttachInstrument();
  ASSERT_EQ(bus.CountDevices(&count), kFtOk);
  EXPECT_EQ(count, 2u);
  std::string description;
  ASSERT_EQ(bus.DeviceDescription(0, &description), kFtOk);
  EXPECT_EQ(description, "USB Serial Converter");
  ASSERT_EQ(bus.DeviceDescription(1, &description), kFtOk);
  EXPECT_EQ(description, kDescription);
  EXPECT_EQ(bus.DeviceDescription(2, &description), kFtDeviceNotFound);
}

class BusTest : public SimTest {};

TEST_F(BusTest, OpeningNeedsTheExactDescription) {
  std::unique_ptr<FtDevice> device;
  EXPECT_EQ(bus_.OpenByDescription("VXA-4410", &device), kFtDeviceNotFound);
  EXPECT_EQ(bus_.OpenByDescription("VXA-4410 Vibration Analyzer ", &device), kFtDeviceNotFound);
  EXPECT_EQ(bus_.OpenByDescription("vxa-4410 vibration analyzer", &device), kFtDeviceNotFound);
  EXPECT_EQ(device, nullptr);
  EXPECT_EQ(bus_.OpenByDescription(kDescription, &device), kFtOk);
  EXPECT_NE(device, nullptr);
  EXPECT_EQ(bus_.OpenHandles(), 1);
  EXPECT_EQ(instrument_.counters().openHandles, 1);
}

TEST_F(BusTest, AnOpenBridgeCannotBeOpenedTwiceUntilClosed) {
  Open();
  std::unique_ptr<FtDevice> second;
  EXPECT_EQ(bus_.OpenByDescription(kDescription, &second), kFtDeviceNotOpened);
  EXPECT_EQ(second, nullptr);
  ASSERT_EQ(device_->Close(), kFtOk);
  EXPECT_EQ(bus_.OpenHandles(), 0);
  EXPECT_EQ(bus_.OpenByDescription(kDescription, &second), kFtOk);
  EXPECT_EQ(bus_.OpenHandles(), 1);
}

TEST_F(BusTest, TwoInstrumentsOfOneDescriptionAreOpenedOneAfterTheOther) {
  sim::SimInstrument& other = bus_.AttachInstrument(sim::InstrumentConfig{.serialNumber = 2});
  Open();
  std::unique_ptr<FtDevice> second;
  ASSERT_EQ(bus_.OpenByDescription(kDescription, &second), kFtOk);
  EXPECT_TRUE(instrument_.IsOpen());
  EXPECT_TRUE(other.IsOpen());
  EXPECT_EQ(bus_.OpenHandles(), 2);
}

TEST_F(BusTest, CallsAfterCloseFailWithAnInvalidHandle) {
  Open();
  ASSERT_EQ(device_->Close(), kFtOk);
  uint32_t n = 0, rx = 0, tx = 0, events = 0;
  uint8_t byte = 0;
  EXPECT_EQ(device_->Close(), kFtInvalidHandle);
  EXPECT_EQ(device_->Write(&byte, 1, &n), kFtInvalidHandle);
  EXPECT_EQ(device_->Read(&byte, 1, &n), kFtInvalidHandle);
  EXPECT_EQ(device_->GetStatus(&rx, &tx, &events), kFtInvalidHandle);
  EXPECT_EQ(device_->Purge(3), kFtInvalidHandle);
  EXPECT_EQ(device_->SetDivisor(0), kFtInvalidHandle);
  EXPECT_EQ(device_->GetModemStatus(&n), kFtInvalidHandle);
  // An old handle stays dead when the bridge is opened anew.
  std::unique_ptr<FtDevice> fresh;
  ASSERT_EQ(bus_.OpenByDescription(kDescription, &fresh), kFtOk);
  EXPECT_EQ(device_->Purge(3), kFtInvalidHandle);
  EXPECT_EQ(fresh->Purge(3), kFtOk);
}

TEST_F(BusTest, DestroyingAnUnclosedHandleClosesIt) {
  Open();
  EXPECT_EQ(bus_.OpenHandles(), 1);
  device_.reset();
  EXPECT_EQ(bus_.OpenHandles(), 0);
  EXPECT_EQ(instrument_.Calls().back().call, Call::Close);
  EXPECT_FALSE(instrument_.IsOpen());
}

TEST_F(BusTest, AnUnpluggedBridgeFailsEveryCallAndLeavesTheListing) {
  Open();
  instrument_.Unplug();
  uint32_t n = 0, rx = 0, tx = 0, events = 0;
  uint8_t byte = 0;
  EXPECT_EQ(device_->Write(&byte, 1, &n), kFtIoError);
  EXPECT_EQ(device_->Read(&byte, 1, &n), kFtIoError);
  EXPECT_EQ(device_->GetStatus(&rx, &tx, &events), kFtIoError);
  EXPECT_EQ(device_->Purge(3), kFtIoError);
  EXPECT_EQ(device_->SetTimeouts(1, 1), kFtIoError);
  EXPECT_EQ(device_->GetModemStatus(&n), kFtIoError);
  uint32_t count = 9;
  EXPECT_EQ(bus_.CountDevices(&count), kFtDeviceNotFound);
  EXPECT_EQ(count, 0u);
  std::unique_ptr<FtDevice> again;
  EXPECT_EQ(bus_.OpenByDescription(kDescription, &again), kFtDeviceNotFound);
  // Closing still gives the handle back.
  EXPECT_EQ(device_->Close(), kFtIoError);
  EXPECT_EQ(bus_.OpenHandles(), 0);
  EXPECT_EQ(device_->Close(), kFtInvalidHandle);
}

// A bridge on a schedule: listed only while plugged in on the bus's clock; a handle opened before
// its pull fails from then on, also once it is back; the instrument's own clock, behind the bus's,
// starts at the bus's time when it is opened.
TEST(BusScheduleTest, ABridgeComesGoesAndComesBackOnItsSchedule) {
  using std::chrono::seconds;
  VirtualClock busClock;
  VirtualClock ownClock;
  sim::SimBus bus(busClock);
  sim::SimInstrument& instrument = bus.AttachInstrument({}, &ownClock);
  bus.SchedulePlugs(instrument, {{seconds(5), true}, {seconds(20), false}, {seconds(30), true}});
  bus.AttachInstrument();  // on no schedule: there throughout
  const auto listed = [&bus] {
    uint32_t count = 0;
    bus.CountDevices(&count);
    return count;
  };
  EXPECT_EQ(listed(), 1u);
  busClock.Sleep(seconds(5));
  EXPECT_EQ(listed(), 2u);
  std::unique_ptr<FtDevice> device;
  ASSERT_EQ(bus.OpenByDescription(kDescription, &device), kFtOk);
  EXPECT_EQ(ownClock.Now().time_since_epoch(), seconds(5));
  EXPECT_EQ(device->Purge(3), kFtOk);
  ownClock.Sleep(seconds(15));
  EXPECT_EQ(device->Purge(3), kFtIoError);
  busClock.Sleep(seconds(15));
  EXPECT_EQ(listed(), 1u);
  busClock.Sleep(seconds(10));
  EXPECT_EQ(listed(), 2u);
  EXPECT_EQ(device->Purge(3), kFtIoError);
  EXPECT_EQ(device->Close(), kFtIoError);
  ASSERT_EQ(bus.OpenByDescription(kDescription, &device), kFtOk);
  EXPECT_EQ(device->Purge(3), kFtOk);
}

TEST_F(BusTest, DetachAllKeepsReferencesAndFailsTheOpenHandles) {
  Open();
  bus_.DetachAll();
  uint32_t count = 0;
  EXPECT_EQ(bus_.CountDevices(&count), kFtDeviceNotFound);
  EXPECT_EQ(device_->Purge(3), kFtIoError);
  EXPECT_TRUE(instrument_.Unplugged());
  EXPECT_EQ(instrument_.config().serialNumber, 4410017);  // still a live object
  EXPECT_EQ(bus_.OpenHandles(), 1);
  device_.reset();
  EXPECT_EQ(bus_.OpenHandles(), 0);
  bus_.AttachInstrument();
  EXPECT_EQ(bus_.CountDevices(&count), kFtOk);
  EXPECT_EQ(count, 1u);
}

TEST_F(BusTest, FailNextCallFailsThatManyCallsAndNothingElse) {
  Open();
  instrument_.FailNextCall(Call::GetStatus, kFtOtherError, 2);
  uint32_t rx = 0, tx = 0, events = 0;
  EXPECT_EQ(device_->GetStatus(&rx, &tx, &events), kFtOtherError);
  EXPECT_EQ(device_->Purge(3), kFtOk);
  EXPECT_EQ(device_->GetStatus(&rx, &tx, &events), kFtOtherError);
  EXPECT_EQ(device_->GetStatus(&rx, &tx, &events), kFtOk);

  // A failed write sends nothing; a failed read takes nothing.
  instrument_.FailNextCall(Call::Write, kFtIoError);
  const std::vector<uint8_t> packet = CommandPacket(kCmdDeviceInfo);
  uint32_t n = 5;
  EXPECT_EQ(device_->Write(packet.data(), 12, &n), kFtIoError);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(instrument_.counters().commands, 0u);
  Send(kCmdDeviceInfo);
  clock_.Sleep(100ms);
  instrument_.FailNextCall(Call::Read, kFtIoError);
  std::vector<uint8_t> buffer(12);
  EXPECT_EQ(device_->Read(buffer.data(), 12, &n), kFtIoError);
  EXPECT_EQ(RxQueue(), 8706u);

  instrument_.FailNextCall(Call::Purge, kFtIoError, -1);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(device_->Purge(3), kFtIoError);
  instrument_.ClearFaults();
  EXPECT_EQ(device_->Purge(3), kFtOk);
}

TEST_F(BusTest, FailuresOfTheBusCallsComeFromTheInstrument) {
  instrument_.FailNextCall(Call::CountDevices, kFtOtherError);
  uint32_t count = 0;
  EXPECT_EQ(bus_.CountDevices(&count), kFtOtherError);
  EXPECT_EQ(bus_.CountDevices(&count), kFtOk);
  instrument_.FailNextCall(Call::DeviceDescription, kFtIoError);
  std::string description;
  EXPECT_EQ(bus_.DeviceDescription(0, &description), kFtIoError);
  instrument_.FailNextCall(Call::OpenByDescription, kFtDeviceNotOpened);
  EXPECT_EQ(bus_.OpenByDescription(kDescription, &device_), kFtDeviceNotOpened);
  EXPECT_EQ(device_, nullptr);
  EXPECT_EQ(bus_.OpenHandles(), 0);
  EXPECT_EQ(bus_.OpenByDescription(kDescription, &device_), kFtOk);
}

TEST_F(BusTest, CallsAreRecordedWithTheirArguments) {
  Open();
  instrument_.ClearCalls();
  ASSERT_EQ(device_->SetFlowControl(kFtFlowRtsCts, 0x11, 0x13), kFtOk);
  uint32_t modem = 0;
  ASSERT_EQ(device_->GetModemStatus(&modem), kFtOk);
  Send(kCmdDeviceInfo);
  EXPECT_EQ(Read(20).size(), 20u);
  const std::vector<CallRecord> calls = instrument_.Calls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].call, Call::SetFlowControl);
  EXPECT_EQ(std::vector<uint32_t>({calls[0].a, calls[0].b, calls[0].c}),
            std::vector<uint32_t>({0x0100, 0x11, 0x13}));
  EXPECT_EQ(calls[1].call, Call::GetModemStatus);
  EXPECT_EQ(calls[1].a, kFtModemCts);
  EXPECT_EQ(calls[2].call, Call::Write);
  EXPECT_EQ(std::make_pair(calls[2].a, calls[2].b), std::make_pair(12u, 12u));
  EXPECT_EQ(calls[3].call, Call::Read);
  EXPECT_EQ(std::make_pair(calls[3].a, calls[3].b), std::make_pair(20u, 20u));
  EXPECT_EQ(sim::CallName(Call::SetDataCharacteristics), "SetDataCharacteristics");
}

TEST_F(BusTest, TheCountersFollowTheTraffic) {
  Open();
  Exchange(kCmdDeviceInfo);
  Exchange(kCmdText, Bytes("GINF"));
  const auto c = instrument_.counters();
  EXPECT_EQ(c.commands, 2u);
  EXPECT_EQ(c.CommandsWithCode(kCmdDeviceInfo), 1u);
  EXPECT_EQ(c.CommandsWithCode(kCmdText), 1u);
  EXPECT_EQ(c.answersSent, 2u);
  EXPECT_EQ(c.bytesHostToDevice, 12u + 20u);
  EXPECT_EQ(c.bytesDeviceToHost, 8706u + 84u);
  EXPECT_EQ(c.bytesReadByHost, 8706u + 84u);
  EXPECT_EQ(c.purges, 2u);
  EXPECT_EQ(c.writes, 2u);
  EXPECT_EQ(c.reads, 4u);
  EXPECT_EQ(c.openHandles, 1);
}

TEST_F(BusTest, AForeignAdapterOpensButNothingAnswers) {
  bus_.AttachForeignDevice("USB Serial Converter");
  ASSERT_EQ(bus_.OpenByDescription("USB Serial Converter", &device_), kFtOk);
  ASSERT_EQ(device_->SetTimeouts(1000, 1000), kFtOk);
  Send(kCmdDeviceInfo);
  EXPECT_TRUE(Read(12).empty());
  EXPECT_EQ(instrument_.counters().commands, 0u);
}

TEST_F(BusTest, TestsMayWatchTheInstrumentWhileAnotherThreadTalksToIt) {
  Open();
  std::thread host([this] {
    for (int i = 0; i < 200; ++i) Exchange(kCmdText, Bytes("GINF"));
  });
  uint64_t seen = 0;
  for (int i = 0; i < 200; ++i) {
    const uint64_t now = instrument_.counters().commands;
    EXPECT_GE(now, seen);  // never runs backwards
    seen = now;
    instrument_.Calls();
    instrument_.ProgramVersionText();
  }
  host.join();
  EXPECT_EQ(instrument_.counters().CommandsWithCode(kCmdText), 200u);
  EXPECT_EQ(instrument_.counters().answersSent, 200u);
}

}  // namespace
}  // namespace vxa::simtest
