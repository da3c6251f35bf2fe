#pragma once

#include <cstdint>

// Any baud rate, not only the B-constants of <termios.h>: the bridge runs at 3,000,000 or
// 1,500,000 baud. This needs the kernel's termios2, whose header cannot share a translation unit
// with <termios.h>, so these two calls live in a source file of their own.
namespace vxa::serial {

// Sets input and output speed of the port to `baud`. Returns 0 or an errno value.
int SetLineSpeed(int fd, uint32_t baud);
// The output speed the port reports now. Returns 0 or an errno value.
int GetLineSpeed(int fd, uint32_t* baud);

}  // namespace vxa::serial
