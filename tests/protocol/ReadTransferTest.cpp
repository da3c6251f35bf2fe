#include "tests/protocol/ProtocolFixture.h"
#include "tests/support/TempDir.h"

namespace vxa::test {
namespace {

using sim::Fault;
using sim::FaultSpec;

// The instrument holds what the buffer holds, so that every read is a verification that passes.
class ReadTransferTest : public ProtocolTest {
 protected:
  void Prepare(size_t size) {
    BindBuffer(size);
    instrument_.SetFileContent("swap", data_);
  }
  size_t AcksSent() { return instrument_.counters().CommandsWithCode(kCmdReadAck); }
};

TEST_F(ReadTransferTest, AOneBlockFileTakesASingleAcknowledgement) {
  Prepare(100);
  EXPECT_EQ(ReadSwap(), "");
  EXPECT_TRUE(connection_->Done());
  EXPECT_EQ(AcksSent(), 1u);
  EXPECT_EQ(buffer_->GetPosition(), 100);
}

TEST_F(ReadTransferTest, ARepeatedBlockIsIgnoredAndTheCurrentOneAcknowledgedAgain) {
  Prepare(70000);
  instrument_.Inject(FaultSpec{.fault = Fault::RepeatReadBlock});
  EXPECT_EQ(ReadSwap(), "");
  EXPECT_EQ(buffer_->GetPosition(), 70000);
  // Blocks 1, 2 and 3 carry data; block 1 came twice and was acknowledged twice.
  EXPECT_EQ(AcksSent(), 4u);
}

TEST_F(ReadTransferTest, AFileShorterThanTheBufferEndsNormally) {
  Prepare(70000);
  instrument_.Inject(FaultSpec{.fault = Fault::ShortReadBack, .value = 1000});
  EXPECT_EQ(ReadSwap(), "");
  EXPECT_TRUE(connection_->Done());
  EXPECT_EQ(buffer_->GetPosition(), 69000);
}

TEST_F(ReadTransferTest, AFirstBlockWithAnotherNumberFailsAndTheConnectionStaysIdle) {
  Prepare(70000);
  instrument_.Inject(FaultSpec{.fault = Fault::FirstReadBlockNumber, .value = 2});
  EXPECT_EQ(connection_->StartRead(kFileSwap, errorText_), 0);
  EXPECT_TRUE(connection_->IsIdle());
  EXPECT_EQ(ErrorText(), "Попытка инициализации приема блоком с номером не равным 1");
  EXPECT_EQ(AcksSent(), 0u);
  // After a failure the next read is accepted.
  EXPECT_EQ(ReadSwap(), "");
}

TEST_F(ReadTransferTest, OneDifferingByteFailsAtItsBlockWithADumpInTheLog) {
  Prepare(70000);
  for (uint32_t offset : {0u, 40000u, 69999u}) {
    test::ScopedTempDir dir;
    ASSERT_TRUE(connection_->SetLogging(true, false));
    instrument_.Inject(FaultSpec{.fault = Fault::CorruptReadBack, .value = offset});
    EXPECT_EQ(ReadSwap(), "Несовпадение проверяемых данных") << offset;
    const int blockStart = static_cast<int>(offset / 32760 * 32760);
    EXPECT_EQ(buffer_->GetPosition(), blockStart) << offset;
    EXPECT_TRUE(connection_->IsIdle());
    connection_->SetLogging(false, false);
    EXPECT_NE(dir.Read(kLogFileName).find("\nDump memory block:\n000000: "), std::string::npos);
  }
}

TEST_F(ReadTransferTest, MoreDataThanTheBufferHoldsFails) {
  Prepare(70000);
  instrument_.Inject(FaultSpec{.fault = Fault::LongReadBack, .value = 100});
  EXPECT_EQ(ReadSwap(), "Недостаточно места для записи в файл");
}

TEST_F(ReadTransferTest, RefusalsOfTheRequestAndOfAnAcknowledgementGiveTheInstrumentsText) {
  Prepare(70000);
  instrument_.Inject(FaultSpec{.fault = Fault::RefuseRequest, .text = "Файл не найден"});
  EXPECT_EQ(ReadSwap(), "Файл не найден");
  instrument_.Inject(FaultSpec{.fault = Fault::RefuseBlock, .text = "Ошибка чтения"});
  EXPECT_EQ(ReadSwap(), "Ошибка чтения");
  EXPECT_TRUE(connection_->IsIdle());
}

TEST_F(ReadTransferTest, BadBlocksAndCodesFail) {
  Prepare(70000);
  instrument_.Inject(FaultSpec{.fault = Fault::ShortReadBlock, .onCommand = kCmdReadAck});
  EXPECT_EQ(ReadSwap(), "Принят пакет неразрешенной длины");
  instrument_.Inject(FaultSpec{.fault = Fault::ShortReadBlock, .onCommand = kCmdReadRequest});
  EXPECT_EQ(ReadSwap(), "Принят пакет неразрешенной длины");
  instrument_.Inject(FaultSpec{
      .fault = Fault::UnrecognisedAnswer, .onCommand = kCmdReadAck, .value = 0x33});
  EXPECT_EQ(ReadSwap(), "Принят пакет с неразрешенным кодом подтверждения = 0x33");
  instrument_.Inject(FaultSpec{
      .fault = Fault::UnrecognisedAnswer, .onCommand = kCmdReadRequest, .value = 0x35});
  EXPECT_EQ(ReadSwap(), "Принят пакет с неразрешенным кодом подтверждения = 0x35");
}

TEST_F(ReadTransferTest, ALostAnswerToTheRequestIsAskedForAgainAFewTimes) {
  Prepare(70000);
  instrument_.Inject(
      FaultSpec{.fault = Fault::DropAnswer, .count = 2, .onCommand = kCmdReadRequest});
  EXPECT_EQ(ReadSwap(), "");
  EXPECT_EQ(instrument_.counters().CommandsWithCode(kCmdReadRequest), 3u);

  instrument_.Inject(
      FaultSpec{.fault = Fault::DropAnswer, .count = 3, .onCommand = kCmdReadRequest});
  EXPECT_EQ(connection_->StartRead(kFileSwap, errorText_), 0);
  EXPECT_TRUE(connection_->IsIdle());
  EXPECT_EQ(ErrorText(), "Ошибка связи с прибором");
}

TEST_F(ReadTransferTest, AnInstrumentThatFallsSilentMidwayIsGivenUp) {
  Prepare(70000);
  instrument_.Inject(FaultSpec{.fault = Fault::Silent, .count = -1, .onCommand = kCmdReadAck});
  const Clock::TimePoint start = clock_.Now();
  EXPECT_EQ(ReadSwap(), "Ошибка связи с прибором");
  EXPECT_GE(ElapsedMs(start), 30'000);
}

}  // namespace
}  // namespace vxa::test
