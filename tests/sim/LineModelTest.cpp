#include <thread>

#include "tests/sim/SimTestSupport.h"

namespace vxa::simtest {
namespace {

// Time of `bytes` on the line at `baud`, 11 bits each, rounded up to the microsecond.
Micros LineTime(uint64_t bytes, uint64_t baud) {
  return Micros((bytes * 11 * 1'000'000 + baud - 1) / baud);
}

const std::vector<uint8_t> kGinf = Bytes("GINF");
const std::vector<uint8_t> kSdti = {'S', 'D', 'T', 'I', 26, 0, 2, 0, 3, 0, 9, 0, 5, 0, 7, 0};

class LineModelTest : public SimTest {
 protected:
  void SetUp() override { Open(); }
};

TEST_F(LineModelTest, AFullPacketTakesItsLineTimeAtEitherDivisor) {
  const std::vector<uint8_t> packet(32768, 0x55);  // not a packet the instrument takes: no answer
  Clock::TimePoint start = clock_.Now();
  Write(packet);
  EXPECT_EQ(Since(start), Micros(120'150));  // 32768 * 11 / 3 Mbaud = 120.149 ms
  EXPECT_EQ(Since(start), LineTime(32768, 3'000'000));

  ASSERT_EQ(device_->SetDivisor(kFtDivisor1M5), kFtOk);
  clock_.Sleep(50ms);  // let the instrument's receiver settle after the junk
  start = clock_.Now();
  Write(packet);
  EXPECT_EQ(Since(start), LineTime(32768, 1'500'000));
}

TEST_F(LineModelTest, BeforeAnyDivisorIsSetTheLineRunsAtHalfRate) {
  UseInstrument({}, false);
  const Clock::TimePoint start = clock_.Now();
  Write(std::vector<uint8_t>(1000, 0));
  EXPECT_EQ(Since(start), LineTime(1000, 1'500'000));
}

TEST_F(LineModelTest, AShortAnswerWaitsForTheLatencyTimer) {
  Send(kCmdText, kSdti);  // answered by a bare 12-byte header
  const Clock::TimePoint sent = clock_.Now();
  const Micros due = LineTime(12, 3'000'000) + 2ms;  // 44 us on the line, then 2 ms in the bridge
  clock_.Sleep(due - Micros(1));
  EXPECT_EQ(RxQueue(), 0u);
  clock_.Sleep(Micros(1));
  EXPECT_EQ(RxQueue(), 12u);

  // A read waits exactly until the bytes are there, not for its timeout.
  Send(kCmdText, kGinf);  // 12 + 68 + 4 = 84 bytes: one full USB packet, then a 22-byte tail
  const Clock::TimePoint asked = clock_.Now();
  ASSERT_EQ(Read(12).size(), 12u);  // the SDTI answer, already there
  EXPECT_EQ(Since(asked), Micros(0));
  ASSERT_EQ(Read(12).size(), 12u);  // in the first USB packet
  EXPECT_EQ(Since(asked), LineTime(62, 3'000'000));
  ASSERT_EQ(Read(72).size(), 72u);  // the tail needs the latency timer
  EXPECT_EQ(Since(asked), LineTime(84, 3'000'000) + 2ms);
  EXPECT_GT(Since(sent), Micros(0));
}

TEST_F(LineModelTest, ALongAnswerArrivesInUsbPacketsOf62Bytes) {
  Send(kCmdDeviceInfo);  // 12 + 8690 + 4 = 8706 bytes: 140 full packets and 26 bytes
  const Clock::TimePoint sent = clock_.Now();
  clock_.SleepUntil(sent + LineTime(62, 3'000'000) - Micros(1));
  EXPECT_EQ(RxQueue(), 0u);
  clock_.SleepUntil(sent + LineTime(62, 3'000'000));
  EXPECT_EQ(RxQueue(), 62u);
  clock_.SleepUntil(sent + LineTime(124, 3'000'000) - Micros(1));
  EXPECT_EQ(RxQueue(), 62u);
  clock_.SleepUntil(sent + LineTime(8680, 3'000'000));
  EXPECT_EQ(RxQueue(), 8680u);
  clock_.SleepUntil(sent + LineTime(8706, 3'000'000) + 2ms - Micros(1));
  EXPECT_EQ(RxQueue(), 8680u);
  clock_.SleepUntil(sent + LineTime(8706, 3'000'000) + 2ms);
  EXPECT_EQ(RxQueue(), 8706u);
}

TEST_F(LineModelTest, SetLatencyTimerChangesTheWaitForATail) {
  ASSERT_EQ(device_->SetLatencyTimer(16), kFtOk);
  Send(kCmdText, kSdti);
  const Clock::TimePoint sent = clock_.Now();
  ASSERT_EQ(Read(12).size(), 12u);
  EXPECT_EQ(Since(sent), LineTime(12, 3'000'000) + 16ms);
}

TEST_F(LineModelTest, AReadTimeoutGivesWhatHasArrivedAtTheDeadline) {
  ASSERT_EQ(device_->SetTimeouts(500, 1000), kFtOk);
  Send(kCmdText, kSdti);
  Clock::TimePoint start = clock_.Now();
  std::vector<uint8_t> got = Read(100);
  EXPECT_EQ(got.size(), 12u);
  EXPECT_EQ(Since(start), 500ms);

  start = clock_.Now();
  EXPECT_TRUE(Read(12).empty());
  EXPECT_EQ(Since(start), 500ms);

  // Part of a long answer: what has arrived by the deadline, in whole USB packets.
  ASSERT_EQ(device_->SetTimeouts(10, 1000), kFtOk);
  Send(kCmdReadRequest, Name("kernel"));  // 6161 bytes of data: 6181 on the line
  start = clock_.Now();
  got = Read(10000);
  EXPECT_EQ(Since(start), 10ms);
  const size_t arrived = 10'000 * 3'000'000ull / 11'000'000 / 62 * 62;  // 2666 bytes by 10 ms
  EXPECT_EQ(got.size(), arrived);
}

TEST_F(LineModelTest, AReadWithoutTimeoutReturnsWhenNothingMoreIsOnItsWay) {
  ASSERT_EQ(device_->SetTimeouts(0, 0), kFtOk);  // the driver's "wait for ever"
  Send(kCmdText, kSdti);
  const Clock::TimePoint start = clock_.Now();
  EXPECT_EQ(Read(100).size(), 12u);
  EXPECT_EQ(Since(start), LineTime(12, 3'000'000) + 2ms);
  EXPECT_TRUE(Read(1).empty());
}

TEST_F(LineModelTest, ControlRequestsCostAMillisecondEachTimeoutsAndStatusAreFree) {
  uint32_t modem = 0;
  const auto cost = [&](auto call) {
    const Clock::TimePoint start = clock_.Now();
    EXPECT_EQ(call(), kFtOk);
    return Since(start);
  };
  EXPECT_EQ(cost([&] { return device_->ResetDevice(); }), 1ms);
  EXPECT_EQ(cost([&] { return device_->SetLatencyTimer(2); }), 1ms);
  EXPECT_EQ(cost([&] { return device_->SetUSBParameters(65536, 65536); }), 1ms);
  EXPECT_EQ(cost([&] { return device_->SetDataCharacteristics(8, 2, 0); }), 1ms);
  EXPECT_EQ(cost([&] { return device_->GetModemStatus(&modem); }), 1ms);
  EXPECT_EQ(cost([&] { return device_->SetFlowControl(kFtFlowRtsCts, 0, 0); }), 1ms);
  EXPECT_EQ(cost([&] { return device_->SetDivisor(0); }), 1ms);
  EXPECT_EQ(cost([&] { return device_->Purge(3); }), 1ms);
  EXPECT_EQ(cost([&] { return device_->SetTimeouts(1000, 1000); }), 0ms);
  uint32_t rx, tx, events;
  EXPECT_EQ(cost([&] { return device_->GetStatus(&rx, &tx, &events); }), 0ms);
  EXPECT_EQ(instrument_.counters().controlRequests, 9u);  // with the SetDivisor of Open
  EXPECT_EQ(instrument_.counters().purges, 1u);
}

TEST_F(LineModelTest, APurgeDropsTheAnswerStillOnItsWay) {
  Send(kCmdDeviceInfo);
  clock_.Sleep(5ms);
  EXPECT_GT(RxQueue(), 0u);
  ASSERT_EQ(device_->Purge(kFtPurgeRx | kFtPurgeTx), kFtOk);
  EXPECT_EQ(RxQueue(), 0u);
  clock_.Sleep(100ms);
  EXPECT_EQ(RxQueue(), 0u);  // the rest of it never comes

  Send(kCmdDeviceInfo);
  clock_.Sleep(100ms);
  ASSERT_EQ(device_->Purge(kFtPurgeTx), kFtOk);  // the transmit side only
  EXPECT_EQ(RxQueue(), 8706u);
}

TEST_F(LineModelTest, ModemStatusShowsClearToSend) {
  uint32_t modem = 0;
  ASSERT_EQ(device_->GetModemStatus(&modem), kFtOk);
  EXPECT_EQ(modem & 0xFF, kFtModemCts);
  instrument_.SetCts(false);
  ASSERT_EQ(device_->GetModemStatus(&modem), kFtOk);
  EXPECT_EQ(modem & 0xFF, 0u);
}

TEST_F(LineModelTest, WithHandshakeAndClearToSendDownNothingIsWritten) {
  ASSERT_EQ(device_->SetFlowControl(kFtFlowRtsCts, 0, 0), kFtOk);
  instrument_.SetCts(false);
  const std::vector<uint8_t> packet = CommandPacket(kCmdDeviceInfo);
  uint32_t written = 99;
  const Clock::TimePoint start = clock_.Now();
  ASSERT_EQ(device_->Write(packet.data(), 12, &written), kFtOk);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(Since(start), 1000ms);  // the write timeout
  EXPECT_EQ(instrument_.counters().commands, 0u);

  instrument_.SetCts(true);
  EXPECT_EQ(Exchange(kCmdDeviceInfo).Length(), 8694u);
}

TEST(UnpacedLineTest, BytesArriveAtOnceAndOnlyControlRequestsCost) {
  VirtualClock clock;
  sim::SimBus bus(clock, sim::LineTiming{.paced = false});
  bus.AttachInstrument();
  std::unique_ptr<FtDevice> device;
  ASSERT_EQ(bus.OpenByDescription("VXA-4410 Vibration Analyzer", &device), kFtOk);
  ASSERT_EQ(device->SetTimeouts(1000, 1000), kFtOk);
  const Clock::TimePoint start = clock.Now();
  const std::vector<uint8_t> packet = CommandPacket(kCmdDeviceInfo);
  uint32_t count = 0;
  ASSERT_EQ(device->Write(packet.data(), 12, &count), kFtOk);
  std::vector<uint8_t> answer(8706);
  ASSERT_EQ(device->Read(answer.data(), 8706, &count), kFtOk);
  EXPECT_EQ(count, 8706u);
  EXPECT_EQ(clock.Now(), start);
  ASSERT_EQ(device->Purge(3), kFtOk);
  EXPECT_EQ(clock.Now() - start, 1ms);
}

TEST(RealClockTest, AnExchangeWorksInRealTime) {
  RealClock clock;
  sim::SimBus bus(clock);
  bus.AttachInstrument();
  std::unique_ptr<FtDevice> device;
  ASSERT_EQ(bus.OpenByDescription("VXA-4410 Vibration Analyzer", &device), kFtOk);
  ASSERT_EQ(device->SetTimeouts(1000, 1000), kFtOk);
  const std::vector<uint8_t> packet = CommandPacket(kCmdText, kGinf);
  uint32_t count = 0;
  ASSERT_EQ(device->Write(packet.data(), static_cast<uint32_t>(packet.size()), &count), kFtOk);
  std::vector<uint8_t> answer(84);
  ASSERT_EQ(device->Read(answer.data(), 84, &count), kFtOk);
  ASSERT_EQ(count, 84u);
  EXPECT_EQ(GetU32(answer.data() + kOffLength), 72u);
  EXPECT_EQ(GetU32(answer.data() + 12 + 16), 4410017u);
}

}  // namespace
}  // namespace vxa::simtest
