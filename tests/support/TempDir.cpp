#include "tests/support/TempDir.h"

#include <fstream>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

namespace vxa::test {

ScopedTempDir::ScopedTempDir() : previous_(std::filesystem::current_path()) {
  // A name no other test picks (create_directory says whether it was free), on every platform.
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    std::filesystem::path candidate =
        std::filesystem::temp_directory_path() / ("vxa-test-" + std::to_string(random()));
    std::error_code error;
    if (std::filesystem::create_directory(candidate, error)) path_ = std::move(candidate);
  }
  if (path_.empty()) {
    ADD_FAILURE() << "cannot create a temporary directory";
    return;
  }
  std::filesystem::current_path(path_);
}

ScopedTempDir::~ScopedTempDir() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string ScopedTempDir::Read(const std::string& name) const {
  std::ifstream in(path_ / name, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace vxa::test
