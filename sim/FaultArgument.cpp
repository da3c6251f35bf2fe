#include "sim/FaultArgument.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <vector>

namespace vxa::sim {
namespace {

std::vector<std::string_view> SplitFields(std::string_view text) {
  std::vector<std::string_view> fields;
  for (;;) {
    const size_t colon = text.find(':');
    fields.push_back(text.substr(0, colon));
    if (colon == std::string_view::npos) return fields;
    text.remove_prefix(colon + 1);
  }
}

// Decimal, or hexadecimal with 0x, with an optional minus; within [min, max].
bool ParseNumber(std::string_view text, int64_t min, int64_t max, int64_t* value) {
  bool negative = false;
  if (!text.empty() && text.front() == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  uint64_t magnitude = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  if (magnitude > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
  const int64_t signedValue =
      negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  if (signedValue < min || signedValue > max) return false;
  *value = signedValue;
  return true;
}

}  // namespace

bool ParseFaultArgument(std::string_view argument, FaultSpec* faultSpec, std::string* error) {
  const std::vector<std::string_view> fields = SplitFields(argument);
  auto fail = [&](std::string text) {
    if (error != nullptr) *error = std::move(text);
    return false;
  };
  if (fields.size() > 5) {
    return fail("too many fields in \"" + std::string(argument) +
                "\" (NAME[:count[:skip[:value[:command]]]])");
  }
  bool known = false;
  FaultSpec parsed{.fault = FaultFromName(fields[0], &known)};
  if (!known) return fail("unknown fault \"" + std::string(fields[0]) + "\"");

  struct Field {
    const char* what;
    int64_t min, max;
  };
  // count: -1 (for ever) or a positive number; 0 would be a fault that never fires.
  static constexpr Field kFields[] = {
      {"count", -1, std::numeric_limits<int>::max()},
      {"skip", 0, std::numeric_limits<int>::max()},
      {"value", 0, std::numeric_limits<uint32_t>::max()},
      {"command", 0, 0xFF},
  };
  int64_t values[4] = {parsed.count, parsed.skip, parsed.value, parsed.onCommand};
  for (size_t i = 1; i < fields.size(); ++i) {
    if (fields[i].empty()) continue;
    const Field& field = kFields[i - 1];
    if (!ParseNumber(fields[i], field.min, field.max, &values[i - 1]) ||
        (i == 1 && values[0] == 0)) {
      return fail("bad " + std::string(field.what) + " \"" + std::string(fields[i]) +
                  "\" in fault \"" + std::string(argument) + "\"");
    }
  }
  parsed.count = static_cast<int>(values[0]);
  parsed.skip = static_cast<int>(values[1]);
  parsed.value = static_cast<uint32_t>(values[2]);
  parsed.onCommand = static_cast<int>(values[3]);
  *faultSpec = std::move(parsed);
  return true;
}

}  // namespace vxa::sim
