#include <algorithm>
#include <set>

#include "text/Cp1251.h"
#include "link/Crc32.h"
#include "tests/sim/SimTestSupport.h"

namespace vxa::simtest {
namespace {

using sim::Fault;
using sim::FaultSpec;

TEST(FaultNameTest, EveryFaultHasAKebabCaseNameThatLeadsBackToIt) {
  std::set<std::string_view> names;
  for (Fault fault : sim::AllFaults()) {
    const std::string_view name = sim::FaultName(fault);
    EXPECT_TRUE(names.insert(name).second) << name;
    EXPECT_EQ(name.find_first_not_of("abcdefghijklmnopqrstuvwxyz-"), std::string_view::npos);
    bool ok = false;
    EXPECT_EQ(sim::FaultFromName(name, &ok), fault);
    EXPECT_TRUE(ok) << name;
  }
  EXPECT_EQ(names.size(), sim::kFaultCount);
  EXPECT_EQ(sim::FaultName(Fault::DropAnswer), "drop-answer");
  EXPECT_EQ(sim::FaultName(Fault::UnrecognisedWrqAnswer), "unrecognised-wrq-answer");
  bool ok = true;
  sim::FaultFromName("drop_answer", &ok);
  EXPECT_FALSE(ok);
  sim::FaultFromName("", nullptr);  // no place for the verdict is fine too
}

class FaultTest : public SimTest {
 protected:
  void SetUp() override { Open(); }
  uint64_t Fired(Fault fault) { return instrument_.counters().Fired(fault); }
  Answer Ginf() { return Exchange(kCmdText, Bytes("GINF")); }
  void StartWrite(std::string_view file = "sensor0") {
    ASSERT_EQ(Exchange(kCmdWriteRequest, Name(file)).AnswerCode(), kAnsAck);
  }
  void PrepareRead(size_t size = 70000) { instrument_.SetFileContent("swap", Pattern(size, 5)); }
};

// ---- Link level -----------------------------------------------------------------------------

TEST_F(FaultTest, DropAnswerLosesOneAnswer) {
  instrument_.Inject(FaultSpec{.fault = Fault::DropAnswer});
  EXPECT_EQ(Judge(Ginf(), kCmdText), kNoHeader);
  EXPECT_EQ(Judge(Ginf(), kCmdText), kGood);
  EXPECT_EQ(Fired(Fault::DropAnswer), 1u);
  EXPECT_EQ(instrument_.counters().commands, 2u);  // the command itself was taken
}

TEST_F(FaultTest, LateAnswerArrivesThatMuchLater) {
  ASSERT_EQ(device_->SetTimeouts(5000, 1000), kFtOk);
  instrument_.Inject(FaultSpec{.fault = Fault::LateAnswer});
  Send(kCmdText, Bytes("GINF"));
  Clock::TimePoint sent = clock_.Now();
  EXPECT_EQ(Judge(Receive(), kCmdText), kGood);
  EXPECT_EQ(Since(sent), 1500ms + Micros(308) + 2ms);  // 84 bytes on the line, then the tail

  instrument_.Inject(FaultSpec{.fault = Fault::LateAnswer, .value = 300});
  Send(kCmdText, Bytes("GINF"));
  sent = clock_.Now();
  Receive();
  EXPECT_EQ(Since(sent), 300ms + Micros(308) + 2ms);

  // Late past the program's read timeout, and gone with its next purge.
  ASSERT_EQ(device_->SetTimeouts(1000, 1000), kFtOk);
  instrument_.Inject(FaultSpec{.fault = Fault::LateAnswer});
  EXPECT_EQ(Judge(Ginf(), kCmdText), kNoHeader);
  ASSERT_EQ(device_->Purge(3), kFtOk);
  clock_.Sleep(1s);
  EXPECT_EQ(RxQueue(), 0u);
}

TEST_F(FaultTest, AStaleAnswerLeavesAheadOfTheNextOneAndADuplicateRightBehindItself) {
  instrument_.Inject(FaultSpec{.fault = Fault::StaleAnswer, .onCommand = kCmdDeviceInfo});
  EXPECT_EQ(Judge(Exchange(kCmdDeviceInfo), kCmdDeviceInfo), kNoHeader);
  // Still in the instrument, out of reach of the purge before the next command.
  Send(kCmdText, Bytes("GINF"));
  EXPECT_EQ(Judge(Receive(), kCmdText), kWrongCode);
  EXPECT_EQ(Judge(Receive(), kCmdText), kGood);
  instrument_.Inject(FaultSpec{.fault = Fault::DuplicateAnswer});
  Send(kCmdText, Bytes("GINF"));
  EXPECT_EQ(Judge(Receive(), kCmdText), kGood);
  EXPECT_EQ(Judge(Receive(), kCmdText), kGood);
  EXPECT_EQ(instrument_.counters().AnswersWithheld(), 0u);
}

struct HeaderCase {
  Fault fault;
  uint32_t value;
  int verdict;
};
void PrintTo(const HeaderCase& c, std::ostream* out) { *out << sim::FaultName(c.fault); }

class HeaderFaultTest : public FaultTest, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(HeaderFaultTest, ManglesOneAnswerAsTheReceiverSeesIt) {
  instrument_.Inject(FaultSpec{.fault = GetParam().fault, .value = GetParam().value});
  EXPECT_EQ(Judge(Exchange(kCmdDeviceInfo), kCmdDeviceInfo), GetParam().verdict);
  EXPECT_EQ(Judge(Exchange(kCmdDeviceInfo), kCmdDeviceInfo), kGood);
  EXPECT_EQ(Fired(GetParam().fault), 1u);
}

INSTANTIATE_TEST_SUITE_P(Faults, HeaderFaultTest,
                         ::testing::Values(HeaderCase{Fault::BadStartMark, 0, kBadStart},
                                           HeaderCase{Fault::BadReserved, 0, kBadReserved},
                                           HeaderCase{Fault::BadEndMark, 0, kBadEnd},
                                           HeaderCase{Fault::WrongEcho, 0, kWrongCode},
                                           HeaderCase{Fault::HugeLength, 0, kTooLong},
                                           HeaderCase{Fault::TruncatedBody, 0, kShortBody},
                                           HeaderCase{Fault::ShortLength, 0, kLengthTooSmall},
                                           HeaderCase{Fault::BadCrc, 0, kBadCrc},
                                           HeaderCase{Fault::UnrecognisedAnswer, 0, kGood}),
                         [](const auto& info) {
                           std::string name(sim::FaultName(info.param.fault));
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

// A fault's parameter and its default, as they show on the device information answer
// (8694 bytes after its header).
struct ValueCase {
  Fault fault;
  uint32_t value;
  uint32_t (*seen)(const Answer&);
  uint32_t expected;
};
void PrintTo(const ValueCase& c, std::ostream* out) { *out << sim::FaultName(c.fault); }

class FaultValueTest : public FaultTest, public ::testing::WithParamInterface<ValueCase> {};

TEST_P(FaultValueTest, ShowsOnTheWire) {
  instrument_.Inject(FaultSpec{.fault = GetParam().fault, .value = GetParam().value});
  EXPECT_EQ(GetParam().seen(Exchange(kCmdDeviceInfo)), GetParam().expected);
}

uint32_t StartOf(const Answer& a) {
  return a.StartMark();
}
uint32_t ReservedOf(const Answer& a) {
  return a.Reserved();
}
uint32_t EndOf(const Answer& a) {
  return a.EndMark();
}
uint32_t CodeOf(const Answer& a) {
  return a.Code();
}
uint32_t AnswerOf(const Answer& a) {
  return a.AnswerCode();
}
uint32_t LengthOf(const Answer& a) {
  return a.Length();
}
uint32_t BodyOf(const Answer& a) {
  return static_cast<uint32_t>(a.body.size());
}

INSTANTIATE_TEST_SUITE_P(
    Values, FaultValueTest,
    ::testing::Values(ValueCase{Fault::BadStartMark, 0, StartOf, 0x6958},
                      ValueCase{Fault::BadStartMark, 0x1234, StartOf, 0x1234},
                      ValueCase{Fault::BadReserved, 0, ReservedOf, 1},
                      ValueCase{Fault::BadReserved, 0x0100, ReservedOf, 0x0100},
                      ValueCase{Fault::BadEndMark, 0, EndOf, 0x8596},
                      ValueCase{Fault::WrongEcho, 0, CodeOf, kCmdDeviceInfo + 1},
                      ValueCase{Fault::WrongEcho, kCmdText, CodeOf, kCmdText},
                      ValueCase{Fault::UnrecognisedAnswer, 0, AnswerOf, 0x37},
                      ValueCase{Fault::UnrecognisedAnswer, 0x40, AnswerOf, 0x40},
                      ValueCase{Fault::ShortLength, 3, LengthOf, 3},
                      ValueCase{Fault::ShortLength, 3, BodyOf, 3},
                      ValueCase{Fault::HugeLength, 0, LengthOf, 40000},
                      ValueCase{Fault::HugeLength, 100, LengthOf, 40000},  // not huge: default
                      ValueCase{Fault::HugeLength, 0xFFFFFFFFu, LengthOf, 0xFFFFFFFFu},
                      ValueCase{Fault::TruncatedBody, 10, LengthOf, 8694},
                      ValueCase{Fault::TruncatedBody, 10, BodyOf, 8684},
                      ValueCase{Fault::TruncatedBody, 0, BodyOf, 8694 / 2}));

TEST_F(FaultTest, LengthFaultsSendNothingMoreThanTheyShow) {
  instrument_.Inject(FaultSpec{.fault = Fault::ShortLength});  // on an answer without payload
  const std::vector<uint8_t> sdti = {'S', 'D', 'T', 'I', 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0};
  const Answer answer = Exchange(kCmdText, sdti);
  EXPECT_EQ(answer.Length(), 2u);
  EXPECT_EQ(answer.body, (std::vector<uint8_t>{0, 0}));
  EXPECT_EQ(RxQueue(), 0u);

  instrument_.Inject(FaultSpec{.fault = Fault::HugeLength});
  Send(kCmdDeviceInfo);
  EXPECT_EQ(Read(12).size(), 12u);
  clock_.Sleep(1s);
  EXPECT_EQ(RxQueue(), 0u);  // nothing follows the header
}

TEST_F(FaultTest, BadCrcKeepsThePayloadButFailsTheCheck) {
  const std::vector<uint8_t> good = Ginf().body;
  instrument_.Inject(FaultSpec{.fault = Fault::BadCrc});
  const Answer bad = Ginf();
  ASSERT_EQ(bad.body.size(), good.size());
  EXPECT_TRUE(std::equal(good.begin(), good.end() - 4, bad.body.begin()));
  EXPECT_NE(Crc32Jam(bad.body.data(), bad.body.size()), 0u);
}

TEST_F(FaultTest, FaultsThatNeedABodyWaitForAnAnswerWithOne) {
  instrument_.Inject(FaultSpec{.fault = Fault::BadCrc});
  const std::vector<uint8_t> sdti = {'S', 'D', 'T', 'I', 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0};
  EXPECT_EQ(Judge(Exchange(kCmdText, sdti), kCmdText), kGood);
  EXPECT_EQ(Fired(Fault::BadCrc), 0u);
  EXPECT_EQ(Judge(Ginf(), kCmdText), kBadCrc);
}

TEST_F(FaultTest, ABabblingLineAlwaysHasBytesAndAPurgeClearsOnlyWhatArrived) {
  instrument_.Inject(FaultSpec{.fault = Fault::Babble});
  const Answer noise = Ginf();
  EXPECT_EQ(noise.header.size(), 12u);
  EXPECT_NE(Judge(noise, kCmdText), kGood);
  EXPECT_EQ(instrument_.counters().answersLostInBabble, 0u);
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(device_->Purge(3), kFtOk);
    EXPECT_GT(RxQueue(), 0u);  // what came during the purge itself
    clock_.Sleep(1s);
    EXPECT_GT(RxQueue(), 60'000u);
  }
  // Answers drown in it.
  Send(kCmdText, Bytes("GINF"));
  EXPECT_EQ(instrument_.counters().answersLostInBabble, 1u);
  EXPECT_GT(instrument_.counters().overrunBytes, 0u);

  instrument_.ClearFaults();
  ASSERT_EQ(device_->Purge(3), kFtOk);
  clock_.Sleep(1s);
  EXPECT_EQ(RxQueue(), 0u);
  EXPECT_EQ(Judge(Ginf(), kCmdText), kGood);
}

TEST_F(FaultTest, ABabbleWithADurationStopsByItself) {
  instrument_.Inject(FaultSpec{.fault = Fault::Babble, .value = 2500});
  Send(kCmdText, Bytes("GINF"));
  const Clock::TimePoint start = clock_.Now();
  EXPECT_EQ(Read(12).size(), 12u);  // noise where the header should be
  // The program's drain: status, purge, a second's pause, until both queues are empty.
  int rounds = 0;
  while (RxQueue() > 0 && rounds < 10) {
    ASSERT_EQ(device_->Purge(3), kFtOk);
    clock_.Sleep(1s);
    ++rounds;
  }
  // Purges at 0, 1 and 2 s; the noise up to 2.5 s is found at 3 s and purged; quiet at 4 s.
  EXPECT_EQ(rounds, 4);
  EXPECT_GE(clock_.Now() - start, 2500ms);
  EXPECT_EQ(Judge(Ginf(), kCmdText), kGood);
}

TEST_F(FaultTest, ABabblingLineFeedsAWaitingRead) {
  instrument_.Inject(FaultSpec{.fault = Fault::Babble});
  Send(kCmdText, Bytes("GINF"));
  ASSERT_EQ(device_->Purge(3), kFtOk);
  const Clock::TimePoint start = clock_.Now();
  EXPECT_EQ(Read(30000).size(), 30000u);
  EXPECT_LT(Since(start), 120ms);  // 30000 bytes at 3 Mbaud: 110 ms
}

TEST_F(FaultTest, ASilentInstrumentTakesNoNoticeUntilCleared) {
  StartWrite();
  instrument_.Inject(FaultSpec{.fault = Fault::Silent, .count = -1});
  EXPECT_EQ(Judge(Exchange(kCmdWriteBlock, Numbered(1, Pattern(10))), kCmdWriteBlock), kNoHeader);
  EXPECT_EQ(Judge(Ginf(), kCmdText), kNoHeader);
  EXPECT_EQ(Judge(Exchange(kCmdDeviceInfo), kCmdDeviceInfo), kNoHeader);
  EXPECT_TRUE(instrument_.WriteBlocks("sensor0").empty());  // not even looked at
  EXPECT_EQ(instrument_.counters().unansweredCommands, 3u);
  EXPECT_EQ(instrument_.counters().AnswersWithheld(), 3u);  // not the install: counted as lost
  EXPECT_EQ(instrument_.Commands().size(), 4u);  // but they did arrive
  instrument_.ClearFaults();
  EXPECT_EQ(Exchange(kCmdWriteBlock, Numbered(1, Pattern(10))).Number(), 1u);
}

TEST_F(FaultTest, ASilenceWithADurationEnds) {
  instrument_.Inject(FaultSpec{.fault = Fault::Silent, .value = 2500});
  EXPECT_EQ(Judge(Ginf(), kCmdText), kNoHeader);
  EXPECT_EQ(Judge(Ginf(), kCmdText), kNoHeader);
  EXPECT_EQ(Judge(Ginf(), kCmdText), kNoHeader);
  EXPECT_EQ(Judge(Ginf(), kCmdText), kGood);  // about 3 s later
}

TEST_F(FaultTest, UnplugMakesTheBridgeVanishRightAfterTheCommand) {
  instrument_.Inject(FaultSpec{.fault = Fault::Unplug, .onCommand = kCmdWriteBlock});
  StartWrite();
  Send(kCmdWriteBlock, Numbered(1, Pattern(10)));  // this write still went out
  uint8_t byte;
  uint32_t n = 0;
  EXPECT_EQ(device_->Read(&byte, 1, &n), kFtIoError);
  EXPECT_TRUE(instrument_.Unplugged());
  uint32_t count = 0;
  EXPECT_EQ(bus_.CountDevices(&count), kFtDeviceNotFound);
}

// ---- Aiming: skip, count, onCommand ---------------------------------------------------------

TEST_F(FaultTest, SkipCountAndCommandAimAFaultAtOneStage) {
  // The acknowledgements of the third and fourth write blocks are lost, nothing else.
  instrument_.Inject(
      FaultSpec{.fault = Fault::DropAnswer, .count = 2, .skip = 2, .onCommand = kCmdWriteBlock});
  StartWrite();
  std::vector<int> verdicts;
  for (uint32_t n = 1; n <= 6; ++n) {
    verdicts.push_back(
        Judge(Exchange(kCmdWriteBlock, Numbered(n, Pattern(10, n))), kCmdWriteBlock));
    EXPECT_EQ(Judge(Ginf(), kCmdText), kGood);
  }
  EXPECT_EQ(verdicts, (std::vector<int>{kGood, kGood, kNoHeader, kNoHeader, kGood, kGood}));
  EXPECT_EQ(Fired(Fault::DropAnswer), 2u);
}

TEST_F(FaultTest, ACountOfMinusOneFiresUntilCleared) {
  instrument_.Inject(FaultSpec{.fault = Fault::BadCrc, .count = -1});
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Judge(Ginf(), kCmdText), kBadCrc);
  instrument_.ClearFaults();
  EXPECT_EQ(Judge(Ginf(), kCmdText), kGood);
  EXPECT_EQ(Fired(Fault::BadCrc), 5u);
}

TEST_F(FaultTest, TwoFaultsOfOneKindEachSeeEveryOccasion) {
  instrument_.Inject(FaultSpec{.fault = Fault::DropAnswer, .skip = 1});
  instrument_.Inject(FaultSpec{.fault = Fault::DropAnswer, .skip = 2});
  EXPECT_EQ(Judge(Ginf(), kCmdText), kGood);
  EXPECT_EQ(Judge(Ginf(), kCmdText), kNoHeader);
  EXPECT_EQ(Judge(Ginf(), kCmdText), kNoHeader);
  EXPECT_EQ(Judge(Ginf(), kCmdText), kGood);
}

TEST_F(FaultTest, FaultsOfDifferentKindsCombineOnOneAnswer) {
  instrument_.Inject(FaultSpec{.fault = Fault::BadReserved});
  instrument_.Inject(FaultSpec{.fault = Fault::BadCrc});
  const Answer answer = Ginf();
  EXPECT_EQ(answer.Reserved(), 1u);
  EXPECT_NE(Crc32Jam(answer.body.data(), answer.body.size()), 0u);
}

// ---- Instrument level -----------------------------------------------------------------------

TEST_F(FaultTest, RefusalsCarryTheGivenTextInTheInstrumentsCodePage) {
  instrument_.Inject(FaultSpec{.fault = Fault::RefuseRequest, .text = "Нет места"});
  Answer answer = Exchange(kCmdWriteRequest, Name("swap"));
  EXPECT_EQ(answer.AnswerCode(), kAnsRefusal);
  const std::string expected = Utf8ToCp1251("Нет места") + '\0';
  EXPECT_EQ(answer.Payload(), std::vector<uint8_t>(expected.begin(), expected.end()));

  instrument_.Inject(FaultSpec{.fault = Fault::RefuseRequest, .onCommand = kCmdReadRequest});
  EXPECT_EQ(Exchange(kCmdWriteRequest, Name("swap")).AnswerCode(), kAnsAck);
  answer = Exchange(kCmdReadRequest, Name("swap"));
  EXPECT_EQ(answer.AnswerCode(), kAnsRefusal);
  EXPECT_EQ(answer.Text(), "Запрос отклонён");

  instrument_.Inject(FaultSpec{.fault = Fault::RefusalWithoutNul});
  instrument_.Inject(FaultSpec{.fault = Fault::RefuseRequest, .text = "Занято"});
  answer = Exchange(kCmdWriteRequest, Name("swap"));
  const std::string bare = Utf8ToCp1251("Занято");
  EXPECT_EQ(answer.Payload(), std::vector<uint8_t>(bare.begin(), bare.end()));
}

TEST_F(FaultTest, RefuseBlockRefusesAWriteBlockOrAReadAcknowledgement) {
  StartWrite();
  instrument_.Inject(FaultSpec{.fault = Fault::RefuseBlock, .skip = 1, .text = "Сбой памяти"});
  EXPECT_EQ(Exchange(kCmdWriteBlock, Numbered(1, Pattern(10))).AnswerCode(), kAnsAck);
  Answer answer = Exchange(kCmdWriteBlock, Numbered(2, Pattern(10)));
  EXPECT_EQ(answer.AnswerCode(), kAnsRefusal);
  EXPECT_EQ(answer.Text(), "Сбой памяти");
  EXPECT_EQ(Exchange(kCmdWriteBlock, Numbered(2, Pattern(10))).Number(), 2u);  // not stored

  PrepareRead();
  instrument_.Inject(FaultSpec{.fault = Fault::RefuseBlock});
  ASSERT_EQ(Exchange(kCmdReadRequest, Name("swap")).AnswerCode(), kAnsData);
  answer = Exchange(kCmdReadAck, Numbered(1));
  EXPECT_EQ(answer.AnswerCode(), kAnsRefusal);
  EXPECT_EQ(answer.Text(), "Блок отклонён");
}

TEST_F(FaultTest, AWrongAckNumberLeavesTheBlockUnstored) {
  StartWrite("dev_info");
  instrument_.Inject(FaultSpec{.fault = Fault::WrongAckNumber, .skip = 1});
  EXPECT_EQ(Exchange(kCmdWriteBlock, Numbered(1, Pattern(5, 1))).Number(), 1u);
  EXPECT_EQ(Exchange(kCmdWriteBlock, Numbered(2, Pattern(5, 2))).Number(), 1u);
  EXPECT_EQ(Exchange(kCmdWriteBlock, Numbered(2, Pattern(5, 2))).Number(), 2u);
  instrument_.Inject(FaultSpec{.fault = Fault::WrongAckNumber, .value = 77});
  EXPECT_EQ(Exchange(kCmdWriteBlock, Numbered(3)).Number(), 77u);
  EXPECT_EQ(Exchange(kCmdWriteBlock, Numbered(3)).Number(), 3u);
  std::vector<uint8_t> expected = Pattern(5, 1);
  const std::vector<uint8_t> second = Pattern(5, 2);
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(instrument_.FileContent("dev_info"), expected);
}

// The acknowledgement names a block still to come; the block itself is stored, and the
// program's resend of it is taken as a repeat.
TEST_F(FaultTest, AnAckAheadStoresTheBlockButNamesOneNeverSent) {
  StartWrite("dev_info");
  instrument_.Inject(FaultSpec{.fault = Fault::AckAhead});
  EXPECT_EQ(Exchange(kCmdWriteBlock, Numbered(1, Pattern(5, 1))).Number(), 2u);
  EXPECT_EQ(Exchange(kCmdWriteBlock, Numbered(1, Pattern(5, 1))).Number(), 1u);
  instrument_.Inject(FaultSpec{.fault = Fault::AckAhead, .value = 9});
  EXPECT_EQ(Exchange(kCmdWriteBlock, Numbered(2)).Number(), 9u);
  EXPECT_EQ(instrument_.FileContent("dev_info"), Pattern(5, 1));
}

TEST_F(FaultTest, UnrecognisedWriteRequestAnswersComeCountTimes) {
  instrument_.Inject(FaultSpec{.fault = Fault::UnrecognisedWrqAnswer, .count = 2});
  for (int i = 0; i < 2; ++i) {
    const Answer answer = Exchange(kCmdWriteRequest, Name("swap"));
    EXPECT_EQ(answer.AnswerCode(), 0x37);
    EXPECT_EQ(answer.Payload(), Numbered(0));
  }
  EXPECT_EQ(Exchange(kCmdWriteRequest, Name("swap")).AnswerCode(), kAnsAck);
  instrument_.Inject(FaultSpec{.fault = Fault::UnrecognisedWrqAnswer, .value = 0x3A});
  EXPECT_EQ(Exchange(kCmdWriteRequest, Name("swap")).AnswerCode(), 0x3A);
  EXPECT_EQ(Exchange(kCmdReadRequest, Name("swap")).AnswerCode(), kAnsData);  // reads unaffected
}

TEST_F(FaultTest, BadAckLengthAndNonZeroRequestBlockChangeTheAcknowledgement) {
  instrument_.Inject(FaultSpec{.fault = Fault::BadAckLength, .onCommand = kCmdWriteRequest});
  EXPECT_EQ(Exchange(kCmdWriteRequest, Name("swap")).Payload().size(), 2u);
  instrument_.Inject(FaultSpec{.fault = Fault::BadAckLength, .value = 8});
  EXPECT_EQ(Exchange(kCmdWriteRequest, Name("swap")).Payload().size(), 8u);
  instrument_.Inject(FaultSpec{.fault = Fault::WrqNonZeroBlock, .value = 7});
  EXPECT_EQ(Exchange(kCmdWriteRequest, Name("swap")).Payload(), Numbered(7));
  instrument_.Inject(FaultSpec{.fault = Fault::WrqNonZeroBlock});
  EXPECT_EQ(Exchange(kCmdWriteRequest, Name("swap")).Payload(), Numbered(1));
  EXPECT_EQ(Exchange(kCmdWriteBlock, Numbered(1, Pattern(3))).Payload(), Numbered(1));
}

TEST_F(FaultTest, ReadBlockFaultsChangeWhatIsSent) {
  PrepareRead();
  const std::vector<uint8_t> file = instrument_.FileContent("swap");

  instrument_.Inject(FaultSpec{.fault = Fault::FirstReadBlockNumber, .value = 2});
  EXPECT_EQ(Exchange(kCmdReadRequest, Name("swap")).Number(), 2u);

  instrument_.Inject(FaultSpec{.fault = Fault::RepeatReadBlock});
  ASSERT_EQ(Exchange(kCmdReadRequest, Name("swap")).Number(), 1u);
  EXPECT_EQ(Exchange(kCmdReadAck, Numbered(1)).Number(), 1u);
  EXPECT_EQ(Exchange(kCmdReadAck, Numbered(1)).Number(), 2u);

  instrument_.Inject(FaultSpec{.fault = Fault::ShortReadBlock, .onCommand = kCmdReadAck});
  ASSERT_EQ(Exchange(kCmdReadRequest, Name("swap")).Payload().size(), 4u + 32760);
  EXPECT_EQ(Exchange(kCmdReadAck, Numbered(1)).Payload().size(), 2u);
  instrument_.Inject(FaultSpec{.fault = Fault::ShortReadBlock, .value = 3});
  EXPECT_EQ(Exchange(kCmdReadRequest, Name("swap")).Payload().size(), 3u);

  EXPECT_EQ(instrument_.FileContent("swap"), file);  // the file itself is never touched
}

TEST_F(FaultTest, ReadBackFaultsChangeTheDataOfOneRead) {
  PrepareRead(70000);
  const std::vector<uint8_t> file = instrument_.FileContent("swap");
  const auto readAll = [&] { return ReadFile("swap"); };

  instrument_.Inject(FaultSpec{.fault = Fault::CorruptReadBack, .value = 40000});
  std::vector<uint8_t> data = readAll();
  ASSERT_EQ(data.size(), file.size());
  for (size_t i = 0; i < data.size(); ++i) {
    if (i == 40000)
      EXPECT_NE(data[i], file[i]);
    else if (data[i] != file[i])
      ADD_FAILURE() << "byte " << i << " differs too";
  }

  instrument_.Inject(FaultSpec{.fault = Fault::ShortReadBack, .value = 1000});
  data = readAll();
  EXPECT_EQ(data, std::vector<uint8_t>(file.begin(), file.end() - 1000));

  instrument_.Inject(FaultSpec{.fault = Fault::LongReadBack});
  data = readAll();
  ASSERT_EQ(data.size(), file.size() + 100);
  EXPECT_TRUE(std::equal(file.begin(), file.end(), data.begin()));

  EXPECT_EQ(readAll(), file);
}

TEST_F(FaultTest, NeverReportVersionInstallsButKeepsTheOldVersion) {
  instrument_.SetFileContent("swap", Pattern(1000));
  instrument_.Inject(FaultSpec{.fault = Fault::NeverReportVersion});
  ASSERT_EQ(Exchange(kCmdWriteRequest, Name("kernel")).AnswerCode(), kAnsAck);
  clock_.Sleep(6s);
  EXPECT_TRUE(instrument_.Installed());
  EXPECT_EQ(instrument_.ProgramVersionText(), "1.22.0");
  EXPECT_EQ(GetI32(&Ginf().Payload()[44]), 22);
  EXPECT_EQ(Fired(Fault::NeverReportVersion), 1u);
}

TEST_F(FaultTest, ARefusedClockKeepsTheInstrumentsOwnTime) {
  std::vector<uint8_t> sdti = Bytes("SDTI");
  sdti.resize(sdti.size() + kClockRecordSize, 1);
  instrument_.Inject(FaultSpec{.fault = Fault::RefuseClock, .text = "Нет"});
  const Answer refused = Exchange(kCmdText, sdti);
  EXPECT_EQ(refused.AnswerCode(), kAnsRefusal);
  EXPECT_EQ(refused.Text(), "Нет");
  EXPECT_FALSE(instrument_.ClockSet());
  EXPECT_EQ(Exchange(kCmdText, sdti).AnswerCode(), kAnsAck);
  EXPECT_TRUE(instrument_.ClockSet());
}

TEST_F(FaultTest, IgnoreGinfLeavesTheOtherCommandsAlone) {
  instrument_.Inject(FaultSpec{.fault = Fault::IgnoreGinf, .count = -1});
  EXPECT_EQ(Judge(Ginf(), kCmdText), kNoHeader);
  EXPECT_EQ(Judge(Exchange(kCmdDeviceInfo), kCmdDeviceInfo), kGood);
  EXPECT_EQ(Judge(Ginf(), kCmdText), kNoHeader);
}

TEST_F(FaultTest, RecordLengthChangesTheSizeOfARecord) {
  instrument_.Inject(FaultSpec{.fault = Fault::RecordLength, .value = 8691});
  const std::vector<uint8_t> longer = Exchange(kCmdDeviceInfo).Payload();
  EXPECT_EQ(longer.size(), 8691u);
  EXPECT_EQ(GetI32(&longer[56]), 4410017);
  instrument_.Inject(FaultSpec{.fault = Fault::RecordLength});
  EXPECT_EQ(Exchange(kCmdDeviceInfo).Payload().size(), 8689u);
  instrument_.Inject(FaultSpec{.fault = Fault::RecordLength, .value = 67});
  EXPECT_EQ(Ginf().Payload().size(), 67u);
  EXPECT_EQ(Ginf().Payload().size(), 68u);
}

}  // namespace
}  // namespace vxa::simtest
