#include <unistd.h>

#include <climits>

#include "base/HostName.h"

namespace vxa {

std::string HostName() {
#ifdef HOST_NAME_MAX
  char name[HOST_NAME_MAX + 1] = {};
#else
  char name[256] = {};
#endif
  // A name that does not fit may come back without its terminating zero.
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

}  // namespace vxa
