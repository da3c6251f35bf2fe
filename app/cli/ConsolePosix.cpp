#include <sys/ioctl.h>
#include <unistd.h>

#include "app/cli/Console.h"

namespace vxa::cli {

bool IsTerminal(int fd) {
  return ::isatty(fd) == 1;
}

size_t TerminalColumns(std::FILE* stream) {
  winsize size{};
  if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

void WriteText(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

}  // namespace vxa::cli
