#include "base/CivilTime.h"

namespace vxa {

bool LocalCalendar(std::time_t seconds, std::tm* calendar) {
  return localtime_r(&seconds, calendar) != nullptr;
}

bool UtcCalendar(std::time_t seconds, std::tm* calendar) {
  return gmtime_r(&seconds, calendar) != nullptr;
}

std::time_t SecondsOfUtcCalendar(std::tm* calendar) {
  return timegm(calendar);
}

}  // namespace vxa
