#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include <gtest/gtest.h>

#include "link/drivers/SerialLine.h"
#include "link/drivers/SerialPortDriver.h"
#include "tests/drivers/PtyPair.h"
#include "text/Messages.h"

namespace vxa {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

// The backend on the slave side of a fresh pseudo-terminal, opened the way the program opens the
// instrument: listing, then open by the instrument's description.
class SerialLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    uint32_t count = 0;
    ASSERT_EQ(driver_.CountDevices(&count), kFtOk);
    std::unique_ptr<FtDevice> opened;
    ASSERT_EQ(driver_.OpenByDescription(SerialPortDriver::kExplicitPortDescription, &opened), kFtOk)
        << driver_.LastError();
    device_.reset(static_cast<SerialLine*>(opened.release()));
  }

  // Waits until the backend sees `count` bytes in its input queue (the pty hands written bytes
  // over through a kernel work queue, not at once).
  uint32_t WaitForInput(uint32_t count) {
    uint32_t rx = 0, tx = 0, events = 0;
    for (auto until = Steady::now() + 5s; Steady::now() < until; std::this_thread::sleep_for(2ms)) {
      EXPECT_EQ(device_->GetStatus(&rx, &tx, &events), kFtOk);
      if (rx >= count) break;
    }
    return rx;
  }

  test::PtyPair pty_;
  SerialPortDriver driver_{pty_.SlavePath()};
  std::unique_ptr<SerialLine> device_;
};

TEST_F(SerialLineTest, SettingsReadBackOnTheOtherSide) {
  ASSERT_EQ(device_->SetDataCharacteristics(kFtBits8, kFtStopBits2, kFtParityNone), kFtOk);
  ASSERT_EQ(device_->SetDivisor(kFtDivisor3M), kFtOk) << device_->LastError();
  ASSERT_EQ(device_->SetFlowControl(kFtFlowRtsCts, 0, 0), kFtOk);

  struct termios seen {};
  ASSERT_EQ(::tcgetattr(pty_.Master(), &seen), 0);  // a pty master reports its slave's settings
  EXPECT_EQ(seen.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_NE(seen.c_cflag & CSTOPB, 0u);
  EXPECT_EQ(seen.c_cflag & PARENB, 0u);
  EXPECT_NE(seen.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(seen.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(seen.c_iflag & (ICRNL | INLCR | IGNCR | IXON | ISTRIP), 0u);
  EXPECT_EQ(seen.c_oflag & OPOST, 0u);
  EXPECT_EQ(test::OutputSpeedOf(pty_.Master()), 3'000'000u);  // kept through the later settings
  EXPECT_EQ(device_->LineSpeed(), 3'000'000u);

  ASSERT_EQ(device_->SetFlowControl(kFtFlowNone, 0, 0), kFtOk);
  ASSERT_EQ(device_->SetDivisor(kFtDivisor1M5), kFtOk) << device_->LastError();
  ASSERT_EQ(::tcgetattr(pty_.Master(), &seen), 0);
  EXPECT_EQ(seen.c_cflag & CRTSCTS, 0u);
  EXPECT_NE(seen.c_cflag & CSTOPB, 0u);
  EXPECT_EQ(test::OutputSpeedOf(pty_.Master()), 1'500'000u);
}

TEST_F(SerialLineTest, ResetEmptiesTheInputAndKeepsTheSettings) {
  ASSERT_EQ(device_->SetDataCharacteristics(kFtBits8, kFtStopBits2, kFtParityNone), kFtOk);
  ASSERT_EQ(device_->SetDivisor(kFtDivisor1M5), kFtOk);
  pty_.Write("stale");
  ASSERT_EQ(WaitForInput(5), 5u);

  ASSERT_EQ(device_->ResetDevice(), kFtOk);

  uint32_t rx = 1, tx = 1, events = 1;
  ASSERT_EQ(device_->GetStatus(&rx, &tx, &events), kFtOk);
  EXPECT_EQ(rx, 0u);
  struct termios seen {};
  ASSERT_EQ(::tcgetattr(pty_.Master(), &seen), 0);
  EXPECT_NE(seen.c_cflag & CSTOPB, 0u);
  EXPECT_EQ(test::OutputSpeedOf(pty_.Master()), 1'500'000u);
}

TEST_F(SerialLineTest, TheRestOfTheOpenSequenceSucceedsOnAPty) {
  EXPECT_EQ(device_->SetLatencyTimer(2), kFtOk);  // no latency timer behind a pty: skipped
  EXPECT_EQ(device_->SetUSBParameters(65536, 65536), kFtOk);
  EXPECT_EQ(device_->SetTimeouts(1000, 1000), kFtOk);
  uint32_t modem = 0xFFFF;
  EXPECT_EQ(device_->GetModemStatus(&modem), kFtOk);
  EXPECT_EQ(modem, 0u);  // no modem lines: all read as low
  EXPECT_EQ(device_->SetLatencyTimer(0), kFtInvalidParameter);
  EXPECT_EQ(device_->SetDataCharacteristics(9, kFtStopBits2, kFtParityNone), kFtInvalidParameter);
}

TEST_F(SerialLineTest, WrittenBytesArriveOnTheOtherSide) {
  // More than a pty holds at once: the write has to wait for room while the far side reads.
  std::string packet(40000, '\0');
  for (size_t i = 0; i < packet.size(); ++i) packet[i] = static_cast<char>(i * 7 + 3);
  std::string received;
  std::thread reader([&] { received = pty_.Read(packet.size()); });

  ASSERT_EQ(device_->SetTimeouts(1000, 5000), kFtOk);
  uint32_t written = 0;
  EXPECT_EQ(device_->Write(packet.data(), static_cast<uint32_t>(packet.size()), &written), kFtOk);
  reader.join();
  EXPECT_EQ(written, packet.size());
  EXPECT_EQ(received, packet);
}

TEST_F(SerialLineTest, WriteStopsAtItsTimeoutWhenNobodyReads) {
  ASSERT_EQ(device_->SetTimeouts(1000, 200), kFtOk);
  const std::string packet(1 << 20, 'x');
  uint32_t written = 0;
  const auto started = Steady::now();
  EXPECT_EQ(device_->Write(packet.data(), static_cast<uint32_t>(packet.size()), &written), kFtOk);
  const auto took = Steady::now() - started;
  EXPECT_LT(written, packet.size());
  EXPECT_GE(took, 200ms);
  EXPECT_LT(took, 10s);
}

TEST_F(SerialLineTest, ReadGivesWhatArrivedWhenTheTimeoutRunsOut) {
  ASSERT_EQ(device_->SetTimeouts(300, 1000), kFtOk);
  pty_.Write("12345");
  char buffer[12] = {};
  uint32_t read = 0;
  const auto started = Steady::now();
  EXPECT_EQ(device_->Read(buffer, sizeof buffer, &read), kFtOk);
  const auto took = Steady::now() - started;
  EXPECT_EQ(read, 5u);
  EXPECT_EQ(std::string(buffer, read), "12345");
  EXPECT_GE(took, 300ms);
  EXPECT_LT(took, 10s);
}

TEST_F(SerialLineTest, ReadReturnsAsSoonAsAllBytesHaveArrived) {
  ASSERT_EQ(device_->SetTimeouts(30000, 1000), kFtOk);
  std::thread writer([&] {
    pty_.Write("header");
    std::this_thread::sleep_for(50ms);
    pty_.Write("+body!");
  });
  char buffer[12] = {};
  uint32_t read = 0;
  const auto started = Steady::now();
  EXPECT_EQ(device_->Read(buffer, sizeof buffer, &read), kFtOk);
  const auto took = Steady::now() - started;
  writer.join();
  EXPECT_EQ(std::string(buffer, read), "header+body!");
  EXPECT_LT(took, 15s);  // far from the 30 s timeout: it did not wait for it
}

TEST_F(SerialLineTest, StatusCountsWaitingBytesAndPurgeThrowsThemAway) {
  ASSERT_EQ(device_->SetTimeouts(50, 1000), kFtOk);
  pty_.Write("a late answer");
  EXPECT_EQ(WaitForInput(13), 13u);
  char buffer[16];
  uint32_t read = 0, rx = 0, tx = 99, events = 99;
  ASSERT_EQ(device_->Read(buffer, 2, &read), kFtOk);
  ASSERT_EQ(device_->GetStatus(&rx, &tx, &events), kFtOk);
  EXPECT_EQ(rx, 11u);
  EXPECT_EQ(tx, 0u);
  EXPECT_EQ(events, 0u);

  ASSERT_EQ(device_->Purge(kFtPurgeRx | kFtPurgeTx), kFtOk);
  ASSERT_EQ(device_->GetStatus(&rx, &tx, &events), kFtOk);
  EXPECT_EQ(rx, 0u);
  EXPECT_EQ(device_->Read(buffer, sizeof buffer, &read), kFtOk);
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(device_->Purge(4), kFtInvalidParameter);
}

TEST_F(SerialLineTest, ReadEndsPromptlyWhenTheOtherSideCloses) {
  ASSERT_EQ(device_->SetTimeouts(20000, 1000), kFtOk);
  std::thread closer([&] {
    std::this_thread::sleep_for(50ms);
    pty_.CloseMaster();
  });
  char buffer[12];
  uint32_t read = 1;
  const auto started = Steady::now();
  EXPECT_EQ(device_->Read(buffer, sizeof buffer, &read), kFtOk);
  const auto took = Steady::now() - started;
  closer.join();
  EXPECT_EQ(read, 0u);
  EXPECT_LT(took, 10s);  // the hang-up ended the wait, not the 20 s timeout

  // From now on the port is dead, and says so.
  uint32_t rx = 0, tx = 0, events = 0;
  EXPECT_EQ(device_->GetStatus(&rx, &tx, &events), kFtIoError);
  EXPECT_EQ(device_->LastFault().kind, BridgeCause::kDisconnected);
  EXPECT_EQ(device_->LastError(), MessageText(msg::kCauseDisconnected, 0));
  uint32_t written = 0;
  EXPECT_EQ(device_->Write("x", 1, &written), kFtIoError);
}

// The port's exclusive flag as a fresh descriptor sees it: -1 when it cannot be opened.
int ExclusiveFlag(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == EBUSY ? 1 : -1;
  int exclusive = -1;
  if (::ioctl(fd, TIOCGEXCL, &exclusive) != 0) exclusive = -1;
  ::close(fd);
  return exclusive;
}

// A privileged user passes the exclusive flag, but not the lock: a second program is refused
// whoever runs it. The flag goes with the port, while the far side keeps the line open.
TEST_F(SerialLineTest, TheOpenIsExclusiveForEveryUserAndLeavesNothingBehind) {
  EXPECT_EQ(ExclusiveFlag(pty_.SlavePath()), 1);
  SerialPortDriver second(pty_.SlavePath());
  std::unique_ptr<FtDevice> refused;
  EXPECT_EQ(second.OpenByDescription(SerialPortDriver::kExplicitPortDescription, &refused),
            kFtDeviceNotOpened);
  EXPECT_EQ(refused, nullptr);
  EXPECT_EQ(second.LastError(),
            FormatText(MessageText(msg::kComPortBusy, 0), pty_.SlavePath().c_str()));
  EXPECT_EQ(ExclusiveFlag(pty_.SlavePath()), 1);  // the refused one cleared nothing

  ASSERT_EQ(device_->Close(), kFtOk);
  EXPECT_EQ(ExclusiveFlag(pty_.SlavePath()), 0);
  EXPECT_EQ(second.OpenByDescription(SerialPortDriver::kExplicitPortDescription, &refused), kFtOk)
      << second.LastError();
}

TEST_F(SerialLineTest, EveryCallFailsAfterClose) {
  ASSERT_EQ(device_->Close(), kFtOk);
  uint32_t value = 0, rx = 0, tx = 0, events = 0;
  char buffer[4];
  EXPECT_EQ(device_->Write("abcd", 4, &value), kFtInvalidHandle);
  EXPECT_EQ(device_->Read(buffer, 4, &value), kFtInvalidHandle);
  EXPECT_EQ(device_->GetStatus(&rx, &tx, &events), kFtInvalidHandle);
  EXPECT_EQ(device_->Purge(kFtPurgeRx), kFtInvalidHandle);
  EXPECT_EQ(device_->SetDivisor(kFtDivisor3M), kFtInvalidHandle);
  EXPECT_EQ(device_->GetModemStatus(&value), kFtInvalidHandle);
  EXPECT_EQ(device_->Close(), kFtInvalidHandle);

  // ...and the port is free for the next one.
  std::unique_ptr<FtDevice> again;
  EXPECT_EQ(driver_.OpenByDescription(SerialPortDriver::kExplicitPortDescription, &again), kFtOk);
}

// A port of the system that refuses or bends what it is asked: how each refusal is named.
class RefusingPort final : public SerialPortIo {
 public:
  unsigned long applyError = 0;  // for a line with a speed, or for any with `everyApply`
  bool everyApply = false;
  uint32_t runsAt = 0;  // the speed it reports; 0: the one asked

  unsigned long Apply(const LineSettings& line) override {
    if (everyApply || line.baud != 0) return applyError;
    return 0;
  }
  unsigned long Speed(uint32_t* baud) override {
    *baud = runsAt != 0 ? runsAt : BaudRateOfDivisor(kFtDivisor3M);
    return 0;
  }
  unsigned long SetLatency(uint8_t) override { return 0; }
  void SetQueueSizes(uint32_t, uint32_t) override {}
  unsigned long ModemLines(uint32_t* lines) override { return *lines = 0; }
  unsigned long Flush(bool, bool) override { return 0; }
  PortError Write(const uint8_t*, uint32_t, uint32_t, uint32_t*) override { return {}; }
  PortError Read(uint8_t*, uint32_t, uint32_t, uint32_t*) override { return {}; }
  PortError Queues(uint32_t*, uint32_t*) override { return {}; }
  void Abort() override {}
};

TEST(SerialLineCauseTest, ARefusedSpeedOrSettingIsNamedWithItsKind) {
  const char* const port = "/dev/ttyS0";
  const std::string einval = std::generic_category().message(EINVAL);
  const struct {
    const char* name;
    unsigned long applyError;
    bool everyApply;
    uint32_t runsAt;
    bool divisor;  // SetDivisor, or else SetFlowControl
    FtStatus status;
    BridgeCause cause;
    std::string text;
  } rows[] = {
      {"falls back to 9600", 0, false, 9600, true, kFtInvalidBaudRate, BridgeCause::kNotSupported,
       FormatText(MessageText(msg::kCausePortSpeedReported, 0), port, 9600u, 3000000u)},
      {"refuses the rate", EINVAL, false, 0, true, kFtInvalidBaudRate, BridgeCause::kNotSupported,
       FormatText(MessageText(msg::kCausePortSpeed, 0), port, 3000000u)},
      {"gone at the rate", EIO, false, 0, true, kFtIoError, BridgeCause::kDisconnected,
       MessageText(msg::kCauseDisconnected, 0)},
      {"refuses flow control", EINVAL, true, 0, false, kFtIoError, BridgeCause::kNotSupported,
       FormatText(MessageText(msg::kCausePortSetting, 0), port, einval.c_str())},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto io = std::make_unique<RefusingPort>();
    io->applyError = row.applyError;
    io->everyApply = row.everyApply;
    io->runsAt = row.runsAt;
    SerialLine line(std::move(io), port);
    EXPECT_EQ(line.LastFault().kind, BridgeCause::kNone);
    const FtStatus status = row.divisor ? line.SetDivisor(kFtDivisor3M)
                                        : line.SetFlowControl(kFtFlowRtsCts, 0, 0);
    EXPECT_EQ(status, row.status);
    EXPECT_EQ(line.LastFault().kind, row.cause);
    EXPECT_EQ(line.LastError(), row.text);
  }
}

}  // namespace
}  // namespace vxa
