#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "link/drivers/LibFtdiDevice.h"
#include "link/drivers/LibFtdiDriver.h"
#include "tests/drivers/FakeFtdi.h"
#include "text/Messages.h"

// The libftdi backend's own logic over a scripted libftdi: the read loop, the write slices, the
// fetch-ahead behind GetStatus, and what libftdi's results mean to the program.
namespace vxa {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;
using Step = test::FtdiScript::ReadStep;

class LibFtdiDeviceTest : public ::testing::Test {
 protected:
  std::shared_ptr<test::FtdiScript> script_ = std::make_shared<test::FtdiScript>();
  LibFtdiDevice device_{std::make_unique<test::FakeFtdiLink>(script_), "VXA-4410"};
};

TEST_F(LibFtdiDeviceTest, ReadLoopsOverEmptyTransfersUntilAllBytesHaveArrived) {
  // A libusb timeout only means the bridge stayed silent for a whole transfer.
  script_->reads = {{0, ""}, {ftdi::kUsbErrorTimeout, ""}, {5, "hello"}, {0, ""}, {7, " world!"}};
  ASSERT_EQ(device_.SetTimeouts(30000, 1000), kFtOk);
  char buffer[12];
  uint32_t read = 0;
  ASSERT_EQ(device_.Read(buffer, sizeof buffer, &read), kFtOk);
  EXPECT_EQ(std::string(buffer, read), "hello world!");
  EXPECT_EQ(script_->readCalls, 5);  // and not one more once the count was reached
}

TEST_F(LibFtdiDeviceTest, ReadGivesWhatArrivedWhenTheTimeoutRunsOut) {
  script_->reads = {{3, "abc"}};
  ASSERT_EQ(device_.SetTimeouts(100, 1000), kFtOk);
  char buffer[12];
  uint32_t read = 0;
  const auto started = Steady::now();
  ASSERT_EQ(device_.Read(buffer, sizeof buffer, &read), kFtOk);
  const auto took = Steady::now() - started;
  EXPECT_EQ(std::string(buffer, read), "abc");
  EXPECT_GE(took, 100ms);
  EXPECT_LT(took, 10s);
}

// Between two transfers the read looks whether it was aborted; nothing goes out after that.
TEST_F(LibFtdiDeviceTest, AnAbortEndsTheReadInFlightAndNothingIsWrittenAfter) {
  ASSERT_EQ(device_.SetTimeouts(60000, 1000), kFtOk);
  char buffer[12];
  uint32_t read = 99;
  FtStatus status = kFtOk;
  std::thread reader([&] { status = device_.Read(buffer, sizeof buffer, &read); });
  std::this_thread::sleep_for(20ms);
  device_.Abort();
  reader.join();
  EXPECT_EQ(status, kFtAborted);
  EXPECT_EQ(read, 0u);
  uint32_t written = 99;
  EXPECT_EQ(device_.Write("abcd", 4, &written), kFtAborted);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(script_->wire, "");
}

TEST_F(LibFtdiDeviceTest, ReadPausesRatherThanSpinsWhenTransfersComeBackEmptyAtOnce) {
  script_->idleDelay = 0ms;
  ASSERT_EQ(device_.SetTimeouts(100, 1000), kFtOk);
  char buffer[4];
  uint32_t read = 0;
  ASSERT_EQ(device_.Read(buffer, sizeof buffer, &read), kFtOk);
  EXPECT_EQ(read, 0u);
  EXPECT_GE(script_->readCalls, 1);
  EXPECT_LE(script_->readCalls, 101);  // at least a millisecond between two tries
}

TEST_F(LibFtdiDeviceTest, AFailedTransferIsAnIoErrorThatKeepsWhatCameBefore) {
  script_->reads = {{2, "ab"}, {ftdi::kUsbErrorNoDevice, ""}};
  ASSERT_EQ(device_.SetTimeouts(5000, 1000), kFtOk);
  char buffer[8];
  uint32_t read = 0;
  EXPECT_EQ(device_.Read(buffer, sizeof buffer, &read), kFtIoError);
  EXPECT_EQ(read, 2u);
  EXPECT_EQ(device_.LastFault().kind, BridgeCause::kDisconnected);
  EXPECT_EQ(device_.LastError(), MessageText(msg::kCauseDisconnected, 0));
}

TEST_F(LibFtdiDeviceTest, StatusCountsBytesThatArrivedAndReadHandsThemOutFirst) {
  script_->reads = {{3, "xyz"}};
  script_->buffered = 2;  // libftdi's own remainder of the last transfer
  uint32_t rx = 0, tx = 9, events = 9;
  ASSERT_EQ(device_.GetStatus(&rx, &tx, &events), kFtOk);
  EXPECT_EQ(rx, 5u);
  EXPECT_EQ(tx, 0u);
  EXPECT_EQ(events, 0u);

  script_->buffered = 0;
  script_->reads = {{2, "!!"}};
  const int callsBefore = script_->readCalls;
  ASSERT_EQ(device_.SetTimeouts(1000, 1000), kFtOk);
  char buffer[5];
  uint32_t read = 0;
  ASSERT_EQ(device_.Read(buffer, sizeof buffer, &read), kFtOk);
  EXPECT_EQ(std::string(buffer, read), "xyz!!");
  EXPECT_EQ(script_->readCalls, callsBefore + 1);
}

TEST_F(LibFtdiDeviceTest, PurgeDropsHeldBytesAndFlushesTheQueuesAsked) {
  script_->reads = {{4, "late"}};
  uint32_t rx = 0, tx = 0, events = 0;
  ASSERT_EQ(device_.GetStatus(&rx, &tx, &events), kFtOk);
  ASSERT_EQ(rx, 4u);

  ASSERT_EQ(device_.Purge(kFtPurgeRx | kFtPurgeTx), kFtOk);
  ASSERT_EQ(device_.Purge(kFtPurgeRx), kFtOk);
  ASSERT_EQ(device_.Purge(kFtPurgeTx), kFtOk);
  const std::vector<std::pair<bool, bool>> expected = {{true, true}, {true, false}, {false, true}};
  EXPECT_EQ(script_->flushes, expected);
  ASSERT_EQ(device_.GetStatus(&rx, &tx, &events), kFtOk);
  EXPECT_EQ(rx, 0u);
}

TEST_F(LibFtdiDeviceTest, TheOpenSequenceReachesLibftdiInItsTerms) {
  EXPECT_EQ(device_.ResetDevice(), kFtOk);
  EXPECT_EQ(device_.SetLatencyTimer(2), kFtOk);
  EXPECT_EQ(device_.SetUSBParameters(65536, 65536), kFtOk);
  EXPECT_EQ(device_.SetTimeouts(1000, 1000), kFtOk);
  EXPECT_EQ(device_.SetDataCharacteristics(kFtBits8, kFtStopBits2, kFtParityNone), kFtOk);
  script_->modemStatus = 0x6011;  // CTS, line status 0x60, a reserved low bit
  uint32_t modem = 0;
  EXPECT_EQ(device_.GetModemStatus(&modem), kFtOk);
  EXPECT_EQ(device_.SetFlowControl(kFtFlowRtsCts, 0, 0), kFtOk);
  EXPECT_EQ(device_.SetDivisor(kFtDivisor3M), kFtOk);

  EXPECT_EQ(script_->resets, 1);
  EXPECT_EQ(script_->latency, 2);
  EXPECT_EQ(script_->chunkSizes, std::make_pair(uint32_t{16384}, uint32_t{65536}));
  EXPECT_EQ(script_->usbTimeouts, std::make_pair(1000, 1000));
  EXPECT_EQ(script_->lineProperty, (std::vector<int>{8, 2, 0}));
  EXPECT_EQ(modem & 0xFF, kFtModemCts);
  EXPECT_EQ(script_->flowControl, 0x0100);
  EXPECT_EQ(script_->divisor, 0);

  EXPECT_EQ(device_.SetFlowControl(kFtFlowNone, 0, 0), kFtOk);
  EXPECT_EQ(script_->flowControl, 0);
  EXPECT_EQ(device_.SetDataCharacteristics(8, 3, 0), kFtInvalidParameter);

  script_->controlResult = -1;
  EXPECT_EQ(device_.SetDivisor(kFtDivisor1M5), kFtIoError);
  EXPECT_NE(device_.LastError().find("scripted failure"), std::string::npos);
}

TEST_F(LibFtdiDeviceTest, WritesGoOutInSlices) {
  std::string packet(10000, '\0');
  for (size_t i = 0; i < packet.size(); ++i) packet[i] = static_cast<char>(i % 251);
  ASSERT_EQ(device_.SetTimeouts(1000, 1000), kFtOk);
  uint32_t written = 0;
  ASSERT_EQ(device_.Write(packet.data(), static_cast<uint32_t>(packet.size()), &written), kFtOk);
  EXPECT_EQ(written, packet.size());
  EXPECT_EQ(script_->wire, packet);
  EXPECT_EQ(script_->writeSlices, (std::vector<int>{4096, 4096, 1808}));
  EXPECT_EQ(script_->usbTimeouts, std::make_pair(1000, 1000));  // put back after the slices
}

TEST_F(LibFtdiDeviceTest, AWriteThatRunsIntoItsTimeoutSaysHowMuchWentOut) {
  script_->writeResults = {4096, -1};
  script_->writeFailureDelay = 150ms;  // the transfer hung until the write timeout was over
  ASSERT_EQ(device_.SetTimeouts(1000, 100), kFtOk);
  const std::string packet(10000, 'w');
  uint32_t written = 0;
  EXPECT_EQ(device_.Write(packet.data(), static_cast<uint32_t>(packet.size()), &written), kFtOk);
  EXPECT_EQ(written, 4096u);
}

TEST_F(LibFtdiDeviceTest, AWriteThatFailsBeforeItsTimeoutIsAnIoError) {
  script_->writeResults = {-1};
  ASSERT_EQ(device_.SetTimeouts(1000, 5000), kFtOk);
  uint32_t written = 7;
  EXPECT_EQ(device_.Write("data", 4, &written), kFtIoError);
  EXPECT_EQ(written, 0u);
}

TEST_F(LibFtdiDeviceTest, CloseLetsGoOfTheBridgeOnceAndLaterCallsFail) {
  ASSERT_EQ(device_.Close(), kFtOk);
  EXPECT_EQ(script_->closes, 1);
  EXPECT_TRUE(script_->destroyed);
  uint32_t value = 0, rx = 0, tx = 0, events = 0;
  char buffer[4];
  EXPECT_EQ(device_.Read(buffer, 4, &value), kFtInvalidHandle);
  EXPECT_EQ(device_.Write("abcd", 4, &value), kFtInvalidHandle);
  EXPECT_EQ(device_.GetStatus(&rx, &tx, &events), kFtInvalidHandle);
  EXPECT_EQ(device_.Close(), kFtInvalidHandle);
  EXPECT_EQ(script_->closes, 1);
}

// The driver: listing and opening over a scripted bus.
class LibFtdiDriverTest : public ::testing::Test {
 protected:
  LibFtdiDriverTest() {
    auto bus = std::make_unique<test::FakeFtdiBus>();
    bus_ = bus.get();
    driver_ = std::make_unique<LibFtdiDriver>(std::move(bus));
  }
  std::unique_ptr<FtDevice> Open() {
    std::unique_ptr<FtDevice> device;
    status_ = driver_->OpenByDescription("VXA-4410 Vibration Analyzer", &device);
    return device;
  }

  test::FakeFtdiBus* bus_;
  std::unique_ptr<LibFtdiDriver> driver_;
  FtStatus status_ = kFtOk;
};

TEST_F(LibFtdiDriverTest, ListingCountsEveryBridgeOverTheProductIds) {
  bus_->devices[0x6001] = {{0x6001, "/dev/bus/usb/001/004", 0, "VXA-4410 Vibration Analyzer"},
                           {0x6001, "/dev/bus/usb/001/005", 0, "FT232R USB UART"}};
  bus_->devices[0x6015] = {{0x6015, "/dev/bus/usb/002/002", -4, ""}};
  uint32_t count = 0;
  ASSERT_EQ(driver_->CountDevices(&count), kFtOk);
  EXPECT_EQ(count, 3u);
  std::string description;
  ASSERT_EQ(driver_->DeviceDescription(1, &description), kFtOk);
  EXPECT_EQ(description, "FT232R USB UART");
  EXPECT_EQ(driver_->DeviceDescription(3, &description), kFtDeviceNotFound);
}

TEST_F(LibFtdiDriverTest, NoBridgeIsNotFoundAndABrokenListingIsAnotherError) {
  uint32_t count = 9;
  EXPECT_EQ(driver_->CountDevices(&count), kFtDeviceNotFound);
  EXPECT_EQ(count, 0u);
  bus_->findResult = -5;
  EXPECT_EQ(driver_->CountDevices(&count), kFtOtherError);
}

TEST_F(LibFtdiDriverTest, OpenTriesEveryProductIdUntilOneHasTheDescription) {
  EXPECT_EQ(Open(), nullptr);
  EXPECT_EQ(status_, kFtDeviceNotFound);

  bus_->openedProductIds.clear();
  bus_->opens[0x6001] = {-4, "usb_open() failed"};  // some other bridge we may not open
  bus_->opens[0x6015] = {0, ""};
  std::unique_ptr<FtDevice> device = Open();
  ASSERT_EQ(status_, kFtOk);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(bus_->openedProductIds, (std::vector<int>{0x6001, 0x6010, 0x6011, 0x6014, 0x6015}));
  EXPECT_EQ(device->SetDivisor(kFtDivisor1M5), kFtOk);
  EXPECT_EQ(bus_->script->divisor, 2);
}

// Two instruments look alike but for their node and serial number: the one chosen is opened by
// its place on the bus, and one unplugged since the listing is not found.
TEST_F(LibFtdiDriverTest, ABridgeOfTheListingIsOpenedAtItsPlaceOnTheBus) {
  const char* description = "VXA-4410 Vibration Analyzer";
  bus_->devices[0x6001] = {{0x6001, "/dev/bus/usb/001/004", 0, description, "FT1", 1, 4},
                           {0x6001, "/dev/bus/usb/001/007", 0, description, "FT2", 1, 7}};
  uint32_t count = 0;
  ASSERT_EQ(driver_->CountDevices(&count), kFtOk);
  BridgeInfo second;
  ASSERT_EQ(driver_->DescribeDevice(1, &second), kFtOk);
  EXPECT_EQ(second.location, "/dev/bus/usb/001/007");
  EXPECT_EQ(second.serialNumber, "FT2");
  bus_->byAddress = {0, ""};
  std::unique_ptr<FtDevice> device;
  ASSERT_EQ(driver_->OpenBridge(second, &device), kFtOk);
  EXPECT_EQ(bus_->openedAddresses, (std::vector<std::pair<int, int>>{{1, 7}}));
  EXPECT_TRUE(bus_->openedProductIds.empty());

  bus_->devices[0x6001].pop_back();
  EXPECT_EQ(driver_->OpenBridge(second, &device), kFtDeviceNotFound);
  EXPECT_EQ(device, nullptr);
  EXPECT_EQ(bus_->openedAddresses.size(), 1u);
}

TEST_F(LibFtdiDriverTest, MissingPermissionPointsToTheUdevRule) {
  bus_->devices[0x6001] = {{0x6001, "/dev/bus/usb/001/004", -4, ""}};
  bus_->forbiddenNodes = {"/dev/bus/usb/001/004"};
  bus_->opens[0x6001] = {-4, "usb_open() failed"};
  EXPECT_EQ(Open(), nullptr);
  EXPECT_EQ(status_, kFtDeviceNotOpened);
  EXPECT_EQ(driver_->LastError(),
            FormatText(MessageText(msg::kUsbNodePermission, 0), "/dev/bus/usb/001/004"));
}

TEST_F(LibFtdiDriverTest, ABridgeHeldByTheKernelDriverSaysSo) {
  bus_->opens[0x6001] = {-5, "unable to claim usb device"};
  EXPECT_EQ(Open(), nullptr);
  EXPECT_EQ(status_, kFtDeviceNotOpened);
  EXPECT_NE(driver_->LastError().find("ftdi_sio"), std::string::npos);

  // libftdi's -3 is also its code for a configuration the kernel driver would not give up.
  bus_->opens[0x6001] = {-3, "unable to set usb configuration"};
  EXPECT_EQ(Open(), nullptr);
  EXPECT_EQ(status_, kFtDeviceNotOpened);
  EXPECT_NE(driver_->LastError().find("ftdi_sio"), std::string::npos);
}

}  // namespace
}  // namespace vxa
