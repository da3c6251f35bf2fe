#pragma once

#include <ctime>
#include <string>

// Moments as ISO 8601 texts for the machine-readable output and the records: UTC with a Z, and
// the computer's local time with its offset from UTC.
namespace vxa {

std::string IsoUtc(std::time_t seconds);             // "2026-12-08T14:05:20Z"
std::string IsoLocal(std::time_t seconds);           // "2026-12-08T17:05:20+03:00"
// A local calendar time, with the offset the computer's zone has at `near`.
std::string IsoLocalCalendar(const std::tm& calendar, std::time_t near);

}  // namespace vxa
