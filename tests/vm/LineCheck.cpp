// vm_line_check PORT BAUD: run inside the virtual machine after the program has closed the port.
// The tty keeps the settings the program left (the usb-serial layer restores them on the next
// open), so they can be read back from the kernel: the rate through termios2, the frame and the
// flow control through termios, and CTS through the driver's modem status. Prints one line,
// "1500000 baud, 8 data bits, 2 stop bits, RTS/CTS off, CTS low", and exits 0 only when the rate
// is BAUD and the frame 8N2.

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/UniqueFd.h"
#include "link/drivers/SerialSpeed.h"

int main(int argc, char* argv[]) {
  if (argc != 3) {
    std::fputs("usage: vm_line_check PORT BAUD\n", stderr);
    return 2;
  }
  const unsigned long wanted = std::strtoul(argv[2], nullptr, 10);
  const vxa::UniqueFd fd(::open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.IsOpen()) {
    std::fprintf(stderr, "vm_line_check: %s: %s\n", argv[1], std::strerror(errno));
    return 1;
  }
  uint32_t baud = 0;
  termios tio{};
  int modem = 0;
  if (const int err = vxa::serial::GetLineSpeed(fd.Get(), &baud); err != 0) errno = err;
  if (baud == 0 || ::tcgetattr(fd.Get(), &tio) != 0 || ::ioctl(fd.Get(), TIOCMGET, &modem) != 0) {
    std::fprintf(stderr, "vm_line_check: %s: %s\n", argv[1], std::strerror(errno));
    return 1;
  }
  const int dataBits = (tio.c_cflag & CSIZE) == CS8 ? 8 : (tio.c_cflag & CSIZE) == CS7 ? 7 : 0;
  const int stopBits = (tio.c_cflag & CSTOPB) != 0 ? 2 : 1;
  const bool parity = (tio.c_cflag & PARENB) != 0;
  std::printf("%u baud, %d data bits, %s%d stop bits, RTS/CTS %s, CTS %s\n", baud, dataBits,
              parity ? "parity, " : "", stopBits, (tio.c_cflag & CRTSCTS) != 0 ? "on" : "off",
              (modem & TIOCM_CTS) != 0 ? "high" : "low");
  return baud == wanted && dataBits == 8 && stopBits == 2 && !parity ? 0 : 1;
}
