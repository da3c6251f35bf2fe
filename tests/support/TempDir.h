#pragma once

#include <filesystem>
#include <string>

namespace vxa::test {

// A fresh directory that becomes the current one for the life of the object: the program writes
// its diagnostic files into the current directory.
class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  bool Exists(const std::string& name) const { return std::filesystem::exists(path_ / name); }
  std::string Read(const std::string& name) const;

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

}  // namespace vxa::test
