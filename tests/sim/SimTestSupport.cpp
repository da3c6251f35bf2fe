#include "tests/sim/SimTestSupport.h"

#include <cstring>

#include "app/text/Cp1251.h"
#include "link/Crc32.h"

namespace vxa::simtest {

std::vector<uint8_t> CommandPacket(uint8_t code, std::span<const uint8_t> payload) {
  const size_t body = payload.empty() ? 0 : payload.size() + kCrcSize;
  std::vector<uint8_t> packet(kHeaderSize + body);
  PacketHeader header(packet.data());
  header.SetStartMark(kStartMark);
  header.SetCode(code);
  header.SetAnswer(0);
  header.SetLength(static_cast<uint32_t>(body));
  header.SetReserved(0);
  header.SetEndMark(kEndMark);
  if (!payload.empty()) {
    std::memcpy(packet.data() + kHeaderSize, payload.data(), payload.size());
    PutU32(packet.data() + kHeaderSize + payload.size(), Crc32Jam(payload.data(), payload.size()));
  }
  return packet;
}

std::vector<uint8_t> Bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

std::vector<uint8_t> Name(std::string_view text) {
  std::vector<uint8_t> bytes = Bytes(text);
  bytes.push_back(0);
  return bytes;
}

std::vector<uint8_t> Numbered(uint32_t number, std::span<const uint8_t> data) {
  std::vector<uint8_t> bytes(4 + data.size());
  PutU32(bytes.data(), number);
  if (!data.empty()) std::memcpy(bytes.data() + 4, data.data(), data.size());
  return bytes;
}

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t x = seed * 2654435761u + 12345;
  for (uint8_t& b : bytes) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(x >> 24);
  }
  return bytes;
}

std::vector<uint8_t> Answer::Payload() const {
  if (body.size() < kCrcSize) return {};
  return {body.begin(), body.end() - kCrcSize};
}

std::string Answer::Text() const {
  const std::vector<uint8_t> payload = Payload();
  std::string text(payload.begin(), payload.end());
  if (const size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
  return Cp1251ToUtf8(text);
}

int Judge(const Answer& answer, uint8_t commandCode) {
  if (answer.header.size() < kHeaderSize) return kNoHeader;
  if (answer.StartMark() != kStartMark) return kBadStart;
  if (answer.Reserved() != 0) return kBadReserved;
  if (answer.EndMark() != kEndMark) return kBadEnd;
  if (answer.Code() != commandCode) return kWrongCode;
  const uint32_t length = answer.Length();
  if (length == 0) return kGood;
  if (length > kMaxAnswerBody) return kTooLong;
  if (answer.body.size() < length) return kShortBody;
  if (length <= kCrcSize) return kLengthTooSmall;
  if (Crc32Jam(answer.body.data(), length) != 0) return kBadCrc;
  return kGood;
}

SimTest::SimTest(sim::LineTiming timing)
    : bus_(clock_, timing), instrument_(bus_.AttachInstrument()) {}

void SimTest::Open(uint16_t divisor) {
  ASSERT_EQ(bus_.OpenByDescription("VXA-4410 Vibration Analyzer", &device_), kFtOk);
  ASSERT_EQ(device_->SetTimeouts(1000, 1000), kFtOk);
  ASSERT_EQ(device_->SetDivisor(divisor), kFtOk);
}

void SimTest::Write(const std::vector<uint8_t>& bytes) {
  uint32_t written = 0;
  ASSERT_EQ(device_->Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &written), kFtOk);
  ASSERT_EQ(written, bytes.size());
}

std::vector<uint8_t> SimTest::Read(uint32_t count) {
  std::vector<uint8_t> bytes(count);
  uint32_t got = 0;
  EXPECT_EQ(device_->Read(bytes.data(), count, &got), kFtOk);
  bytes.resize(got);
  return bytes;
}

uint32_t SimTest::RxQueue() {
  uint32_t rx = 0, tx = 0, events = 0;
  EXPECT_EQ(device_->GetStatus(&rx, &tx, &events), kFtOk);
  EXPECT_EQ(tx, 0u);
  return rx;
}

Answer SimTest::Receive() {
  Answer answer;
  answer.header = Read(kHeaderSize);
  if (answer.header.size() == kHeaderSize) {
    const uint32_t length = answer.Length();
    if (length > 0 && length <= kMaxAnswerBody) answer.body = Read(length);
  }
  return answer;
}

Answer SimTest::Exchange(uint8_t code, std::span<const uint8_t> payload) {
  EXPECT_EQ(device_->Purge(kFtPurgeRx | kFtPurgeTx), kFtOk);
  Send(code, payload);
  return Receive();
}

}  // namespace vxa::simtest
