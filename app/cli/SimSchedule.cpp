#include "app/cli/SimSchedule.h"

#include <charconv>

namespace vxa::cli {
namespace {

bool Number(const std::string& text, long long maximum, long long* value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, *value);
  return !text.empty() && error == std::errc() && stop == end && *value >= 0 && *value <= maximum;
}

}  // namespace

bool ParsePlugSchedule(const std::string& text, bool plugged, std::vector<SimPlugEntry>* plugs) {
  std::vector<SimPlugEntry> parsed;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma - start);
    const size_t colon = item.find(':');
    long long instrument = 0;
    long long seconds = 0;
    if (colon == std::string::npos || !Number(item.substr(0, colon), 7, &instrument) ||
        !Number(item.substr(colon + 1), 10'000'000, &seconds)) {
      return false;
    }
    parsed.push_back({static_cast<int>(instrument), std::chrono::seconds(seconds), plugged});
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  plugs->insert(plugs->end(), parsed.begin(), parsed.end());
  return true;
}

}  // namespace vxa::cli
