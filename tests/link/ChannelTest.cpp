#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "text/Messages.h"
#include "link/Crc32.h"
#include "link/Errors.h"
#include "link/UsbChannel.h"
#include "sim/SimBus.h"
#include "tests/support/TempDir.h"

namespace vxa {
namespace {

using sim::Call;
using sim::Fault;
using sim::FaultSpec;
using namespace std::chrono_literals;

// The channel as the protocol layer uses it: commands are built in place, then exchanged.
class TestChannel : public TUsbChannel {
 public:
  using TUsbChannel::TUsbChannel;
  using TUsbChannel::PrepareCommand;
  using TUsbChannel::TxLength;
  int32_t Send(uint8_t code, const std::vector<uint8_t>& payload) {
    uint8_t* out = TxPayload();  // a loop: mingw's GCC warns of a null source in a copy of nothing
    for (uint8_t byte : payload) *out++ = byte;
    PrepareCommand(code, static_cast<uint32_t>(payload.size()));
    return Exchange(0);
  }
};

class ChannelTest : public ::testing::Test {
 protected:
  ChannelTest() : bus_(clock_), instrument_(bus_.AttachInstrument()) {
    SetMessageLanguage(kLanguageRussian);
  }

  int64_t ElapsedMs(Clock::TimePoint since) const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock_.Now() - since).count();
  }

  std::string OpenError() {
    try {
      channel_.Open();
    } catch (const TVXA4410ConnError& e) {
      return e.Text();
    }
    return "opened";
  }

  std::string ExchangeError(uint8_t code, const std::vector<uint8_t>& payload = {}) {
    try {
      channel_.Send(code, payload);
    } catch (const TVXA4410ConnError& e) {
      return e.Text();
    }
    return "no error";
  }

  VirtualClock clock_;
  sim::SimBus bus_;
  sim::SimInstrument& instrument_;
  TestChannel channel_{bus_, clock_};
};

TEST_F(ChannelTest, OpenConfiguresTheBridgeStepByStepWithFlowControlWhenCtsIsUp) {
  ASSERT_TRUE(channel_.Open());
  EXPECT_TRUE(channel_.IsOpened());
  std::vector<std::pair<Call, std::vector<uint32_t>>> seen;
  for (const sim::CallRecord& record : instrument_.Calls()) {
    switch (record.call) {
      case Call::SetLatencyTimer:
      case Call::SetDivisor:
      case Call::Purge:
        seen.push_back({record.call, {record.a}});
        break;
      case Call::SetUSBParameters:
      case Call::SetTimeouts:
        seen.push_back({record.call, {record.a, record.b}});
        break;
      case Call::SetDataCharacteristics:
      case Call::SetFlowControl:
        seen.push_back({record.call, {record.a, record.b, record.c}});
        break;
      default:
        seen.push_back({record.call, {}});
    }
  }
  const std::vector<std::pair<Call, std::vector<uint32_t>>> expected = {
      {Call::OpenByDescription, {}},
      {Call::ResetDevice, {}},
      {Call::SetLatencyTimer, {2}},
      {Call::SetUSBParameters, {65536, 65536}},
      {Call::SetTimeouts, {1000, 1000}},
      {Call::SetDataCharacteristics, {8, 2, 0}},
      {Call::GetModemStatus, {}},
      {Call::SetFlowControl, {0x0100, 0, 0}},
      {Call::SetDivisor, {0}},
      {Call::Purge, {3}},
  };
  ASSERT_EQ(seen.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(seen[i].first, expected[i].first) << "call " << i;
    if (!expected[i].second.empty()) {
      EXPECT_EQ(seen[i].second, expected[i].second) << "call " << i;
    }
  }
}

TEST_F(ChannelTest, WithoutCtsTheLineRunsWithoutFlowControlAtHalfRate) {
  instrument_.SetCts(false);
  ASSERT_TRUE(channel_.Open());
  std::vector<sim::CallRecord> flow, divisor;
  for (const sim::CallRecord& record : instrument_.Calls()) {
    if (record.call == Call::SetFlowControl) flow.push_back(record);
    if (record.call == Call::SetDivisor) divisor.push_back(record);
  }
  ASSERT_EQ(flow.size(), 1u);
  EXPECT_EQ(flow[0].a, 0u);
  ASSERT_EQ(divisor.size(), 1u);
  EXPECT_EQ(divisor[0].a, 2u);
}

TEST_F(ChannelTest, ASecondOpenTouchesNothing) {
  ASSERT_TRUE(channel_.Open());
  instrument_.ClearCalls();
  EXPECT_TRUE(channel_.Open());
  EXPECT_TRUE(instrument_.Calls().empty());
  EXPECT_EQ(bus_.OpenHandles(), 1);
}

TEST_F(ChannelTest, EachFailingStepNamesItselfAndLeavesNothingOpen) {
  const std::pair<Call, const char*> steps[] = {
      {Call::ResetDevice, "FT_ResetDevice failed"},
      {Call::SetLatencyTimer, "FT_SetLatencyTimer failed"},
      {Call::SetUSBParameters, "FT_SetUSBParameters failed"},
      {Call::SetTimeouts, "FT_SetTimeouts failed"},
      {Call::SetDataCharacteristics, "FT_SetDataCharacteristics failed"},
      {Call::GetModemStatus, "FT_GetModemStatus failed"},
      {Call::SetFlowControl, "FT_SetFlowControl failed"},
      {Call::SetDivisor, "FT_SetDivisor failed"},
      {Call::Purge, "FT_Purge failed"},
  };
  for (const auto& [call, text] : steps) {
    TestChannel channel(bus_, clock_);
    instrument_.FailNextCall(call, kFtIoError);
    try {
      channel.Open();
      ADD_FAILURE() << text << " not raised";
    } catch (const TVXA4410ConnError& e) {
      EXPECT_STREQ(e.Text(), text);
    }
    EXPECT_FALSE(channel.IsOpened()) << text;
    EXPECT_EQ(bus_.OpenHandles(), 0) << text;
  }
}

TEST_F(ChannelTest, NoBridgeWithTheInstrumentsDescriptionMeansOpenFails) {
  bus_.DetachAll();
  bus_.AttachForeignDevice("USB Serial Converter");
  EXPECT_EQ(OpenError(), "FT_Open failed");
  EXPECT_EQ(bus_.OpenHandles(), 0);
  EXPECT_FALSE(channel_.IsOpened());
}

TEST_F(ChannelTest, AChannelNeverOpenedClosesNothing) {
  {
    TestChannel unused(bus_, clock_);
  }
  for (const sim::CallRecord& record : instrument_.Calls()) EXPECT_NE(record.call, Call::Close);
}

TEST_F(ChannelTest, DestroyingAnOpenChannelClosesTheBridge) {
  {
    TestChannel channel(bus_, clock_);
    channel.Open();
    EXPECT_EQ(bus_.OpenHandles(), 1);
  }
  EXPECT_EQ(bus_.OpenHandles(), 0);
  EXPECT_EQ(instrument_.Calls().back().call, Call::Close);
}

class ExchangeTest : public ChannelTest {
 protected:
  void SetUp() override { ASSERT_TRUE(channel_.Open()); }
};

TEST_F(ExchangeTest, ACommandWithoutPayloadIsTwelveBytesWithoutCrc) {
  ASSERT_EQ(channel_.Send(0x1E, {}), kRxOk);
  const std::vector<uint8_t> expected = {0x69, 0x58, 0x1E, 0x00, 0x00, 0x00,
                                         0x00, 0x00, 0x00, 0x00, 0x85, 0x96};
  EXPECT_EQ(instrument_.LastCommand(), expected);
  EXPECT_EQ(channel_.RxHead().Length(), 8690u);
  EXPECT_EQ(channel_.TxLength, 12u);
}

TEST_F(ExchangeTest, AFullWriteBlockFillsTheTransmitBufferExactly) {
  std::vector<uint8_t> payload(4 + 32748);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 13);
  payload[0] = 1;  // block 1
  payload[1] = payload[2] = payload[3] = 0;
  channel_.Send(0x34, payload);
  const std::vector<uint8_t> wire = instrument_.LastCommand();
  ASSERT_EQ(wire.size(), 32768u);
  EXPECT_EQ(GetU32(wire.data() + 4), 32752u + 4);  // the payload and its CRC
  EXPECT_EQ(wire[2], 0x34);
  EXPECT_EQ(Crc32Jam(wire.data() + 12, 32752 + 4), 0u);  // the payload's CRC follows it
  EXPECT_EQ(GetU32(wire.data() + 12 + 32752), Crc32Jam(payload.data(), payload.size()));
}

TEST_F(ExchangeTest, TheCrcIsJamCrc) {
  EXPECT_EQ(Crc32Jam("123456789", 9), 0x340BC6D9u);
  uint8_t withCrc[13] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  PutU32(withCrc + 9, 0x340BC6D9u);
  EXPECT_EQ(Crc32Jam(withCrc, 13), 0u);
}

TEST_F(ExchangeTest, ARepeatSendsIdenticalBytes) {
  const std::vector<uint8_t> ginf = {'G', 'I', 'N', 'F'};
  instrument_.ClearCalls();
  ASSERT_EQ(channel_.Send(0xFF, ginf), kRxOk);
  EXPECT_EQ(channel_.RxHead().Length(), 68u);
  // The caller stores the payload length again; the payload itself stays in place.
  channel_.PrepareCommand(0xFF, 4);
  ASSERT_EQ(channel_.Exchange(0), kRxOk);
  const auto commands = instrument_.Commands();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0], commands[1]);
  EXPECT_EQ(commands[0].size(), 12u + 4 + 4);
}

TEST_F(ExchangeTest, EveryBadAnswerHasItsResultCode) {
  const std::pair<Fault, int32_t> cases[] = {
      {Fault::DropAnswer, kRxNoHeader},      {Fault::BadStartMark, kRxBadStartMark},
      {Fault::BadReserved, kRxBadReserved},  {Fault::BadEndMark, kRxBadEndMark},
      {Fault::WrongEcho, kRxWrongCode},      {Fault::HugeLength, kRxTooLong},
      {Fault::TruncatedBody, kRxShortBody},  {Fault::ShortLength, kRxLengthTooSmall},
      {Fault::BadCrc, kRxBadCrc},
  };
  for (const auto& [fault, code] : cases) {
    instrument_.Inject(FaultSpec{.fault = fault});
    EXPECT_EQ(channel_.Send(0x1E, {}), code) << sim::FaultName(fault);
    // The channel stays usable: the next exchange gets its answer.
    EXPECT_EQ(channel_.Send(0x1E, {}), kRxOk) << sim::FaultName(fault);
  }
}

TEST_F(ExchangeTest, AHugeLengthWaitsForItsBodyButNeverLongerThanAFullOne) {
  instrument_.Inject(FaultSpec{.fault = Fault::HugeLength, .value = 40000});
  Clock::TimePoint start = clock_.Now();
  EXPECT_EQ(channel_.Send(0x1E, {}), kRxTooLong);
  EXPECT_GE(ElapsedMs(start), 533);
  EXPECT_LT(ElapsedMs(start), 533 + 20);

  instrument_.Inject(FaultSpec{.fault = Fault::HugeLength, .value = 0xFFFFFFFFu});
  start = clock_.Now();
  EXPECT_EQ(channel_.Send(0x1E, {}), kRxTooLong);
  EXPECT_GE(ElapsedMs(start), 1436);
  EXPECT_LT(ElapsedMs(start), 1436 + 20);
}

TEST_F(ExchangeTest, ABabblingLineIsGivenUpOnAfterTheDrainLimit) {
  instrument_.Inject(FaultSpec{.fault = Fault::Babble, .count = -1});
  const Clock::TimePoint start = clock_.Now();
  EXPECT_LT(channel_.Send(0x1E, {}), 0);
  EXPECT_GE(ElapsedMs(start), 10'000);
  EXPECT_LT(ElapsedMs(start), 12'500);
}

// Gives up on the channel once the virtual time reaches a given point: an abort from another
// thread, at a moment a test can name.
class AbortingClock final : public Clock {
 public:
  AbortingClock(VirtualClock& inner, TUsbChannel*& channel, TimePoint at)
      : inner_(inner), channel_(channel), at_(at) {}
  TimePoint Now() const override { return inner_.Now(); }
  void Sleep(Duration duration) override {
    inner_.Sleep(duration);
    if (Now() >= at_ && channel_ != nullptr) channel_->Abort();
  }
  LocalDateTime LocalTime() const override { return inner_.LocalTime(); }
  bool IsVirtual() const override { return true; }

 private:
  VirtualClock& inner_;
  TUsbChannel*& channel_;
  TimePoint at_;
};

// An abort ends the exchange in flight within a slice, whether it waits for an answer that never
// comes (the driver's read is aborted) or drains a babbling line, and nothing is sent after it.
TEST_F(ChannelTest, AnAbortEndsTheExchangeInFlightWithinASliceAndSendsNothingAfter) {
  const struct {
    Fault fault;
    int64_t abortAtMs;
  } rows[] = {{Fault::Silent, 500}, {Fault::Babble, 2000}};
  for (const auto& row : rows) {
    SCOPED_TRACE(sim::FaultName(row.fault));
    TUsbChannel* target = nullptr;
    AbortingClock aborting(clock_, target, clock_.Now() + std::chrono::milliseconds(row.abortAtMs));
    sim::SimBus bus(aborting);
    sim::SimInstrument& instrument = bus.AttachInstrument();
    TestChannel channel(bus, aborting);
    ASSERT_TRUE(channel.Open());
    instrument.Inject(FaultSpec{.fault = row.fault, .count = -1});
    target = &channel;
    const Clock::TimePoint start = clock_.Now();
    EXPECT_LT(channel.Send(0x1E, {}), 0);
    EXPECT_LT(ElapsedMs(start), row.abortAtMs + kAbortSliceMs + 100);
    instrument.ClearCalls();
    EXPECT_EQ(channel.Send(0x1E, {}), kRxNoHeader);
    EXPECT_TRUE(instrument.Calls().empty());
  }
}

TEST_F(ExchangeTest, DriverFailuresCarryTheirStatus) {
  instrument_.FailNextCall(Call::Write, kFtIoError);
  EXPECT_EQ(ExchangeError(0x1E), "Ошибка записи в файл FTDI код 4");
  instrument_.FailNextCall(Call::Read, kFtDeviceNotFound);
  EXPECT_EQ(ExchangeError(0x1E), "Ошибка чтения файла FTDI код 2");
  instrument_.Inject(FaultSpec{.fault = Fault::DropAnswer});
  instrument_.FailNextCall(Call::GetStatus, kFtIoError);
  EXPECT_EQ(ExchangeError(0x1E), "Невозможно получить статус FTDI код 4");
  // The purge before sending ignores its status; the one while draining does not.
  instrument_.Inject(FaultSpec{.fault = Fault::Babble, .count = -1});
  instrument_.FailNextCall(Call::Purge, kFtOtherError, 2);
  EXPECT_EQ(ExchangeError(0x1E), "Невозможно получить статус FTDI код 18");
  instrument_.ClearFaults();
  SetMessageLanguage(kLanguageEnglish);
  instrument_.FailNextCall(Call::Write, kFtIoError);
  EXPECT_EQ(ExchangeError(0x1E), "Error while writing into FTDI file code4");
  SetMessageLanguage(kLanguageRussian);
}

// The calls made on the bridge from the first Write on, up to the next Write.
std::vector<Call> CallsBeforeSecondWrite(const std::vector<sim::CallRecord>& records) {
  std::vector<Call> calls;
  int writes = 0;
  for (const sim::CallRecord& record : records) {
    if (record.call == Call::Write && ++writes == 2) break;
    if (writes == 1 && record.call != Call::Write) calls.push_back(record.call);
  }
  return calls;
}

bool Contains(const std::vector<Call>& calls, Call call) {
  return std::find(calls.begin(), calls.end(), call) != calls.end();
}

TEST_F(ExchangeTest, EvenAfterAGoodAnswerReadWholeTheNextCommandGoesAfterAPurge) {
  instrument_.ClearCalls();
  ASSERT_EQ(channel_.Send(0x1E, {}), kRxOk);
  ASSERT_EQ(channel_.Send(0xFF, {'G', 'I', 'N', 'F'}), kRxOk);
  const std::vector<Call> between = CallsBeforeSecondWrite(instrument_.Calls());
  // Empty queues prove nothing: the bridge may still hold bytes under its latency timer.
  EXPECT_TRUE(Contains(between, Call::Purge));
  EXPECT_EQ(channel_.RxHead().Length(), 68u);
}

TEST_F(ExchangeTest, WhatFollowsAGoodAnswerIsThrownAwayBeforeTheNextCommand) {
  // The device information answered with an empty record, and the same answer once more behind
  // it, in one go: the first is good and read whole, the second is left in the receive queue.
  const std::vector<uint8_t> answer = {0x69, 0x58, 0x1E, 0x35, 0x00, 0x00,
                                       0x00, 0x00, 0x00, 0x00, 0x85, 0x96};
  std::vector<uint8_t> twice = answer;
  twice.insert(twice.end(), answer.begin(), answer.end());
  instrument_.ReplaceAnswers({twice});
  instrument_.ClearCalls();
  ASSERT_EQ(channel_.Send(0x1E, {}), kRxOk);
  EXPECT_EQ(channel_.RxHead().Length(), 0u);
  // Taken for the answer to GINF, the leftover would be rejected as another command's.
  EXPECT_EQ(channel_.Send(0xFF, {'G', 'I', 'N', 'F'}), kRxOk);
  EXPECT_EQ(channel_.RxHead().Length(), 68u);
  EXPECT_TRUE(Contains(CallsBeforeSecondWrite(instrument_.Calls()), Call::Purge));
}

TEST_F(ExchangeTest, ALateAnswerIsThrownAwayBeforeTheNextCommand) {
  // Later than the read timeout: the exchange gives up before it arrives.
  instrument_.Inject(FaultSpec{.fault = Fault::LateAnswer, .value = 1500});
  instrument_.ClearCalls();
  EXPECT_EQ(channel_.Send(0x1E, {}), kRxNoHeader);
  EXPECT_EQ(channel_.Send(0xFF, {'G', 'I', 'N', 'F'}), kRxOk);
  EXPECT_EQ(channel_.RxHead().Length(), 68u);
  EXPECT_TRUE(Contains(CallsBeforeSecondWrite(instrument_.Calls()), Call::Purge));
  // Well after the late answer was due: nothing of it comes instead of the next answer.
  clock_.Sleep(1s);
  EXPECT_EQ(channel_.Send(0x1E, {}), kRxOk);
  EXPECT_EQ(channel_.RxHead().Length(), 8690u);
}

TEST_F(ExchangeTest, AfterABadAnswerTheNextCommandGoesAfterAPurge) {
  instrument_.Inject(FaultSpec{.fault = Fault::BadCrc});
  instrument_.ClearCalls();
  EXPECT_EQ(channel_.Send(0x1E, {}), kRxBadCrc);
  EXPECT_EQ(channel_.Send(0x1E, {}), kRxOk);
  EXPECT_TRUE(Contains(CallsBeforeSecondWrite(instrument_.Calls()), Call::Purge));
}

// Every call of one exchange in order, with the arguments that tell them apart: the timeouts
// set, the bytes asked of each read.
std::vector<std::vector<uint32_t>> CallSequence(const std::vector<sim::CallRecord>& records) {
  std::vector<std::vector<uint32_t>> calls;
  for (const sim::CallRecord& record : records) {
    const auto call = static_cast<uint32_t>(record.call);
    if (record.call == Call::SetTimeouts) {
      calls.push_back({call, record.a, record.b});
    } else if (record.call == Call::Read || record.call == Call::Purge) {
      calls.push_back({call, record.a});
    } else {
      calls.push_back({call});
    }
  }
  return calls;
}

// The timeouts are set before the write, before the header is read and before the body is read,
// also where they are in force already: a driver may rely on each call. A call that fails is
// ignored.
TEST_F(ExchangeTest, TimeoutsAreSetBeforeTheWriteAndBeforeEachRead) {
  constexpr auto kPurge = static_cast<uint32_t>(Call::Purge);
  constexpr auto kTimeouts = static_cast<uint32_t>(Call::SetTimeouts);
  constexpr auto kWrite = static_cast<uint32_t>(Call::Write);
  constexpr auto kRead = static_cast<uint32_t>(Call::Read);
  // The device information's body (8690 bytes and the CRC) needs 1000 + 8694 / 75 ms, GINF's 72
  // bytes the plain 1000.
  const struct {
    uint8_t code;
    std::vector<uint8_t> payload;
    uint32_t body;
    bool failing;
  } rows[] = {
      {0x1E, {}, 8694, false},
      {0xFF, {'G', 'I', 'N', 'F'}, 72, false},
      {0xFF, {'G', 'I', 'N', 'F'}, 72, true},
  };
  for (const auto& row : rows) {
    if (row.failing) instrument_.FailNextCall(Call::SetTimeouts, kFtIoError, 3);
    instrument_.ClearCalls();
    ASSERT_EQ(channel_.Send(row.code, row.payload), kRxOk);
    const std::vector<std::vector<uint32_t>> expected = {
        {kPurge, 3},
        {kTimeouts, 1000, 1000},
        {kWrite},
        {kTimeouts, 1000, 1000},
        {kRead, 12},
        {kTimeouts, 1000 + row.body / 75, 1000},
        {kRead, row.body},
    };
    EXPECT_EQ(CallSequence(instrument_.Calls()), expected) << int{row.code};
  }
}

TEST_F(ExchangeTest, TheLogShowsEveryTransmissionWithThePayloadLength) {
  test::ScopedTempDir dir;
  ASSERT_TRUE(channel_.SetLogging(true, false));
  channel_.Send(0x1E, {});
  instrument_.Inject(FaultSpec{.fault = Fault::BadCrc});
  channel_.Send(0xFF, {'G', 'I', 'N', 'F'});
  channel_.PrepareCommand(0xFF, 4);
  channel_.Exchange(0);
  // Flushed before each transmission: the file is complete without closing it.
  EXPECT_EQ(dir.Read(kLogFileName), "CMD Code=30 Len=0\nCMD Code=255 Len=4\nCMD Code=255 Len=4\n");
}

}  // namespace
}  // namespace vxa
