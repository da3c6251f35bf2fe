#include "base/IsoTime.h"

#include <cstdio>
#include <cstdlib>

#include "base/CivilTime.h"

namespace vxa {
namespace {

std::string Calendar(const std::tm& calendar) {
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", calendar.tm_year + 1900,
                calendar.tm_mon + 1, calendar.tm_mday, calendar.tm_hour, calendar.tm_min,
                calendar.tm_sec);
  return text;
}

// How far the local clock is ahead of UTC at `seconds`, in seconds.
long OffsetAt(std::time_t seconds) {
  std::tm local{};
  if (!LocalCalendar(seconds, &local)) return 0;
  const std::time_t asUtc = SecondsOfUtcCalendar(&local);
  return asUtc == -1 ? 0 : static_cast<long>(asUtc - seconds);
}

std::string Offset(long offset) {
  char text[48];
  const long minutes = std::labs(offset) / 60;
  std::snprintf(text, sizeof text, "%c%02ld:%02ld", offset < 0 ? '-' : '+', minutes / 60,
                minutes % 60);
  return text;
}

}  // namespace

std::string IsoUtc(std::time_t seconds) {
  std::tm utc{};
  if (!UtcCalendar(seconds, &utc)) return {};
  return Calendar(utc) + "Z";
}

std::string IsoLocal(std::time_t seconds) {
  std::tm local{};
  if (!LocalCalendar(seconds, &local)) return {};
  return Calendar(local) + Offset(OffsetAt(seconds));
}

std::string IsoLocalCalendar(const std::tm& calendar, std::time_t near) {
  return Calendar(calendar) + Offset(OffsetAt(near));
}

}  // namespace vxa
