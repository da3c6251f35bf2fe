#include "tests/protocol/ProtocolFixture.h"

namespace vxa::test {
namespace {

using sim::Fault;
using sim::FaultSpec;

class DeviceCommandsTest : public ProtocolTest {
 protected:
  std::string QueryError(void (TVXA4410Connection::*query)()) {
    try {
      (connection_.get()->*query)();
    } catch (const TVXA4410ConnError& e) {
      return e.Text();
    }
    return "";
  }
};

TEST_F(DeviceCommandsTest, TextsPreferTheGinfRecord) {
  EXPECT_EQ(connection_->ModelText(), "");
  EXPECT_EQ(connection_->SerialNumberText(), "????");
  EXPECT_EQ(connection_->DeviceVersionText(), "?.?");
  EXPECT_EQ(connection_->ProgramVersionText(), "?.?.?");

  connection_->QueryDeviceInfo();
  EXPECT_EQ(connection_->ModelText(), "VXA-4410");
  EXPECT_EQ(connection_->SerialNumberText(), "4410017");
  EXPECT_EQ(connection_->DeviceVersionText(), "2.1");
  EXPECT_EQ(connection_->ProgramVersionText(), "1.22");

  connection_->QueryGinf();
  EXPECT_EQ(connection_->ProgramVersionText(), "1.22.0");
  EXPECT_EQ(connection_->DeviceVersionText(), "2.1");
}

TEST_F(DeviceCommandsTest, OnlyTheGinfRecordLeavesTheModelEmpty) {
  connection_->QueryGinf();
  EXPECT_EQ(connection_->ModelText(), "");
  EXPECT_EQ(connection_->SerialNumberText(), "4410017");
  EXPECT_EQ(connection_->ProgramVersionText(), "1.22.0");
  const std::vector<uint8_t> expected = {0x69, 0x58, 0xFF, 0x00, 0x08, 0x00, 0x00,
                                         0x00, 0x00, 0x00, 0x85, 0x96, 'G',  'I',
                                         'N',  'F'};
  const auto wire = instrument_.LastCommand();
  ASSERT_EQ(wire.size(), 20u);
  EXPECT_EQ(std::vector<uint8_t>(wire.begin(), wire.begin() + 16), expected);
}

TEST_F(DeviceCommandsTest, AModelNameInTheInstrumentsCodePageIsShownAsItsLetters) {
  sim::SimBus bus(clock_);
  sim::InstrumentConfig config;
  config.model = "Виброанализатор ВХА-4410 полевой исп.123";  // 40 letters: no NUL
  bus.AttachInstrument(config);
  TVXA4410Connection connection(bus, clock_);
  connection.Open();
  connection.QueryDeviceInfo();
  EXPECT_EQ(connection.ModelText(), config.model);
}

TEST_F(DeviceCommandsTest, ARecordOfTheWrongLengthFailsAtOnce) {
  for (uint32_t length : {8689u, 8691u}) {
    instrument_.ClearCalls();
    instrument_.Inject(FaultSpec{.fault = Fault::RecordLength, .value = length});
    EXPECT_EQ(QueryError(&TVXA4410Connection::QueryDeviceInfo),
              "Не могу получить идентификатор устройства.");
    EXPECT_EQ(instrument_.Commands().size(), 1u) << length;
    EXPECT_EQ(connection_->SerialNumberText(), "????");
  }
  instrument_.Inject(FaultSpec{.fault = Fault::RecordLength, .value = 67});
  EXPECT_EQ(QueryError(&TVXA4410Connection::QueryGinf), "Не могу получить идентификатор устройства.");
}

TEST_F(DeviceCommandsTest, ASilentInstrumentIsAskedThreeTimes) {
  instrument_.Inject(FaultSpec{.fault = Fault::Silent, .count = -1});
  instrument_.ClearCalls();
  EXPECT_EQ(QueryError(&TVXA4410Connection::QueryGinf), "Не могу получить идентификатор устройства.");
  EXPECT_EQ(instrument_.Commands().size(), 3u);
  EXPECT_EQ(connection_->ProgramVersionText(), "?.?.?");
}

TEST_F(DeviceCommandsTest, AFailedQueryFallsBackToTheOtherRecord) {
  connection_->QueryDeviceInfo();
  connection_->QueryGinf();
  instrument_.Inject(FaultSpec{.fault = Fault::IgnoreGinf, .count = -1});
  EXPECT_NE(QueryError(&TVXA4410Connection::QueryGinf), "");
  EXPECT_EQ(connection_->ProgramVersionText(), "1.22");
}

TEST_F(DeviceCommandsTest, TheClockIsSetFromTheLocalTime) {
  clock_.SetLocalTime(LocalDateTime{2026, 2, 3, 9, 5, 7});
  LocalDateTime sent;
  EXPECT_TRUE(connection_->SetDeviceClock(&sent));
  EXPECT_EQ(sent.year, 2026);  // the whole year is what the user is told, the instrument gets 26
  EXPECT_EQ(sent.second, 7);
  ASSERT_TRUE(instrument_.ClockSet());
  const std::array<uint16_t, 6> expected = {26, 2, 3, 9, 5, 7};
  EXPECT_EQ(instrument_.ClockRecord(), expected);
  const auto wire = instrument_.LastCommand();
  ASSERT_EQ(wire.size(), 12u + 16 + 4);
  EXPECT_EQ(std::string(wire.begin() + 12, wire.begin() + 16), "SDTI");
}

TEST_F(DeviceCommandsTest, AClockThatCannotBeSetIsNotReported) {
  instrument_.Inject(FaultSpec{.fault = Fault::Silent, .count = -1});
  instrument_.ClearCalls();
  const Clock::TimePoint start = clock_.Now();
  bool taken = true;
  EXPECT_NO_THROW(taken = connection_->SetDeviceClock());
  EXPECT_FALSE(taken);
  EXPECT_EQ(instrument_.Commands().size(), 3u);
  EXPECT_GE(ElapsedMs(start), 3 * 1000 + 2 * 1000);
  EXPECT_FALSE(instrument_.ClockSet());
}

}  // namespace
}  // namespace vxa::test
