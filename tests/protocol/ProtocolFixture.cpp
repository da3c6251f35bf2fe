#include "tests/protocol/ProtocolFixture.h"

namespace vxa::test {

std::vector<uint8_t> TestBytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t state = seed * 2654435761u + 1;
  for (auto& byte : bytes) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<uint8_t>(state >> 24);
  }
  return bytes;
}

ProtocolTest::ProtocolTest()
    : bus_(clock_), instrument_(bus_.AttachInstrument()) {
  SetMessageLanguage(kLanguageRussian);
  connection_ = std::make_unique<TVXA4410Connection>(bus_, clock_);
  connection_->Open();
}

void ProtocolTest::BindBuffer(size_t size) {
  data_ = TestBytes(size);
  buffer_ = std::make_unique<TResReadTransBuffer>(std::span<const uint8_t>(data_));
  connection_->Bind(buffer_.get());
}

int ProtocolTest::RunToIdle(int maxSteps) {
  int steps = 0;
  while (!connection_->IsIdle() && steps < maxSteps) {
    connection_->TrafficStep();
    ++steps;
  }
  EXPECT_TRUE(connection_->IsIdle()) << "transfer still running after " << steps << " steps";
  return steps;
}

std::string ProtocolTest::ErrorText() {
  try {
    connection_->CheckError();
  } catch (const TVXA4410ConnError& e) {
    return e.Text();
  }
  return "";
}

std::string ProtocolTest::WriteSwap() {
  EXPECT_EQ(connection_->StartWrite(kFileSwap, errorText_), buffer_->GetSize());
  RunToIdle();
  return ErrorText();
}

std::string ProtocolTest::ReadSwap() {
  EXPECT_EQ(connection_->StartRead(kFileSwap, errorText_), 0);
  RunToIdle();
  return ErrorText();
}

int64_t ProtocolTest::ElapsedMs(Clock::TimePoint since) const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(clock_.Now() - since).count();
}

}  // namespace vxa::test
