#pragma once

#include <ctime>

// Conversions between seconds since 1970 and the calendar, which each platform's C library spells
// its own way (localtime_r and timegm are POSIX; Windows has localtime_s and _mkgmtime).
namespace vxa {

// The calendar as the computer's local clock shows the moment. False when it cannot be told.
bool LocalCalendar(std::time_t seconds, std::tm* calendar);
// The calendar in UTC.
bool UtcCalendar(std::time_t seconds, std::tm* calendar);
// The moment a UTC calendar names; -1 when it names none.
std::time_t SecondsOfUtcCalendar(std::tm* calendar);

}  // namespace vxa
