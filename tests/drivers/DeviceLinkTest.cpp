// What the device link needs of every backend, tested over each: the in-process simulated bus,
// the vendor's library (our stand-in with the simulated instrument behind it) and, on Linux, the
// serial port on a pseudo-terminal with the pty simulator on the far side.
#include "tests/drivers/DeviceLinkTest.h"

#include <span>
#include <thread>
#include <vector>

#include "app/image/ResReadTransBuffer.h"
#include "link/Errors.h"
#include "link/UsbChannel.h"
#include "link/drivers/D2xxDriver.h"
#include "protocol/Connection.h"
#include "link/InstrumentProtocol.h"
#include "sim/SimBus.h"
#include "text/Messages.h"

namespace vxa::test {

void DeviceLink::SetUp() {
  std::string error;
  link_ = GetParam().make(&error);
  ASSERT_TRUE(link_) << error;
}

std::string LinkBackendName(const ::testing::TestParamInfo<LinkBackend>& info) {
  return info.param.name;
}

namespace {

class SimulatedLink final : public LinkUnderTest {
 public:
  SimulatedLink() : bus_(clock_) { bus_.AttachInstrument(); }
  FtDriver& Driver() override { return bus_; }
  Clock& clock() override { return clock_; }

 private:
  VirtualClock clock_;
  sim::SimBus bus_;
};

class D2xxLink final : public LinkUnderTest {
 public:
  explicit D2xxLink(std::unique_ptr<D2xxDriver> driver) : driver_(std::move(driver)) {}
  FtDriver& Driver() override { return *driver_; }
  Clock& clock() override { return clock_; }

 private:
  RealClock clock_;
  std::unique_ptr<D2xxDriver> driver_;
};

std::unique_ptr<LinkUnderTest> MakeSimulated(std::string*) {
  return std::make_unique<SimulatedLink>();
}

std::unique_ptr<LinkUnderTest> MakeD2xx(std::string* error) {
  std::unique_ptr<D2xxDriver> driver = D2xxDriver::Load(VXA_D2XX_STANDIN, error);
  if (!driver) return nullptr;
  return std::make_unique<D2xxLink>(std::move(driver));
}

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
  return bytes;
}

// Runs the traffic steps of a started transfer on this thread until it is idle again.
void RunToIdle(TVXA4410Connection& connection) {
  for (int steps = 0; !connection.IsIdle() && steps < 1000; ++steps) connection.TrafficStep();
  ASSERT_TRUE(connection.IsIdle());
  connection.CheckError();
}

}  // namespace

TEST_P(DeviceLink, ListsTheInstrumentByItsDescription) {
  uint32_t count = 0;
  ASSERT_EQ(Driver().CountDevices(&count), kFtOk);
  ASSERT_EQ(count, 1u);
  std::string description;
  ASSERT_EQ(Driver().DeviceDescription(0, &description), kFtOk);
  EXPECT_EQ(description, kDeviceDescription);
}

// Where every bridge has the instrument's description, each is opened by what tells it apart; one
// that is no longer where the listing saw it is not found.
TEST_P(DeviceLink, AListedBridgeIsOpenedByItsPlaceOrSerialNumber) {
  uint32_t count = 0;
  ASSERT_EQ(Driver().CountDevices(&count), kFtOk);
  BridgeInfo bridge;
  ASSERT_EQ(Driver().DescribeDevice(0, &bridge), kFtOk);
  EXPECT_EQ(bridge.description, kDeviceDescription);
  EXPECT_FALSE(bridge.location.empty() && bridge.serialNumber.empty());
  TVXA4410Connection connection(Driver(), clock());
  ASSERT_TRUE(connection.Open(&bridge));
  connection.QueryGinf();
  EXPECT_EQ(connection.ProgramVersionText(), "1.22.0");

  BridgeInfo elsewhere = bridge;
  elsewhere.location += "9";
  elsewhere.serialNumber += "9";
  std::unique_ptr<FtDevice> device;
  EXPECT_EQ(Driver().OpenBridge(elsewhere, &device), kFtDeviceNotFound);
  EXPECT_EQ(device, nullptr);
}

TEST_P(DeviceLink, TheChannelOpensAndTheInstrumentSaysWhatItIs) {
  TVXA4410Connection connection(Driver(), clock());
  ASSERT_TRUE(connection.Open());
  connection.QueryDeviceInfo();
  connection.QueryGinf();
  EXPECT_EQ(connection.ModelText(), "VXA-4410");
  EXPECT_EQ(connection.ProgramVersionText(), "1.22.0");
}

TEST_P(DeviceLink, AFileWrittenComesBackTheSame) {
  const std::vector<uint8_t> data = Pattern(70000);
  TResReadTransBuffer buffer{std::span<const uint8_t>(data)};
  TVXA4410Connection connection(Driver(), clock());
  ASSERT_TRUE(connection.Open());
  connection.Bind(&buffer);
  std::string refusal;
  ASSERT_EQ(connection.StartWrite(kFileSwap, refusal), static_cast<int>(data.size())) << refusal;
  RunToIdle(connection);
  ASSERT_TRUE(connection.Done());
  // The read-back compares every block with what was written.
  ASSERT_EQ(connection.StartRead(kFileSwap, refusal), 0) << refusal;
  RunToIdle(connection);
  EXPECT_TRUE(connection.Done());
  EXPECT_EQ(buffer.GetPosition(), static_cast<int>(data.size()));
}

TEST_P(DeviceLink, AReadEndsAtItsTimeoutWithWhatHasArrived) {
  std::unique_ptr<FtDevice> device;
  ASSERT_EQ(Driver().OpenByDescription(kDeviceDescription, &device), kFtOk);
  ASSERT_EQ(device->SetTimeouts(50, 50), kFtOk);
  uint8_t bytes[12] = {};
  uint32_t read = 99;
  const Clock::TimePoint start = clock().Now();
  EXPECT_EQ(device->Read(bytes, sizeof bytes, &read), kFtOk);
  EXPECT_EQ(read, 0u);
  EXPECT_GE(clock().Now() - start, std::chrono::milliseconds(50));
  EXPECT_EQ(device->Close(), kFtOk);
}

// An abort from another thread ends a read that would wait for a minute, and nothing is written
// after it. (In virtual time a read does not wait in real time: the abort comes first there.)
TEST_P(DeviceLink, AnAbortEndsTheReadInFlightAndNothingIsWrittenAfter) {
  std::unique_ptr<FtDevice> device;
  ASSERT_EQ(Driver().OpenByDescription(kDeviceDescription, &device), kFtOk);
  ASSERT_EQ(device->SetTimeouts(60000, 1000), kFtOk);
  uint8_t bytes[12] = {};
  uint32_t read = 99;
  FtStatus status = kFtOk;
  if (clock().IsVirtual()) device->Abort();
  std::thread reader([&] { status = device->Read(bytes, sizeof bytes, &read); });
  if (!clock().IsVirtual()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // most likely in flight by now
    device->Abort();
  }
  reader.join();
  EXPECT_EQ(status, kFtAborted);
  EXPECT_EQ(read, 0u);
  const uint8_t deviceInfo[] = {0x69, 0x58, 0x1E, 0, 0, 0, 0, 0, 0, 0, 0x85, 0x96};
  uint32_t written = 99;
  EXPECT_EQ(device->Write(deviceInfo, sizeof deviceInfo, &written), kFtAborted);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(device->Read(bytes, sizeof bytes, &read), kFtAborted);
  EXPECT_EQ(device->Close(), kFtOk);
}

TEST_P(DeviceLink, AfterCloseEveryCallFails) {
  std::unique_ptr<FtDevice> device;
  ASSERT_EQ(Driver().OpenByDescription(kDeviceDescription, &device), kFtOk);
  ASSERT_EQ(device->Close(), kFtOk);
  uint32_t value = 0;
  EXPECT_NE(device->Purge(kFtPurgeRx | kFtPurgeTx), kFtOk);
  EXPECT_NE(device->GetModemStatus(&value), kFtOk);
  EXPECT_NE(device->Write("x", 1, &value), kFtOk);
  EXPECT_NE(device->Close(), kFtOk);
}

INSTANTIATE_TEST_SUITE_P(Portable, DeviceLink,
                         ::testing::Values(LinkBackend{"Simulated", MakeSimulated},
                                           LinkBackend{"D2xx", MakeD2xx}),
                         LinkBackendName);

TEST(D2xxDriverTest, AMissingLibraryIsNamedInTheCataloguesWords) {
  SetMessageLanguage(kLanguageRussian);
  std::string error;
  EXPECT_EQ(D2xxDriver::Load("vxa-no-such-library", &error), nullptr);
  EXPECT_NE(error.find("vxa-no-such-library"), std::string::npos) << error;
  EXPECT_NE(error.find("библиотека драйвера"), std::string::npos) << error;
}

}  // namespace vxa::test
