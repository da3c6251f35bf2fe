#pragma once

#include <string>
#include <string_view>

namespace vxa {

// The instrument speaks Windows-1251; everything inside this program is UTF-8.
std::string Cp1251ToUtf8(std::string_view text);

// For the simulated instrument, which must send its texts as the real one does. Characters that
// the code page lacks become '?'.
std::string Utf8ToCp1251(std::string_view text);

}  // namespace vxa
