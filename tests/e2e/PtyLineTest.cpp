// The line the pty server plays, checked in computed time: nothing here waits.

#include <gtest/gtest.h>

#include <vector>

#include "sim/FaultArgument.h"
#include "sim/PacketReceiver.h"
#include "sim/PtyLine.h"

namespace vxa::sim {
namespace {

using namespace std::chrono_literals;
using Time = Clock::TimePoint;

constexpr Time kT0 = Time{} + 10s;

std::vector<uint8_t> Bytes(size_t count, uint8_t first = 0) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(first + i);
  return bytes;
}

size_t ForHost(PtyLine& line, Time now, std::vector<uint8_t>* into = nullptr) {
  std::vector<uint8_t> buffer(1 << 18);
  line.Advance(now);
  const size_t n = line.TakeForHost(now, buffer);
  if (into) into->insert(into->end(), buffer.begin(), buffer.begin() + static_cast<long>(n));
  return n;
}

TEST(PtyLine, AnswersComeInUsbPacketsAtElevenBitsPerByteWithTheTailHeldForTheLatencyTimer) {
  PtyLine line(PtyLine::Timing{});
  // 11 bits at 3 Mbaud: 62 bytes take 227.3 us, 100 bytes 366.7 us (rounded up).
  EXPECT_EQ(line.LineTime(62), 228us);
  EXPECT_EQ(line.LineTime(100), 367us);
  line.Transmit(Bytes(100), kT0);
  EXPECT_EQ(line.NextEvent(kT0, false), kT0 + 228us);
  EXPECT_EQ(ForHost(line, kT0 + 227us), 0u);
  std::vector<uint8_t> got;
  EXPECT_EQ(ForHost(line, kT0 + 228us, &got), 62u);
  EXPECT_EQ(line.NextEvent(kT0 + 228us, false), kT0 + 367us + 2ms);
  EXPECT_EQ(ForHost(line, kT0 + 367us + 2ms - 1us), 0u);
  EXPECT_EQ(ForHost(line, kT0 + 367us + 2ms, &got), 38u);
  EXPECT_EQ(got, Bytes(100));
  EXPECT_EQ(line.NextEvent(kT0 + 10ms, false), std::nullopt);

  // A second answer ready while the line is busy follows the first one on it.
  line.Transmit(Bytes(62), kT0 + 20ms);
  line.Transmit(Bytes(62, 7), kT0 + 20ms);
  EXPECT_EQ(ForHost(line, kT0 + 20ms + 228us), 62u);
  EXPECT_EQ(ForHost(line, kT0 + 20ms + 455us), 0u);
  EXPECT_EQ(ForHost(line, kT0 + 20ms + 456us), 62u);

  // Without CTS the program halves the rate.
  PtyLine slow(PtyLine::Timing{.baud = 1'500'000});
  EXPECT_EQ(slow.LineTime(62), 455us);
}

TEST(PtyLine, HostBytesReachTheInstrumentOneAfterTheOtherAtTheLineRate) {
  PtyLine line(PtyLine::Timing{});
  std::vector<uint8_t> buffer(1 << 16);
  Time at{};
  line.FromHost(Bytes(3000), kT0);
  line.FromHost(Bytes(3000, 1), kT0 + 1ms);  // still behind the first 11 ms of line time
  // Piece by piece, each when its last byte is across: 256 bytes take 939 us.
  EXPECT_EQ(line.NextEvent(kT0, false), kT0 + 939us);
  EXPECT_EQ(line.TakeArrived(kT0 + 938us, buffer, &at), 0u);
  EXPECT_EQ(line.TakeArrived(kT0 + 10999us, buffer, &at), 11u * 256);
  EXPECT_EQ(at, kT0 + line.LineTime(11 * 256));
  EXPECT_EQ(line.TakeArrived(kT0 + 11ms, buffer, &at), 3000u - 11 * 256);
  EXPECT_EQ(at, kT0 + 11ms);
  EXPECT_EQ(line.TakeArrived(kT0 + 30ms, buffer, &at), 3000u);
  EXPECT_EQ(at, kT0 + 22ms);
  EXPECT_EQ(buffer[0], 1);
  EXPECT_EQ(line.counters().bytesFromHost, 6000u);

  // One read from the pty (4095 bytes) is 30 ms of line at 1.5 Mbaud, more than the instrument's
  // receiver takes for a pause in a packet; the pieces of it come far closer together.
  PtyLine slow(PtyLine::Timing{.baud = 1'500'000});
  slow.FromHost(Bytes(4095), kT0);
  Time previous = kT0;
  for (size_t taken = 0; taken < 4095;) {
    const std::optional<Time> next = slow.NextEvent(previous, false);
    ASSERT_TRUE(next);
    const size_t n = slow.TakeArrived(*next, std::span(buffer).first(PtyLine::kPieceBytes), &at);
    ASSERT_GT(n, 0u);
    EXPECT_LT(at - previous, PacketReceiver::kResyncGap / 10);
    taken += n;
    previous = at;
  }
  EXPECT_EQ(previous, kT0 + slow.LineTime(4095));
}

TEST(PtyLine, BabbleDrownsAnswersAndIsLostWhenNobodyReads) {
  PtyLine line(PtyLine::Timing{});
  line.StartBabble(kT0, kT0 + 10ms);
  line.Transmit(Bytes(16), kT0 + 5ms);
  EXPECT_EQ(line.counters().answersLostInBabble, 1u);
  // 10 ms at 3 Mbaud: 2727 bytes, put out in whole USB packets: 43 of them.
  std::vector<uint8_t> noise;
  for (Time t = kT0; t <= kT0 + 12ms; t += 1ms) ForHost(line, t, &noise);
  EXPECT_EQ(noise.size(), 43u * 62);
  EXPECT_FALSE(line.Babbling());
  EXPECT_NE(noise[0] | noise[1] | noise[100], 0);
  line.Transmit(Bytes(62), kT0 + 20ms);
  EXPECT_EQ(ForHost(line, kT0 + 21ms), 62u);

  // Noise for ever, nobody reading: the queue stays bounded and the rest is overrun.
  line.StartBabble(kT0 + 30ms, Time::max());
  line.Advance(kT0 + 30ms + 10s);
  EXPECT_TRUE(line.Babbling());
  EXPECT_GT(line.counters().overrunBytes, 2'000'000u);
  EXPECT_LE(ForHost(line, kT0 + 30ms + 10s), size_t{1} << 17);
  EXPECT_GT(*line.NextEvent(kT0 + 30ms + 10s, false), kT0 + 30ms + 10s);
  EXPECT_EQ(line.NextEvent(kT0 + 30ms + 10s, true), std::nullopt);
}

TEST(FaultArgument, ParsesNameCountSkipValueAndCommand) {
  FaultSpec faultSpec{.fault = Fault::DropAnswer};
  std::string error;
  ASSERT_TRUE(ParseFaultArgument("corrupt-read-back:1:0:1000", &faultSpec, &error)) << error;
  EXPECT_EQ(faultSpec.fault, Fault::CorruptReadBack);
  EXPECT_EQ(faultSpec.count, 1);
  EXPECT_EQ(faultSpec.skip, 0);
  EXPECT_EQ(faultSpec.value, 1000u);
  EXPECT_EQ(faultSpec.onCommand, -1);

  ASSERT_TRUE(ParseFaultArgument("drop-answer:-1:2::0x35", &faultSpec, &error)) << error;
  EXPECT_EQ(faultSpec.fault, Fault::DropAnswer);
  EXPECT_EQ(faultSpec.count, -1);
  EXPECT_EQ(faultSpec.skip, 2);
  EXPECT_EQ(faultSpec.value, 0u);
  EXPECT_EQ(faultSpec.onCommand, 0x35);

  ASSERT_TRUE(ParseFaultArgument("silent", &faultSpec, &error));
  EXPECT_EQ(faultSpec.fault, Fault::Silent);
  EXPECT_EQ(faultSpec.count, 1);

  for (const char* bad : {"", "no-such-fault", "silent:0", "silent:x", "silent:1:-1",
                          "silent:1:0:4294967296", "silent:1:0:0:0x100", "silent:1:2:3:4:5"}) {
    faultSpec.fault = Fault::Babble;
    EXPECT_FALSE(ParseFaultArgument(bad, &faultSpec, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
    EXPECT_EQ(faultSpec.fault, Fault::Babble) << bad << " changed the faultSpec";
  }
}

}  // namespace
}  // namespace vxa::sim
