// The pieces of an update's record: the image's SHA-256 and a record line read back (the append
// that never tears a line has its POSIX test beside this one).
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/UpdateRecord.h"
#include "base/AppendFile.h"
#include "base/Sha256.h"
#include "tests/support/TempDir.h"

namespace vxa::test {
namespace {

std::span<const uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

TEST(Sha256Test, KnownVectorsWholeAndInPieces) {
  const struct {
    std::string input;
    const char* digest;
  } vectors[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      // 64 bytes: the padding takes a block of its own.
      {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& vector : vectors) {
    SCOPED_TRACE(vector.input.size());
    EXPECT_EQ(Sha256::HexOf(Bytes(vector.input)), vector.digest);
    // Pieces that straddle the blocks give the same digest.
    Sha256 pieces;
    for (size_t at = 0; at < vector.input.size(); at += 37) {
      pieces.Update(Bytes(vector.input.substr(at, 37)));
    }
    EXPECT_EQ(Sha256::Hex(pieces.Finish()), vector.digest);
  }
}

TEST(UpdateRecordTest, ALineReadsBackAndATornOrForeignLineIsNone) {
  UpdateRecord record;
  record.started = 1796738720;
  record.ended = record.started + 75;
  record.image = IdentityOfImage(BuiltInResources());
  record.before = InstrumentFacts{"VXA-4410", "4410017", "2.1", "1.22.0"};
  record.newVersion = "1.23.1";
  record.outcome = Outcome(Outcome::kUpdated);
  record.text = "done \"quoted\"\n";
  record.stages = {{Stage::kWriteRequest, std::chrono::milliseconds(210)},
                   {Stage::kFileTransfer, std::chrono::seconds(9)}};
  const std::string line = RecordLine(record);
  ASSERT_TRUE(line.ends_with("\n"));
  EXPECT_EQ(line.find('\n'), line.size() - 1);
  EXPECT_NE(line.find("\"image_sha256\":\"" + record.image.sha256 + "\""), std::string::npos);
  EXPECT_NE(line.find(R"("stages":[{"stage":"write_request","seconds":0.21},{"stage":"transfer","seconds":9.0}])"),
            std::string::npos) << line;
  const std::optional<RecordEntry> entry = ReadRecordLine(line);
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->startUtc, "2026-12-08T14:05:20Z");
  EXPECT_EQ(entry->serialNumber, "4410017");
  EXPECT_EQ(entry->versionBefore, "1.22.0");
  EXPECT_EQ(entry->versionAfter, "1.23.1");
  EXPECT_EQ(entry->outcome, "updated");
  EXPECT_EQ(entry->text, record.text);
  for (const std::string& other : {line.substr(0, line.size() / 2), std::string("{\"type\":\"start\"}"),
                                   std::string("[1,2]"), std::string("\x01\xff garbage")}) {
    EXPECT_FALSE(ReadRecordLine(other)) << other;
  }
}

}  // namespace
}  // namespace vxa::test
