#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "app/UpdateRecord.h"

namespace vxa::cli {

// The records as history prints them: when each began (the computer's local time), the
// instrument's serial number, its version before and after, and how it ended; a heading first,
// the columns aligned, each line cut to fewer than `columns` characters.
std::string HistoryTable(const std::vector<RecordEntry>& entries, size_t columns);

}  // namespace vxa::cli
