#pragma once

#include <cstddef>

#include "app/Loader.h"

namespace vxa::test {

// What tests look at behind the loader's public actions: the connection of the search and the
// boot image it opened.
class LoaderProbe {
 public:
  static TVXA4410Connection* Current(Loader& loader) { return loader.Current(); }
  static size_t ConnectionCount(const Loader& loader) {
    return loader.Current() != nullptr ? 1 : 0;
  }
  static const TResReadTransBuffer* BootImage(const Loader& loader) {
    return loader.BootImage.get();
  }
};

}  // namespace vxa::test
