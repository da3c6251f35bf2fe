#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/Clock.h"
#include "link/FtDriver.h"
#include "link/Packet.h"
#include "sim/SimBus.h"

namespace vxa::simtest {

using namespace std::chrono_literals;
using Micros = std::chrono::microseconds;

// A command packet exactly as the program frames it.
std::vector<uint8_t> CommandPacket(uint8_t code, std::span<const uint8_t> payload = {});
std::vector<uint8_t> Bytes(std::string_view text);  // without NUL
std::vector<uint8_t> Name(std::string_view text);   // with its NUL
std::vector<uint8_t> Numbered(uint32_t number, std::span<const uint8_t> data = {});
std::vector<uint8_t> Pattern(size_t size, uint32_t seed = 1);  // test data, different per seed

// What came back for one command, as the program's receiver would judge it.
struct Answer {
  std::vector<uint8_t> header;  // as many header bytes as arrived (12 when complete)
  std::vector<uint8_t> body;    // the bytes read after the header
  uint16_t StartMark() const { return GetU16(header.data()); }
  uint8_t Code() const { return header[kOffCode]; }
  uint8_t AnswerCode() const { return header[kOffAnswer]; }
  uint32_t Length() const { return GetU32(header.data() + kOffLength); }
  uint16_t Reserved() const { return GetU16(header.data() + kOffReserved); }
  uint16_t EndMark() const { return GetU16(header.data() + kOffEndMark); }
  // The payload without the CRC (for a good answer).
  std::vector<uint8_t> Payload() const;
  uint32_t Number() const { return GetU32(body.data()); }  // first payload word
  std::string Text() const;                                // a refusal's text, in UTF-8
};

// The receiver's verdicts, in the order the program checks them.
enum Verdict {
  kGood = 0,
  kNoHeader = -1,
  kBadStart = -2,
  kBadReserved = -3,
  kBadEnd = -4,
  kWrongCode = -5,
  kTooLong = -6,
  kShortBody = -7,
  kLengthTooSmall = -8,
  kBadCrc = -9
};
int Judge(const Answer& answer, uint8_t commandCode);

// A host with one open handle on a simulated instrument, in virtual time.
class SimTest : public ::testing::Test {
 protected:
  explicit SimTest(sim::LineTiming timing = {});

  // Opens the bridge and sets it up as the program does: 1000 ms timeouts, divisor 0.
  void Open(uint16_t divisor = kFtDivisor3M,
            const std::string& description = "VXA-4410 Vibration Analyzer");
  void Write(const std::vector<uint8_t>& bytes);
  void Send(uint8_t code, std::span<const uint8_t> payload = {}) {
    Write(CommandPacket(code, payload));
  }
  std::vector<uint8_t> Read(uint32_t count);
  uint32_t RxQueue();
  // Reads one answer: the header, then the body it announces (if it can be read at all).
  Answer Receive();
  // Purge, send, receive: one exchange as the program makes it.
  Answer Exchange(uint8_t code, std::span<const uint8_t> payload = {});
  // Puts another instrument with its own settings on the bus and opens it in place of the first.
  sim::SimInstrument& UseInstrument(sim::InstrumentConfig config, bool setUp = true);
  // Whole transfers as the program makes them, checking every answer on the way.
  void WriteFile(std::string_view file, const std::vector<uint8_t>& data);
  std::vector<uint8_t> ReadFile(std::string_view file,
                                std::vector<sim::ReceivedBlock>* blocks = nullptr);
  Micros Since(Clock::TimePoint start) const {
    return std::chrono::duration_cast<Micros>(clock_.Now() - start);
  }

  VirtualClock clock_;
  sim::SimBus bus_;
  sim::SimInstrument& instrument_;
  std::unique_ptr<FtDevice> device_;
};

}  // namespace vxa::simtest
