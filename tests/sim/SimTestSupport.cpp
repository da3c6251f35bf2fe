#include "tests/sim/SimTestSupport.h"

#include <algorithm>
#include <cstring>

#include "text/Cp1251.h"
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

void SimTest::Open(uint16_t divisor, const std::string& description) {
  device_.reset();
  ASSERT_EQ(bus_.OpenByDescription(description, &device_), kFtOk);
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

sim::SimInstrument& SimTest::UseInstrument(sim::InstrumentConfig config, bool setUp) {
  config.description = "VXA-4410 under test";
  sim::SimInstrument& instrument = bus_.AttachInstrument(config);
  device_.reset();
  if (setUp) {
    Open(kFtDivisor3M, config.description);
  } else {
    EXPECT_EQ(bus_.OpenByDescription(config.description, &device_), kFtOk);
  }
  return instrument;
}

void SimTest::WriteFile(std::string_view file, const std::vector<uint8_t>& data) {
  Answer answer = Exchange(kCmdWriteRequest, Name(file));
  ASSERT_EQ(answer.AnswerCode(), kAnsAck) << answer.Text();
  ASSERT_EQ(answer.Number(), 0u);
  const std::span<const uint8_t> all(data);
  for (uint32_t number = 1;; ++number) {
    const size_t offset = std::min(data.size(), (number - 1) * kWriteBlockData);
    const size_t length = std::min(kWriteBlockData, data.size() - offset);
    answer = Exchange(kCmdWriteBlock, Numbered(number, all.subspan(offset, length)));
    ASSERT_EQ(answer.AnswerCode(), kAnsAck) << answer.Text();
    ASSERT_EQ(answer.Number(), number);
    if (length == 0) break;
  }
}

std::vector<uint8_t> SimTest::ReadFile(std::string_view file,
                                       std::vector<sim::ReceivedBlock>* blocks) {
  std::vector<uint8_t> data;
  Answer answer = Exchange(kCmdReadRequest, Name(file));
  for (int count = 0; count < 1000; ++count) {
    EXPECT_EQ(answer.AnswerCode(), kAnsData) << answer.Text();
    const std::vector<uint8_t> payload = answer.Payload();
    if (answer.AnswerCode() != kAnsData || payload.size() < 4) break;
    if (blocks) blocks->push_back({GetU32(payload.data()), uint32_t(payload.size() - 4)});
    if (payload.size() == 4 && count > 0) break;  // an empty first block does not end it
    data.insert(data.end(), payload.begin() + 4, payload.end());
    answer = Exchange(kCmdReadAck, Numbered(GetU32(payload.data())));
  }
  return data;
}

}  // namespace vxa::simtest
