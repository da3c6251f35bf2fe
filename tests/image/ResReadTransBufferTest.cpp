#include <gtest/gtest.h>

#include <array>
#include <numeric>
#include <vector>

#include "app/image/ResReadTransBuffer.h"
#include "text/Messages.h"
#include "link/Errors.h"

namespace vxa {
namespace {

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  return bytes;
}

TEST(ResReadTransBufferTest, PositionMovesOnlyByReadWriteAndSetPosition) {
  const auto image = Pattern(100);
  TResReadTransBuffer buffer(image);
  EXPECT_EQ(buffer.GetPosition(), 0);
  EXPECT_EQ(buffer.GetSize(), 100);

  std::array<uint8_t, 40> out{};
  EXPECT_EQ(buffer.Peek(out.data(), 40), 40);
  EXPECT_EQ(buffer.GetPosition(), 0);
  EXPECT_EQ(buffer.Read(out.data(), 40), 40);
  EXPECT_EQ(buffer.GetPosition(), 40);
  EXPECT_TRUE(std::equal(out.begin(), out.end(), image.begin()));

  EXPECT_EQ(buffer.SetPosition(-1), -1);
  EXPECT_EQ(buffer.GetPosition(), 40);
  EXPECT_EQ(buffer.SetPosition(1000), 100);
  EXPECT_EQ(buffer.GetPosition(), 100);
  EXPECT_EQ(buffer.Read(out.data(), 40), 0);
  EXPECT_EQ(buffer.Peek(out.data(), 40), 0);
  EXPECT_EQ(buffer.Read(out.data(), 0), 0);
  EXPECT_EQ(buffer.Read(out.data(), -5), 0);

  buffer.SetPosition(90);
  EXPECT_EQ(buffer.Read(out.data(), 40), 10);
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 10, image.begin() + 90));
}

TEST(ResReadTransBufferTest, WriteComparesAndTakesOnlyWhatRemains) {
  const auto image = Pattern(100);
  TResReadTransBuffer buffer(image);
  buffer.SetPosition(60);
  std::vector<uint8_t> more(image.begin() + 60, image.end());
  more.resize(70, 0xEE);  // bytes past the image's end are not compared
  EXPECT_EQ(buffer.Write(more.data(), 70), 40);
  EXPECT_EQ(buffer.GetPosition(), 100);
  EXPECT_EQ(buffer.Write(more.data(), 10), 0);
}

TEST(ResReadTransBufferTest, ADifferingByteThrowsTheVerificationTextAndKeepsThePosition) {
  SetMessageLanguage(kLanguageEnglish);
  const auto image = Pattern(300);
  TResReadTransBuffer buffer(image);
  buffer.SetPosition(100);
  for (size_t wrong : {size_t{0}, size_t{57}, size_t{99}}) {
    std::vector<uint8_t> block(image.begin() + 100, image.begin() + 200);
    block[wrong] ^= 0x01;
    try {
      buffer.Write(block.data(), 100);
      ADD_FAILURE() << "no mismatch reported for byte " << wrong;
    } catch (const TBufferError& e) {
      EXPECT_STREQ(e.Text(), "Verified data mismatch");
    }
    EXPECT_EQ(buffer.GetPosition(), 100);
    ASSERT_TRUE(buffer.FirstDifference());
    EXPECT_EQ(buffer.FirstDifference()->offset, 100 + wrong);
    EXPECT_EQ(buffer.FirstDifference()->compared, 200u);
  }
  buffer.SetPosition(0);
  EXPECT_FALSE(buffer.FirstDifference());
  SetMessageLanguage(kLanguageRussian);
}

TEST(ResReadTransBufferTest, ReadBackInBlocksOfTheWholeBuiltInImage) {
  TResReadTransBuffer image(kBootImageName, kBootImageType);
  ASSERT_EQ(image.GetSize(), 2433882);
  TResReadTransBuffer reader(std::span<const uint8_t>(image.Data(), image.GetSize()));
  std::vector<uint8_t> block(32760);
  int total = 0;
  while (int n = reader.Read(block.data(), 32760)) total += image.Write(block.data(), n);
  EXPECT_EQ(total, 2433882);
  EXPECT_EQ(image.GetPosition(), image.GetSize());
}

TEST(ResReadTransBufferTest, PlaceholderImageIsNotOneRepeatedValue) {
  TResReadTransBuffer image(kBootImageName, kBootImageType);
  std::array<int, 256> seen{};
  for (int i = 0; i < image.GetSize(); ++i) seen[image.Data()[i]]++;
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 0), 0);
}

TEST(ResourceLookupTest, MissingOrEmptyImagesAreReportedInTheirOrder) {
  SetMessageLanguage(kLanguageRussian);
  static const uint8_t kByte = 1;
  const EmbeddedResource table[] = {
      {"EMPTY", "LOADBIN", &kByte, 0},
      {"NOPTR", "LOADBIN", nullptr, 10},
      {"VXA4410", "OTHER", &kByte, 1},
  };
  auto textOf = [&](const char* name) -> std::string {
    try {
      TResReadTransBuffer buffer(name, "LOADBIN", table);
    } catch (const TBufferError& e) {
      return e.Text();
    }
    return "no error";
  };
  EXPECT_EQ(textOf("VXA4410"), "Не найден ресурс содержащий загрузочный образ");
  EXPECT_EQ(textOf("NOPTR"), "Невозможно получить указатель на загрузочный образ");
  EXPECT_EQ(textOf("EMPTY"), "Неизвестный размер загрузочного образа");
}

}  // namespace
}  // namespace vxa
