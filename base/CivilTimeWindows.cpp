#include "base/CivilTime.h"

namespace vxa {

bool LocalCalendar(std::time_t seconds, std::tm* calendar) {
  return localtime_s(calendar, &seconds) == 0;
}

bool UtcCalendar(std::time_t seconds, std::tm* calendar) {
  return gmtime_s(calendar, &seconds) == 0;
}

std::time_t SecondsOfUtcCalendar(std::tm* calendar) {
  return _mkgmtime(calendar);
}

}  // namespace vxa
