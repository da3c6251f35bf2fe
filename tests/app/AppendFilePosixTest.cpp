// The record file's append on POSIX: a link is followed to a regular file, and whatever is no
// regular file (a folder, a FIFO nobody reads, a device) is refused at once.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "base/AppendFile.h"
#include "tests/support/TempDir.h"

namespace vxa::test {
namespace {

TEST(AppendFileTest, AppendsWholeLinesThroughALinkAndRefusesWhatIsNoFile) {
  ScopedTempDir dir;
  const std::filesystem::path target = dir.path() / "records.jsonl";
  std::filesystem::create_symlink(target, dir.path() / "link.jsonl");
  FileIoError error;
  for (const char* name : {"records.jsonl", "link.jsonl"}) {
    std::unique_ptr<AppendFile> file = AppendFile::Open(dir.path() / name, &error);
    ASSERT_NE(file, nullptr) << name << error.text;
    EXPECT_TRUE(file->Append(std::string(name) + "\n", &error)) << error.text;
  }
  EXPECT_EQ(dir.Read("records.jsonl"), "records.jsonl\nlink.jsonl\n");
  EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "link.jsonl"));

  std::filesystem::create_directory(dir.path() / "folder");
  ASSERT_EQ(::mkfifo((dir.path() / "fifo").c_str(), 0600), 0);
  std::filesystem::create_symlink(dir.path() / "fifo", dir.path() / "to-fifo");
  // Nobody reads the pipe: it is refused at once rather than waited on.
  for (const char* name : {"folder", "fifo", "to-fifo", "/dev/null"}) {
    FileIoError refused;
    EXPECT_EQ(AppendFile::Open(dir.path() / name, &refused), nullptr) << name;
    EXPECT_TRUE(refused.notRegular) << name << refused.text;
  }
}

}  // namespace
}  // namespace vxa::test
