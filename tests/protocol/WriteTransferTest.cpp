#include <stdexcept>

#include "tests/protocol/ProtocolFixture.h"
#include "tests/support/TempDir.h"

namespace vxa::test {
namespace {

using sim::Fault;
using sim::FaultSpec;
using sim::ReceivedBlock;

static_assert(NextBlockNumber(1) == 2);
static_assert(NextBlockNumber(0xFFFFFFFEu) == 0xFFFFFFFFu);
static_assert(NextBlockNumber(0xFFFFFFFFu) == 1);  // the counter never goes through 0

struct SequenceCase {
  size_t size;
  std::vector<ReceivedBlock> blocks;
};
void PrintTo(const SequenceCase& c, std::ostream* out) { *out << c.size << " bytes"; }

class BlockSequenceTest : public ProtocolTest,
                          public ::testing::WithParamInterface<SequenceCase> {};

TEST_P(BlockSequenceTest, WritesInFullBlocksThenTheRestThenAnEmptyBlockAndReadsBackEqual) {
  BindBuffer(GetParam().size);
  EXPECT_EQ(WriteSwap(), "");
  EXPECT_TRUE(connection_->Done());
  EXPECT_EQ(buffer_->GetPosition(), buffer_->GetSize());
  const std::vector<ReceivedBlock> blocks = instrument_.WriteBlocks("swap");
  if (GetParam().blocks.size() < 10) {
    EXPECT_EQ(blocks, GetParam().blocks);
  } else {
    ASSERT_EQ(blocks.size(), GetParam().blocks.size());
    EXPECT_EQ(blocks.front(), GetParam().blocks.front());
    EXPECT_EQ(blocks[73], GetParam().blocks[73]);
    EXPECT_EQ(blocks[74], GetParam().blocks[74]);
    EXPECT_EQ(blocks.back(), GetParam().blocks.back());
  }
  EXPECT_EQ(instrument_.FileContent("swap"), data_);

  EXPECT_EQ(ReadSwap(), "");
  EXPECT_TRUE(connection_->Done());
  EXPECT_EQ(buffer_->GetPosition(), buffer_->GetSize());
}

std::vector<ReceivedBlock> ImageBlocks() {
  std::vector<ReceivedBlock> blocks;
  for (uint32_t n = 1; n <= 74; ++n) blocks.push_back({n, 32748});
  blocks.push_back({75, 10530});
  blocks.push_back({76, 0});
  return blocks;
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, BlockSequenceTest,
    ::testing::Values(SequenceCase{70000, {{1, 32748}, {2, 32748}, {3, 4504}, {4, 0}}},
                      SequenceCase{65496, {{1, 32748}, {2, 32748}, {3, 0}}},
                      SequenceCase{1, {{1, 1}, {2, 0}}},
                      SequenceCase{2433882, ImageBlocks()}));

class WriteTransferTest : public ProtocolTest {
 protected:
  void SetUp() override { BindBuffer(); }
};

TEST_F(WriteTransferTest, AnAcknowledgementOfAnotherBlockSendsTheSameBlockAgain) {
  instrument_.Inject(FaultSpec{.fault = Fault::WrongAckNumber, .skip = 1});
  ASSERT_EQ(connection_->StartWrite(kFileSwap, errorText_), 70000);
  connection_->TrafficStep();  // block 1, acknowledged
  connection_->TrafficStep();  // block 2, acknowledged as another one
  EXPECT_EQ(connection_->BlockNumber(), 2u);
  EXPECT_EQ(buffer_->GetPosition(), 32748);
  RunToIdle();
  EXPECT_EQ(ErrorText(), "");
  const std::vector<ReceivedBlock> expected = {
      {1, 32748}, {2, 32748}, {2, 32748}, {3, 4504}, {4, 0}};
  EXPECT_EQ(instrument_.WriteBlocks("swap"), expected);
  EXPECT_EQ(instrument_.FileContent("swap"), data_);
}

TEST_F(WriteTransferTest, RefusalsBecomeTheErrorTextUnchanged) {
  instrument_.Inject(FaultSpec{.fault = Fault::RefuseRequest, .text = "Нет места для файла"});
  EXPECT_EQ(WriteSwap(), "Нет места для файла");
  EXPECT_TRUE(connection_->Failed());
  EXPECT_FALSE(connection_->Done());
  EXPECT_TRUE(connection_->IsIdle());

  instrument_.Inject(FaultSpec{.fault = Fault::RefuseBlock, .skip = 1, .text = "Сбой памяти"});
  EXPECT_EQ(WriteSwap(), "Сбой памяти");
  EXPECT_EQ(instrument_.WriteBlocks("swap").size(), 2u);
  EXPECT_TRUE(connection_->IsIdle());
}

TEST_F(WriteTransferTest, ARefusalWithoutNulIsReadOnlyAsFarAsTheAnswerGoes) {
  instrument_.Inject(FaultSpec{.fault = Fault::RefusalWithoutNul});
  instrument_.Inject(FaultSpec{.fault = Fault::RefuseRequest, .text = "Занято"});
  EXPECT_EQ(WriteSwap(), "Занято");
}

TEST_F(WriteTransferTest, TenUnrecognisedAnswersToTheRequestAreTolerated) {
  instrument_.Inject(FaultSpec{.fault = Fault::UnrecognisedWrqAnswer, .count = 10});
  EXPECT_EQ(WriteSwap(), "");
  EXPECT_EQ(instrument_.counters().CommandsWithCode(kCmdWriteRequest), 11u);
}

TEST_F(WriteTransferTest, TheEleventhUnrecognisedAnswerFailsWithItsCode) {
  instrument_.Inject(
      FaultSpec{.fault = Fault::UnrecognisedWrqAnswer, .count = 11, .value = 0x3A});
  EXPECT_EQ(WriteSwap(), "Принят пакет с неразрешенным кодом подтверждения = 0x3a");
  EXPECT_EQ(instrument_.counters().CommandsWithCode(kCmdWriteRequest), 11u);
  EXPECT_TRUE(instrument_.WriteBlocks("swap").empty());
}

TEST_F(WriteTransferTest, AnUnrecognisedAnswerToABlockFailsAtOnce) {
  instrument_.Inject(FaultSpec{
      .fault = Fault::UnrecognisedAnswer, .onCommand = kCmdWriteBlock, .value = 0x40});
  EXPECT_EQ(WriteSwap(), "Принят пакет с неразрешенным кодом подтверждения = 0x40");
  EXPECT_EQ(instrument_.counters().CommandsWithCode(kCmdWriteBlock), 1u);
}

TEST_F(WriteTransferTest, BadAcknowledgementsFailTheWrite) {
  instrument_.Inject(FaultSpec{.fault = Fault::BadAckLength, .onCommand = kCmdWriteRequest});
  EXPECT_EQ(WriteSwap(), "Принят пакет неразрешенной длины");
  instrument_.Inject(FaultSpec{.fault = Fault::BadAckLength, .onCommand = kCmdWriteBlock});
  EXPECT_EQ(WriteSwap(), "Принят пакет неразрешенной длины");
  instrument_.Inject(FaultSpec{.fault = Fault::WrqNonZeroBlock, .value = 7});
  EXPECT_EQ(WriteSwap(), "Попытка инициализации передачи с ненулевого блока");
  EXPECT_TRUE(connection_->IsIdle());
}

TEST_F(WriteTransferTest, ALostAnswerToTheRequestLeavesItPendingForTheNextStep) {
  instrument_.Inject(FaultSpec{.fault = Fault::DropAnswer, .onCommand = kCmdWriteRequest});
  ASSERT_EQ(connection_->StartWrite(kFileSwap, errorText_), 70000);
  EXPECT_FALSE(connection_->IsIdle());
  EXPECT_FALSE(connection_->Failed());
  RunToIdle();
  EXPECT_EQ(ErrorText(), "");
  const auto commands = instrument_.Commands();
  ASSERT_GE(commands.size(), 2u);
  EXPECT_EQ(commands[0], commands[1]);  // the same request, byte for byte
}

TEST_F(WriteTransferTest, RefusedStartsLeaveTheRunningTransferAlone) {
  ASSERT_EQ(connection_->StartWrite(kFileSwap, errorText_), 70000);
  connection_->TrafficStep();
  std::string text = "left over";
  EXPECT_EQ(connection_->StartWrite(kFileSwap, text), -1);
  EXPECT_EQ(text, "Попытка перезапустить текущую транзакцию");
  EXPECT_EQ(connection_->StartRead(kFileSwap, text), -1);
  EXPECT_EQ(text, "Попытка перезапустить незавершенную транзакцию");
  EXPECT_EQ(buffer_->GetPosition(), 32748);
  RunToIdle();
  EXPECT_TRUE(connection_->Done());
  EXPECT_EQ(instrument_.FileContent("swap"), data_);
}

TEST_F(WriteTransferTest, UnknownKindsAreRefusedAndNothingIsSent) {
  instrument_.ClearCalls();
  EXPECT_EQ(connection_->StartWrite(6, errorText_), -3);
  EXPECT_EQ(errorText_, "Неверный тип передаваемого файла");
  EXPECT_EQ(connection_->StartRead(6, errorText_), -3);
  EXPECT_EQ(errorText_, "Неверный тип принимаемого файла");
  EXPECT_TRUE(instrument_.Commands().empty());
  EXPECT_TRUE(connection_->IsIdle());
}

// However the instrument answers meanwhile, a transfer whose position and state stand still is
// given up after its stage's bound: 30 s once a transfer runs, 2 minutes for a write request to be
// accepted.
TEST_F(WriteTransferTest, ATransferThatMakesNoProgressIsGivenUpAfterItsStagesBound) {
  struct Row {
    const char* name;
    FaultSpec fault;
    bool read;  // the read-back of what was written, or the write itself
    int64_t minMs;
  };
  const Row rows[] = {
      {"silent", FaultSpec{.fault = Fault::Silent, .count = -1, .onCommand = kCmdWriteBlock},
       false, 30'000},
      {"wrong ack", FaultSpec{.fault = Fault::WrongAckNumber, .count = -1}, false, 30'000},
      {"never accepted",
       FaultSpec{.fault = Fault::DropAnswer, .count = -1, .onCommand = kCmdWriteRequest}, false,
       120'000},
      {"same read block", FaultSpec{.fault = Fault::RepeatReadBlock, .count = -1}, true, 30'000},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    instrument_.ClearFaults();
    if (row.read) {
      ASSERT_EQ(WriteSwap(), "");
    }
    instrument_.Inject(row.fault);
    const Clock::TimePoint start = clock_.Now();
    if (row.read) {
      EXPECT_EQ(ReadSwap(), "Ошибка связи с прибором");
    } else {
      connection_->StartWrite(kFileSwap, errorText_);
      RunToIdle();
      EXPECT_EQ(ErrorText(), "Ошибка связи с прибором");
    }
    EXPECT_GE(ElapsedMs(start), row.minMs);
    EXPECT_LT(ElapsedMs(start), row.minMs + 15'000);
  }
}

TEST_F(WriteTransferTest, ARefusalWithoutATextNamesItsCodeInsteadOfShowingNothing) {
  ASSERT_EQ(connection_->StartWrite(kFileSwap, errorText_), 70000);
  instrument_.ReplaceAnswers({{0x69, 0x58, kCmdWriteBlock, 0x36, 0, 0, 0, 0, 0, 0, 0x85, 0x96}});
  RunToIdle();
  EXPECT_EQ(ErrorText(), "Принят пакет с неразрешенным кодом подтверждения = 0x36");
}

TEST_F(WriteTransferTest, ALinkFailureDuringAStepIsRecordedAndTheLockReleased) {
  ASSERT_EQ(connection_->StartWrite(kFileSwap, errorText_), 70000);
  instrument_.FailNextCall(sim::Call::Write, kFtIoError);
  connection_->TrafficStep();
  EXPECT_TRUE(connection_->IsIdle());
  EXPECT_EQ(ErrorText(), "Ошибка записи в файл FTDI код 4");
  // Nothing is left locked: the next start goes through.
  EXPECT_EQ(WriteSwap(), "");
}

TEST_F(WriteTransferTest, ALinkFailureDuringTheRequestGoesToTheCallerAndLeavesTheConnectionIdle) {
  instrument_.FailNextCall(sim::Call::Read, kFtIoError);
  try {
    connection_->StartWrite(kFileSwap, errorText_);
    ADD_FAILURE() << "no error";
  } catch (const TVXA4410ConnError& e) {
    EXPECT_STREQ(e.Text(), "Ошибка чтения файла FTDI код 4");
  }
  EXPECT_TRUE(connection_->IsIdle());
  EXPECT_EQ(WriteSwap(), "");
}

TEST_F(WriteTransferTest, TheDumpFileGetsEveryAcknowledgedBlockOnce) {
  test::ScopedTempDir dir;
  ASSERT_TRUE(connection_->SetLogging(false, true));
  instrument_.Inject(FaultSpec{.fault = Fault::WrongAckNumber, .skip = 1});
  EXPECT_EQ(WriteSwap(), "");
  connection_->SetLogging(false, false);
  const std::string dump = dir.Read(kDumpFileName);
  EXPECT_EQ(dump, std::string(data_.begin(), data_.end()));
}

class EmptyBufferTest : public ProtocolTest {};

// A buffer that breaks in a way the protocol does not know: the failure must be recorded for the
// waiting side instead of ending the program.
class BrokenBuffer final : public TBasicTransBuffer {
 public:
  int Read(void*, int) override { return 0; }
  int Write(const void*, int) override { return 0; }
  int Peek(void*, int) override { throw std::length_error("the buffer broke"); }
  int GetPosition() const override { return 0; }
  int SetPosition(int) override { return 0; }
  int GetSize() const override { return 100; }
};

TEST_F(EmptyBufferTest, AnyOtherErrorDuringAStepIsRecordedAsTheTransfersFailure) {
  BrokenBuffer broken;
  connection_->Bind(&broken);
  ASSERT_EQ(connection_->StartWrite(kFileSwap, errorText_), 100);
  EXPECT_EQ(connection_->TrafficStep(), 0);
  EXPECT_TRUE(connection_->IsIdle());
  EXPECT_EQ(ErrorText(), "the buffer broke");
}


TEST_F(EmptyBufferTest, NothingIsSentForAnEmptyBuffer) {
  BindBuffer(0);
  instrument_.ClearCalls();
  EXPECT_EQ(connection_->StartWrite(kFileSwap, errorText_), 0);
  EXPECT_TRUE(instrument_.Commands().empty());
  EXPECT_TRUE(connection_->IsIdle());
}

}  // namespace
}  // namespace vxa::test
