#pragma once

#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace vxa::test {

// The environment a program under test starts with: the test runner's, less the locale variables
// that choose the program's language (a developer's English desktop must not turn the expected
// Russian texts English) and COLUMNS (the width its shell has must not narrow the tables), plus
// `extra` entries ("LANG=en_US.UTF-8"), each in place of the runner's of the same name.
class ChildEnvironment {
 public:
  explicit ChildEnvironment(const std::vector<std::string>& extra = {}) {
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string_view text(*entry);
      if (text.starts_with("LANGUAGE=") || text.starts_with("LC_ALL=") ||
          text.starts_with("LC_MESSAGES=") || text.starts_with("LANG=") ||
          text.starts_with("COLUMNS=") || Replaced(text, extra)) {
        continue;
      }
      entries_.emplace_back(text);
    }
    entries_.insert(entries_.end(), extra.begin(), extra.end());
    for (std::string& entry : entries_) pointers_.push_back(entry.data());
    pointers_.push_back(nullptr);
  }
  ChildEnvironment(const ChildEnvironment&) = delete;
  ChildEnvironment& operator=(const ChildEnvironment&) = delete;

  char* const* Get() const { return pointers_.data(); }

 private:
  static bool Replaced(std::string_view entry, const std::vector<std::string>& extra) {
    const size_t equals = entry.find('=');
    if (equals == std::string_view::npos) return false;
    const std::string_view name = entry.substr(0, equals + 1);
    for (const std::string& given : extra) {
      if (std::string_view(given).starts_with(name)) return true;
    }
    return false;
  }

  std::vector<std::string> entries_;
  std::vector<char*> pointers_;
};

}  // namespace vxa::test
