#include <windows.h>

#include "base/SharedLibrary.h"
#include "base/WindowsText.h"

namespace vxa {

std::unique_ptr<SharedLibrary> SharedLibrary::Load(const std::string& name, std::string* error) {
  HMODULE handle = ::LoadLibraryW(win::Widen(name).c_str());
  if (handle == nullptr) {
    if (error != nullptr) *error = name + ": " + win::SystemErrorText(::GetLastError());
    return nullptr;
  }
  return std::unique_ptr<SharedLibrary>(new SharedLibrary(handle));
}

SharedLibrary::~SharedLibrary() {
  ::FreeLibrary(static_cast<HMODULE>(handle_));
}

void* SharedLibrary::Symbol(const char* name) const {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle_), name));
}

}  // namespace vxa
