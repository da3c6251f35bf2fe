#include "link/Crc32.h"
#include "tests/sim/SimTestSupport.h"

namespace vxa::simtest {
namespace {

class PacketLayerTest : public SimTest {
 protected:
  void SetUp() override { Open(); }
};

TEST_F(PacketLayerTest, AnAnswerIsWellFormedAndEchoesTheCommand) {
  const Answer answer = Exchange(kCmdDeviceInfo);
  ASSERT_EQ(answer.header.size(), 12u);
  EXPECT_EQ(answer.header[0], 0x69);
  EXPECT_EQ(answer.header[1], 0x58);
  EXPECT_EQ(answer.Code(), kCmdDeviceInfo);
  EXPECT_EQ(answer.Length(), 8690u + 4);
  EXPECT_EQ(answer.Reserved(), 0u);
  EXPECT_EQ(answer.header[10], 0x85);
  EXPECT_EQ(answer.header[11], 0x96);
  ASSERT_EQ(answer.body.size(), 8694u);
  EXPECT_EQ(Crc32Jam(answer.body.data(), answer.body.size()), 0u);
  EXPECT_EQ(Judge(answer, kCmdDeviceInfo), kGood);
}

TEST_F(PacketLayerTest, AnAnswerWithoutPayloadHasNoCrc) {
  const std::vector<uint8_t> sdti = {'S', 'D', 'T', 'I', 26, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0};
  const Answer answer = Exchange(kCmdText, sdti);
  EXPECT_EQ(Judge(answer, kCmdText), kGood);
  EXPECT_EQ(answer.Length(), 0u);
  EXPECT_EQ(RxQueue(), 0u);
}

struct Mangle {
  const char* name;
  size_t offset;  // byte of the GINF command to change
  uint8_t value;
};
void PrintTo(const Mangle& m, std::ostream* out) { *out << m.name; }

class BadCommandTest : public PacketLayerTest, public ::testing::WithParamInterface<Mangle> {};

TEST_P(BadCommandTest, GetsNoAnswerAndTheNextGoodOneIsAnswered) {
  std::vector<uint8_t> packet = CommandPacket(kCmdText, Bytes("GINF"));
  packet[GetParam().offset] = GetParam().value;
  ASSERT_EQ(device_->Purge(3), kFtOk);
  Write(packet);
  EXPECT_TRUE(Read(12).empty());  // the read timeout also gives the receiver its quiet time
  if (GetParam().offset < 2) {
    // Without its start mark it is no packet at all, only bytes to skip.
    EXPECT_EQ(instrument_.counters().badCommands, 0u);
    EXPECT_EQ(instrument_.counters().discardedBytes, packet.size());
  } else {
    EXPECT_EQ(instrument_.counters().badCommands, 1u);
  }
  EXPECT_EQ(instrument_.counters().commands, 0u);
  EXPECT_EQ(instrument_.counters().answersSent, 0u);
  EXPECT_TRUE(instrument_.LastCommand().empty());

  EXPECT_EQ(Judge(Exchange(kCmdText, Bytes("GINF")), kCmdText), kGood);
  EXPECT_EQ(instrument_.counters().commands, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Checks, BadCommandTest,
    ::testing::Values(Mangle{"StartMark", 0, 0x68}, Mangle{"StartMarkHigh", 1, 0x59},
                      Mangle{"Reserved", 8, 1}, Mangle{"ReservedHigh", 9, 0x80},
                      Mangle{"EndMark", 10, 0x86}, Mangle{"EndMarkHigh", 11, 0x69},
                      Mangle{"LengthTooSmall", 4, 3}, Mangle{"LengthTooLarge", 6, 0x01},  // 65544
                      Mangle{"Payload", 13, 'X'}, Mangle{"Crc", 16, 0x00}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PacketLayerTest, BytesBeforeAStartMarkAreSkipped) {
  std::vector<uint8_t> bytes = {0x00, 0x69, 0x69, 0x11, 0x58};
  const std::vector<uint8_t> packet = CommandPacket(kCmdText, Bytes("GINF"));
  bytes.insert(bytes.end(), packet.begin(), packet.end());
  Write(bytes);
  EXPECT_EQ(Judge(Receive(), kCmdText), kGood);
  EXPECT_EQ(instrument_.counters().discardedBytes, 5u);
  EXPECT_EQ(instrument_.counters().badCommands, 0u);
}

TEST_F(PacketLayerTest, TwoPacketsInOneWriteGetTwoAnswersInOrder) {
  std::vector<uint8_t> bytes = CommandPacket(kCmdText, Bytes("GINF"));
  const std::vector<uint8_t> second = CommandPacket(kCmdDeviceInfo);
  bytes.insert(bytes.end(), second.begin(), second.end());
  Write(bytes);
  EXPECT_EQ(Judge(Receive(), kCmdText), kGood);
  const Answer info = Receive();
  EXPECT_EQ(Judge(info, kCmdDeviceInfo), kGood);
  EXPECT_EQ(info.Length(), 8694u);
  EXPECT_EQ(instrument_.Commands().size(), 2u);
  EXPECT_EQ(instrument_.LastCommand(), second);
}

TEST_F(PacketLayerTest, APacketInPiecesIsPutTogether) {
  const std::vector<uint8_t> packet = CommandPacket(kCmdText, Bytes("GINF"));
  for (size_t cut : {1, 5, 12, 17}) {
    Write(std::vector<uint8_t>(packet.begin(), packet.begin() + cut));
    Write(std::vector<uint8_t>(packet.begin() + cut, packet.end()));
    EXPECT_EQ(Judge(Receive(), kCmdText), kGood) << cut;
  }
}

TEST_F(PacketLayerTest, AnUnfinishedPacketIsGivenUpWhenTheLineFallsQuiet) {
  const std::vector<uint8_t> packet = CommandPacket(kCmdText, Bytes("GINF"));
  Write(std::vector<uint8_t>(packet.begin(), packet.begin() + 14));
  EXPECT_TRUE(Read(12).empty());
  EXPECT_EQ(Judge(Exchange(kCmdText, Bytes("GINF")), kCmdText), kGood);
  EXPECT_EQ(instrument_.counters().badCommands, 1u);
  EXPECT_EQ(instrument_.counters().commands, 1u);
}

TEST_F(PacketLayerTest, TheLargestCommandIsTaken) {
  // 4 + 32748 payload bytes fill a command packet of 32768 bytes.
  ASSERT_EQ(Exchange(kCmdWriteRequest, Name("sensor0")).AnswerCode(), kAnsAck);
  std::vector<uint8_t> payload = Numbered(1, Pattern(kWriteBlockData));
  const std::vector<uint8_t> packet = CommandPacket(kCmdWriteBlock, payload);
  ASSERT_EQ(packet.size(), 32768u);
  const Answer ack = Exchange(kCmdWriteBlock, payload);
  EXPECT_EQ(Judge(ack, kCmdWriteBlock), kGood);
  EXPECT_EQ(ack.AnswerCode(), kAnsAck);
  EXPECT_EQ(instrument_.LastCommand(), packet);
}

TEST_F(PacketLayerTest, AnUnknownCodeIsRefusedWithARussianText) {
  const Answer answer = Exchange(0x40);
  EXPECT_EQ(Judge(answer, 0x40), kGood);
  EXPECT_EQ(answer.AnswerCode(), kAnsRefusal);
  const std::vector<uint8_t> payload = answer.Payload();
  ASSERT_FALSE(payload.empty());
  EXPECT_EQ(payload.back(), 0);  // NUL-terminated
  EXPECT_EQ(answer.Text(), "Неизвестная команда");
  // Windows-1251: one byte per letter.
  EXPECT_EQ(payload.size(), std::string_view("Неизвестная команда").size() / 2 + 2);
  EXPECT_EQ(instrument_.counters().refusalsSent, 1u);
}

TEST_F(PacketLayerTest, CommandsAreRecordedByteForByte) {
  const std::vector<uint8_t> first = CommandPacket(kCmdDeviceInfo);
  const std::vector<uint8_t> second = CommandPacket(kCmdText, Bytes("GINF"));
  Exchange(kCmdDeviceInfo);
  Exchange(kCmdText, Bytes("GINF"));
  const std::vector<std::vector<uint8_t>> expected = {first, second};
  EXPECT_EQ(instrument_.Commands(), expected);
  EXPECT_EQ(instrument_.LastCommand(), second);
  instrument_.ClearCalls();
  EXPECT_TRUE(instrument_.Commands().empty());
  EXPECT_TRUE(instrument_.LastCommand().empty());
  EXPECT_TRUE(instrument_.Calls().empty());
}

}  // namespace
}  // namespace vxa::simtest
