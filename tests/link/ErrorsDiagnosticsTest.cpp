#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "text/Messages.h"
#include "link/Diagnostics.h"
#include "link/Errors.h"
#include "tests/support/TempDir.h"

namespace vxa {
namespace {

TEST(ConnErrorTest, StatusIsAppendedWithoutSeparator) {
  SetMessageLanguage(kLanguageRussian);
  EXPECT_STREQ(TVXA4410ConnError(MessageText(msg::kFtdiReadError, 1), -1).Text(),
               "Ошибка чтения файла FTDI код -1");
  EXPECT_STREQ(TVXA4410ConnError(MessageText(msg::kFtdiWriteError, 1), 4).Text(),
               "Ошибка записи в файл FTDI код 4");
  SetMessageLanguage(kLanguageEnglish);
  EXPECT_STREQ(TVXA4410ConnError(MessageText(msg::kFtdiReadError, 1), 4).Text(),
               "Error while reading FTDI file code4");
  SetMessageLanguage(kLanguageRussian);
  EXPECT_STREQ(TVXA4410ConnError(std::string("FT_Open failed")).Text(), "FT_Open failed");
  // The kind travels beside the text and never changes it.
  EXPECT_EQ(TVXA4410ConnError("x").Kind(), ConnErrorKind::kOther);
  const TVXA4410ConnError link(MessageText(msg::kFtdiReadError, 0), 4, ConnErrorKind::kLink);
  EXPECT_STREQ(link.Text(), "Ошибка чтения файла FTDI код 4");
  EXPECT_EQ(link.Kind(), ConnErrorKind::kLink);
}

TEST(ConnErrorTest, TheTwoErrorTypesNeverCatchEachOther) {
  auto throwsBuffer = [] {
    try {
      throw TBufferError("Verified data mismatch");
    } catch (const TVXA4410ConnError&) {
      return std::string("caught as a link failure");
    } catch (const TBufferError& e) {
      return std::string(e.Text());
    }
  };
  auto throwsConn = [] {
    try {
      throw TVXA4410ConnError("FT_Open failed");
    } catch (const TBufferError&) {
      return std::string("caught as a buffer failure");
    } catch (const TVXA4410ConnError& e) {
      return std::string(e.Text());
    }
  };
  EXPECT_EQ(throwsBuffer(), "Verified data mismatch");
  EXPECT_EQ(throwsConn(), "FT_Open failed");
}

TEST(ConnErrorTest, AGenericHandlerAtTheTopStillSeesTheText) {
  try {
    throw TVXA4410ConnError("Connection already binded");
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Connection already binded");
  }
}

// Through a temporary file (binary, so that line ends stay as written on every platform).
std::string Dump(const std::string& bytes) {
  std::FILE* file = std::tmpfile();
  if (file == nullptr) return "(no temporary file)";
  DumpMemoryBlock(file, bytes.data(), static_cast<int32_t>(bytes.size()));
  std::rewind(file);
  std::string result;
  char chunk[256];
  for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) result.append(chunk, got);
  std::fclose(file);
  return result;
}

TEST(DumpMemoryBlockTest, HeadingThenSixteenBytesALine) {
  EXPECT_EQ(Dump(""), "\nDump memory block:\n");
  EXPECT_EQ(Dump(std::string("\x00\x7F\x80", 3)), "\nDump memory block:\n000000:  00 7F 80\n");
  std::string sixteen;
  for (int i = 0; i < 16; ++i) sixteen += static_cast<char>(0xF0 + i);
  EXPECT_EQ(Dump(sixteen),
            "\nDump memory block:\n"
            "000000:  F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF\n");
  EXPECT_EQ(Dump(sixteen + "\xAB"),
            "\nDump memory block:\n"
            "000000:  F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF\n"
            "000010:  AB\n");
}

class DiagnosticFilesTest : public ::testing::Test {
 protected:
  test::ScopedTempDir dir_;
};

TEST_F(DiagnosticFilesTest, NothingAskedNothingCreated) {
  {
    TDiagnosticFiles files;
    EXPECT_TRUE(files.SetLogging(false, false));
    files.Log(logfmt::kCommand, 30, 0);
    EXPECT_FALSE(files.Logging());
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
}

TEST_F(DiagnosticFilesTest, LogLinesAreWrittenAsFormattedAndTruncatedOnReopen) {
  {
    TDiagnosticFiles files;
    ASSERT_TRUE(files.SetLogging(true, false));
    files.Log(logfmt::kCommand, 0xFF, 4);
    files.Log(logfmt::kWriteBlock, "tx_stt_Write", 0x34, 1, 32752);
    files.Log(logfmt::kReadBlockAnswer, "rx_stt_Read", 0x34, 32764, 2);
  }
  EXPECT_EQ(dir_.Read(kLogFileName),
            "CMD Code=255 Len=4\n"
            "tx_stt_Write: CMD(0x34) BLK(1)\tDLEN(32752) \n"
            "rx_stt_Read: ANS(0x34) DLEN(00032764) BLOCK(0002)\n");
  EXPECT_FALSE(dir_.Exists(kDumpFileName));
  TDiagnosticFiles again;
  ASSERT_TRUE(again.SetLogging(true, true));
  again.FlushLog();
  EXPECT_EQ(dir_.Read(kLogFileName), "");
  EXPECT_TRUE(dir_.Exists(kDumpFileName));
}

TEST_F(DiagnosticFilesTest, ADumpFileThatCannotBeMadeClosesTheLogToo) {
  std::filesystem::create_directory(dir_.path() / kDumpFileName);
  TDiagnosticFiles files;
  EXPECT_FALSE(files.SetLogging(true, true));
  EXPECT_FALSE(files.Logging());
  EXPECT_FALSE(files.Dumping());
  EXPECT_TRUE(dir_.Exists(kLogFileName));
}

// What another user may have put under a diagnostic file's name in a shared folder: each is
// refused with its cause, and nothing is written through it (a link's target keeps its text, a
// missing target is not made, a pipe nobody reads does not hold the program).
TEST_F(DiagnosticFilesTest, ANameThatIsNoPlainFileIsRefusedWithItsCause) {
  namespace fs = std::filesystem;
  using Plant = void (*)(const std::string& name);
  const std::string isLink = MessageText(msg::kOwnFileIsLink, 0);
#if defined(_WIN32)
  const std::string isDirectory = MessageText(msg::kOwnFileNotRegular, 0);
#else
  const std::string isDirectory = std::strerror(EISDIR);
#endif
  const struct {
    const char* what;
    Plant plant;
    bool dump;  // planted under tx_dump, not under log_file.txt
    std::string cause;
  } rows[] = {
      {"a directory", [](const std::string& name) { fs::create_directory(name); }, false,
       isDirectory},
#if !defined(_WIN32)
      {"a link to a file", [](const std::string& name) { fs::create_symlink("other.txt", name); },
       false, isLink},
      {"a link to nothing",
       [](const std::string& name) { fs::create_symlink("missing.txt", name); }, false, isLink},
      {"a named pipe", [](const std::string& name) { ASSERT_EQ(::mkfifo(name.c_str(), 0600), 0); },
       false, MessageText(msg::kOwnFileNotRegular, 0)},
      {"a dump that links to a file",
       [](const std::string& name) { fs::create_symlink("other.txt", name); }, true, isLink},
#endif
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    test::ScopedTempDir dir;
    const std::string name = row.dump ? kDumpFileName : kLogFileName;
    std::ofstream("other.txt") << "someone else's";
    row.plant(name);
    TDiagnosticFiles files;
    EXPECT_FALSE(files.SetLogging(true, row.dump));
    EXPECT_FALSE(files.Logging());
    ASSERT_NE(files.FailedFile(), nullptr);
    EXPECT_EQ(files.FailedFile(), name);
    EXPECT_EQ(files.FailedCause(), row.cause);
    EXPECT_EQ(dir.Read("other.txt"), "someone else's");
    EXPECT_FALSE(dir.Exists("missing.txt"));
  }
}

TEST_F(DiagnosticFilesTest, ALogThatCannotBeMadeIsReportedAndNothingIsWritten) {
  std::filesystem::create_directory(dir_.path() / kLogFileName);
  TDiagnosticFiles files;
  EXPECT_FALSE(files.SetLogging(true, false));
  EXPECT_FALSE(files.Logging());
  files.Log(logfmt::kCommand, 1, 2);  // must not crash without a file
}

}  // namespace
}  // namespace vxa
