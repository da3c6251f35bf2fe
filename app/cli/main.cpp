#include <cstdio>

#include "Version.h"

// The terminal front end grows here; for now it names the build.
int main() {
  std::printf("vxa4410-cli %s\n", VXA_PRODUCT_VERSION);
  return 0;
}
