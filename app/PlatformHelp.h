#pragma once

#include <cstdint>

namespace vxa {

// Where the help of a platform words a row its own way: the names of its serial ports, which
// backends exist there and how the language is chosen. The id of the text shown on this
// platform in place of the catalogue message `id` (itself where the text is the same
// everywhere). One file per platform defines it (PlatformHelpPosix.cpp, PlatformHelpWindows.cpp).
int32_t PlatformHelpText(int32_t id);

}  // namespace vxa
