#include <dlfcn.h>

#include "base/SharedLibrary.h"

namespace vxa {

std::unique_ptr<SharedLibrary> SharedLibrary::Load(const std::string& name, std::string* error) {
  void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    if (error != nullptr) {
      const char* why = ::dlerror();
      *error = why != nullptr ? why : name;
    }
    return nullptr;
  }
  return std::unique_ptr<SharedLibrary>(new SharedLibrary(handle));
}

SharedLibrary::~SharedLibrary() {
  ::dlclose(handle_);
}

void* SharedLibrary::Symbol(const char* name) const {
  return ::dlsym(handle_, name);
}

}  // namespace vxa
