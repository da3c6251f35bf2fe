#include "text/Cp1251.h"
#include "tests/sim/SimTestSupport.h"

namespace vxa::simtest {
namespace {

static_assert(NextBlockNumber(1) == 2);
static_assert(NextBlockNumber(0xFFFFFFFEu) == 0xFFFFFFFFu);
static_assert(NextBlockNumber(0xFFFFFFFFu) == 1);

class InstrumentTest : public SimTest {
 protected:
  void SetUp() override { Open(); }
};

TEST_F(InstrumentTest, TheDeviceInformationRecordHoldsItsFields) {
  const Answer answer = Exchange(kCmdDeviceInfo);
  const std::vector<uint8_t> record = answer.Payload();
  ASSERT_EQ(record.size(), 8690u);
  EXPECT_EQ(std::string(record.begin(), record.begin() + 8), "VXA-4410");
  for (size_t i = 8; i < 40; ++i) EXPECT_EQ(record[i], 0) << i;
  EXPECT_EQ(GetI32(&record[56]), 4410017);
  EXPECT_EQ(GetU16(&record[60]), 0x0201);
  EXPECT_EQ(GetU16(&record[62]), 0x0116);  // 1.22
  EXPECT_EQ(answer.AnswerCode(), kAnsData);
  // The rest is the same filler every time.
  EXPECT_EQ(Exchange(kCmdDeviceInfo).Payload(), record);
}

TEST_F(InstrumentTest, TheModelNameGoesOutInTheInstrumentsCodePage) {
  UseInstrument(sim::InstrumentConfig{.model = "Виброметр ВХА",
                                      .serialNumber = -5,
                                      .deviceVersionMajor = 3,
                                      .deviceVersionMinor = 7,
                                      .programVersion = {4, 5, 6}});
  const std::vector<uint8_t> record = Exchange(kCmdDeviceInfo).Payload();
  ASSERT_EQ(record.size(), 8690u);
  const std::string expected = Utf8ToCp1251("Виброметр ВХА");
  ASSERT_EQ(expected.size(), 13u);  // one byte per letter
  EXPECT_EQ(std::string(record.begin(), record.begin() + 13), expected);
  EXPECT_EQ(record[13], 0);
  EXPECT_EQ(GetI32(&record[56]), -5);
  EXPECT_EQ(GetU16(&record[60]), 0x0307);
  EXPECT_EQ(GetU16(&record[62]), 0x0405);
}

TEST_F(InstrumentTest, TheGinfRecordHoldsItsFields) {
  const Answer answer = Exchange(kCmdText, Bytes("GINF"));
  const std::vector<uint8_t> record = answer.Payload();
  ASSERT_EQ(record.size(), 68u);
  EXPECT_EQ(GetI32(&record[16]), 4410017);
  EXPECT_EQ(GetI32(&record[32]), 2);
  EXPECT_EQ(GetI32(&record[36]), 1);
  EXPECT_EQ(GetI32(&record[40]), 1);
  EXPECT_EQ(GetI32(&record[44]), 22);
  EXPECT_EQ(GetI32(&record[48]), 0);
  EXPECT_EQ(instrument_.ProgramVersionText(), "1.22.0");
}

TEST_F(InstrumentTest, SdtiStoresTheClockRecord) {
  EXPECT_FALSE(instrument_.ClockSet());
  const std::vector<uint8_t> sdti = {'S', 'D', 'T', 'I', 26, 0, 2, 0, 3, 0, 9, 0, 5, 0, 7, 0};
  const Answer answer = Exchange(kCmdText, sdti);
  EXPECT_EQ(Judge(answer, kCmdText), kGood);
  EXPECT_NE(answer.AnswerCode(), kAnsRefusal);
  ASSERT_TRUE(instrument_.ClockSet());
  const std::array<uint16_t, 6> expected = {26, 2, 3, 9, 5, 7};
  EXPECT_EQ(instrument_.ClockRecord(), expected);

  // A record of the wrong size is refused and changes nothing.
  const std::vector<uint8_t> shortRecord(sdti.begin(), sdti.end() - 2);
  EXPECT_EQ(Exchange(kCmdText, shortRecord).AnswerCode(), kAnsRefusal);
  EXPECT_EQ(instrument_.ClockRecord(), expected);
}

TEST_F(InstrumentTest, UnknownTextCommandsAreRefused) {
  for (const auto& payload : {Bytes("GINX"), Bytes("GIN"), Bytes("sdti")}) {
    const Answer answer = Exchange(kCmdText, payload);
    EXPECT_EQ(answer.AnswerCode(), kAnsRefusal);
    EXPECT_EQ(answer.Text(), "Неизвестная команда");
  }
  EXPECT_EQ(Exchange(kCmdText).AnswerCode(), kAnsRefusal);
}

TEST_F(InstrumentTest, AWriteTransferReplacesTheFileWhenTheEmptyBlockArrives) {
  const std::vector<uint8_t> old = instrument_.FileContent("sensor1");
  const std::vector<uint8_t> data = Pattern(70000);
  ASSERT_EQ(Exchange(kCmdWriteRequest, Name("sensor1")).Number(), 0u);
  const std::span<const uint8_t> all(data);
  EXPECT_EQ(Exchange(kCmdWriteBlock, Numbered(1, all.subspan(0, 32748))).Number(), 1u);
  EXPECT_EQ(Exchange(kCmdWriteBlock, Numbered(2, all.subspan(32748, 32748))).Number(), 2u);
  EXPECT_EQ(Exchange(kCmdWriteBlock, Numbered(3, all.subspan(65496))).Number(), 3u);
  EXPECT_EQ(instrument_.FileContent("sensor1"), old);  // not yet whole
  const Answer last = Exchange(kCmdWriteBlock, Numbered(4));
  EXPECT_EQ(last.AnswerCode(), kAnsAck);
  EXPECT_EQ(last.Number(), 4u);
  EXPECT_EQ(instrument_.FileContent("sensor1"), data);
  const std::vector<sim::ReceivedBlock> expected = {{1, 32748}, {2, 32748}, {3, 4504}, {4, 0}};
  EXPECT_EQ(instrument_.WriteBlocks("sensor1"), expected);
  EXPECT_TRUE(instrument_.WriteBlocks("sensor0").empty());
}

TEST_F(InstrumentTest, ARepeatedBlockIsAcknowledgedAgainButStoredOnce) {
  const std::vector<uint8_t> data = Pattern(100);
  ASSERT_EQ(Exchange(kCmdWriteRequest, Name("dev_caliber")).AnswerCode(), kAnsAck);
  EXPECT_EQ(Exchange(kCmdWriteBlock, Numbered(1, data)).Number(), 1u);
  EXPECT_EQ(Exchange(kCmdWriteBlock, Numbered(1, data)).Number(), 1u);
  EXPECT_EQ(Exchange(kCmdWriteBlock, Numbered(2)).Number(), 2u);
  EXPECT_EQ(Exchange(kCmdWriteBlock, Numbered(2)).Number(), 2u);  // the empty one again
  EXPECT_EQ(instrument_.FileContent("dev_caliber"), data);
  const std::vector<sim::ReceivedBlock> expected = {{1, 100}, {1, 100}, {2, 0}, {2, 0}};
  EXPECT_EQ(instrument_.WriteBlocks("dev_caliber"), expected);
  EXPECT_EQ(instrument_.counters().blocksResent, 2u);
}

TEST_F(InstrumentTest, BlocksOutOfOrderOrWithoutARequestAreRefused) {
  EXPECT_EQ(Exchange(kCmdWriteBlock, Numbered(1, Pattern(10))).AnswerCode(), kAnsRefusal);
  ASSERT_EQ(Exchange(kCmdWriteRequest, Name("sensor0")).AnswerCode(), kAnsAck);
  const Answer skipped = Exchange(kCmdWriteBlock, Numbered(2, Pattern(10)));
  EXPECT_EQ(skipped.AnswerCode(), kAnsRefusal);
  EXPECT_EQ(skipped.Text(), "Неверный номер блока");
  EXPECT_EQ(Exchange(kCmdWriteBlock, Numbered(0)).AnswerCode(), kAnsRefusal);
  EXPECT_EQ(Exchange(kCmdWriteBlock, Bytes("ab")).AnswerCode(), kAnsRefusal);  // no number
  EXPECT_EQ(Exchange(kCmdWriteBlock, Numbered(1, Pattern(10))).Number(), 1u);
}

TEST_F(InstrumentTest, RequestsForUnknownFilesAreRefused) {
  for (uint8_t code : {kCmdWriteRequest, kCmdReadRequest}) {
    Answer answer = Exchange(code, Name("firmware"));
    EXPECT_EQ(answer.AnswerCode(), kAnsRefusal);
    EXPECT_EQ(answer.Text(), "Файл не найден");
    EXPECT_EQ(Exchange(code, Bytes("swap")).AnswerCode(), kAnsRefusal);  // no NUL
    EXPECT_EQ(Exchange(code, Name("")).AnswerCode(), kAnsRefusal);
    EXPECT_EQ(Exchange(code, Name("Swap")).AnswerCode(), kAnsRefusal);
  }
  EXPECT_EQ(Exchange(kCmdReadAck, Numbered(1)).AnswerCode(), kAnsRefusal);  // no read going on
}

TEST_F(InstrumentTest, AReadTransferSendsNumberedBlocksAndEndsWithAnEmptyOne) {
  const std::vector<uint8_t> data = Pattern(70000, 7);
  instrument_.SetFileContent("dev_info", data);
  std::vector<sim::ReceivedBlock> blocks;
  EXPECT_EQ(ReadFile("dev_info", &blocks), data);
  const std::vector<sim::ReceivedBlock> expected = {{1, 32760}, {2, 32760}, {3, 4480}, {4, 0}};
  EXPECT_EQ(blocks, expected);
  // The empty block is not acknowledged: an acknowledgement of it is refused.
  EXPECT_EQ(Exchange(kCmdReadAck, Numbered(4)).AnswerCode(), kAnsRefusal);
}

TEST_F(InstrumentTest, AnAcknowledgementOfAnOlderBlockResendsTheOneAfterIt) {
  const std::vector<uint8_t> data = Pattern(70000, 3);
  instrument_.SetFileContent("sensor0", data);
  ASSERT_EQ(Exchange(kCmdReadRequest, Name("sensor0")).Number(), 1u);
  ASSERT_EQ(Exchange(kCmdReadAck, Numbered(1)).Number(), 2u);
  ASSERT_EQ(Exchange(kCmdReadAck, Numbered(2)).Number(), 3u);
  const Answer again = Exchange(kCmdReadAck, Numbered(1));
  EXPECT_EQ(again.Number(), 2u);
  const std::vector<uint8_t> payload = again.Payload();
  EXPECT_TRUE(std::equal(payload.begin() + 4, payload.end(), data.begin() + 32760));
  EXPECT_EQ(Exchange(kCmdReadAck, Numbered(3)).Payload().size(), 4u);  // the end
  EXPECT_EQ(Exchange(kCmdReadAck, Numbered(3)).Payload().size(), 4u);  // lost? sent again
  EXPECT_EQ(Exchange(kCmdReadAck, Numbered(9)).AnswerCode(), kAnsRefusal);
  EXPECT_EQ(instrument_.counters().blocksResent, 2u);  // block 2, the empty block 4
}

TEST_F(InstrumentTest, AnEmptyFileIsAnEmptyFirstBlockThenAnEmptySecondOne) {
  instrument_.SetFileContent("sensor1", {});
  const Answer first = Exchange(kCmdReadRequest, Name("sensor1"));
  EXPECT_EQ(first.AnswerCode(), kAnsData);
  EXPECT_EQ(first.Payload(), Numbered(1));
  const Answer second = Exchange(kCmdReadAck, Numbered(1));
  EXPECT_EQ(second.Payload(), Numbered(2));
}

TEST_F(InstrumentTest, TheFilesComeWithDifferentContents) {
  std::vector<std::vector<uint8_t>> seen;
  for (const char* file : {"kernel", "dev_info", "dev_caliber", "sensor0", "sensor1"}) {
    const std::vector<uint8_t> content = instrument_.FileContent(file);
    EXPECT_GE(content.size(), 2000u) << file;
    EXPECT_LE(content.size(), 10000u) << file;
    EXPECT_EQ(ReadFile(file), content) << file;
    for (const auto& other : seen) EXPECT_NE(content, other) << file;
    seen.push_back(content);
  }
  EXPECT_TRUE(instrument_.FileContent("swap").empty());
  EXPECT_TRUE(instrument_.FileContent("nothing").empty());
}

TEST_F(InstrumentTest, TheInstrumentChoosesTheReadBlockSize) {
  UseInstrument(sim::InstrumentConfig{.readBlockSize = 1000}).SetFileContent("swap", Pattern(2500));
  std::vector<sim::ReceivedBlock> blocks;
  EXPECT_EQ(ReadFile("swap", &blocks), Pattern(2500));
  const std::vector<sim::ReceivedBlock> expected = {{1, 1000}, {2, 1000}, {3, 500}, {4, 0}};
  EXPECT_EQ(blocks, expected);
}

TEST_F(InstrumentTest, TheReadNumbersWrapPastZero) {
  instrument_.Inject(
      sim::FaultSpec{.fault = sim::Fault::FirstReadBlockNumber, .value = 0xFFFFFFFFu});
  instrument_.SetFileContent("swap", Pattern(40000));
  EXPECT_EQ(Exchange(kCmdReadRequest, Name("swap")).Number(), 0xFFFFFFFFu);
  const Answer second = Exchange(kCmdReadAck, Numbered(0xFFFFFFFFu));
  EXPECT_EQ(second.Number(), 1u);
  EXPECT_EQ(second.Payload().size(), 4u + 40000 - 32760);
  EXPECT_EQ(Exchange(kCmdReadAck, Numbered(1)).Payload(), Numbered(2));
  EXPECT_EQ(Exchange(kCmdReadAck, Numbered(0)).AnswerCode(), kAnsRefusal);
}

TEST_F(InstrumentTest, KernelWithoutACompleteSwapIsRefused) {
  Answer answer = Exchange(kCmdWriteRequest, Name("kernel"));
  EXPECT_EQ(answer.AnswerCode(), kAnsRefusal);
  EXPECT_EQ(answer.Text(), "Нет образа для установки");
  // A swap write that has not reached its empty block is no image either.
  ASSERT_EQ(Exchange(kCmdWriteRequest, Name("swap")).AnswerCode(), kAnsAck);
  ASSERT_EQ(Exchange(kCmdWriteBlock, Numbered(1, Pattern(100))).AnswerCode(), kAnsAck);
  EXPECT_EQ(Exchange(kCmdWriteRequest, Name("kernel")).AnswerCode(), kAnsRefusal);
  EXPECT_EQ(instrument_.KernelRequests(), 2);
  EXPECT_FALSE(instrument_.Installing());
  EXPECT_EQ(instrument_.ProgramVersionText(), "1.22.0");
}

TEST_F(InstrumentTest, AfterKernelTheInstrumentInstallsInSilenceAndReportsTheNewVersion) {
  const std::vector<uint8_t> image = Pattern(100000, 9);
  WriteFile("swap", image);
  ASSERT_EQ(instrument_.FileContent("swap"), image);
  EXPECT_EQ(ReadFile("swap"), image);

  const Answer accepted = Exchange(kCmdWriteRequest, Name("kernel"));
  EXPECT_EQ(accepted.AnswerCode(), kAnsAck);
  EXPECT_EQ(accepted.Payload(), Numbered(0));
  const Clock::TimePoint installStart = clock_.Now();
  EXPECT_EQ(instrument_.KernelRequests(), 1);
  EXPECT_TRUE(instrument_.Installing());
  EXPECT_FALSE(instrument_.Installed());

  // Asked once a second while it flashes: no answer at all, not even a refusal.
  int unanswered = 0;
  while (clock_.Now() - installStart < 5s) {
    const Answer answer = Exchange(kCmdText, Bytes("GINF"));
    if (answer.header.empty()) {
      ++unanswered;
    } else {
      EXPECT_GE(clock_.Now() - installStart, 5s);
      break;
    }
  }
  EXPECT_GE(unanswered, 2);
  EXPECT_EQ(instrument_.counters().unansweredCommands, static_cast<uint64_t>(unanswered));
  EXPECT_EQ(instrument_.counters().ignoredWhileInstalling, static_cast<uint64_t>(unanswered));
  EXPECT_EQ(instrument_.counters().AnswersWithheld(), 0u);

  clock_.SleepUntil(installStart + 5s);
  EXPECT_TRUE(instrument_.Installed());
  EXPECT_FALSE(instrument_.Installing());
  EXPECT_EQ(instrument_.ProgramVersionText(), VXA_PRODUCT_VERSION);
  const std::vector<uint8_t> ginf = Exchange(kCmdText, Bytes("GINF")).Payload();
  ASSERT_EQ(ginf.size(), 68u);
  EXPECT_EQ(GetI32(&ginf[40]), VXA_VERSION_MAJOR);
  EXPECT_EQ(GetI32(&ginf[44]), VXA_VERSION_MINOR);
  EXPECT_EQ(GetI32(&ginf[48]), VXA_VERSION_PATCH);
  const std::vector<uint8_t> info = Exchange(kCmdDeviceInfo).Payload();
  EXPECT_EQ(GetU16(&info[62]), VXA_VERSION_MAJOR << 8 | VXA_VERSION_MINOR);
  EXPECT_EQ(instrument_.FileContent("kernel"), image);
}

TEST_F(InstrumentTest, TheInstallTakesTheConfiguredTimeAndGivesTheConfiguredVersion) {
  sim::SimInstrument& instrument =
      UseInstrument(sim::InstrumentConfig{.newProgramVersion = "7.8.9", .installTime = 200ms});
  instrument.SetFileContent("swap", Pattern(10));  // an image already in place
  Send(kCmdWriteRequest, Name("kernel"));
  EXPECT_TRUE(instrument.Installing());
  clock_.Sleep(199ms);
  EXPECT_EQ(instrument.ProgramVersionText(), "1.22.0");
  clock_.Sleep(1ms);
  EXPECT_EQ(instrument.ProgramVersionText(), "7.8.9");
  EXPECT_TRUE(instrument.Installed());
}

}  // namespace
}  // namespace vxa::simtest
