// termios2 has a header of its own that cannot meet <termios.h> in one translation unit.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstdint>

namespace vxa::test {

uint32_t OutputSpeedOf(int fd) {
  struct termios2 tio {};
  if (::ioctl(fd, TCGETS2, &tio) != 0) return 0;
  return tio.c_ospeed;
}

}  // namespace vxa::test
