#pragma once

#include <string>
#include <string_view>

// Windows speaks UTF-16 and numbers its failures; the program keeps UTF-8 inside. Windows only.
namespace vxa::win {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);
// The system's sentence for a GetLastError() code, without its trailing line break, in UTF-8.
std::string SystemErrorText(unsigned long code);

}  // namespace vxa::win
