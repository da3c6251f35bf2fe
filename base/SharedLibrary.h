#pragma once

#include <memory>
#include <string>

namespace vxa {

// A library loaded at run time (dlopen on POSIX, LoadLibrary on Windows), unloaded when the
// object goes. Symbols taken from it are valid for as long as the object lives.
class SharedLibrary {
 public:
  // Loads `name` the way the system searches for libraries. Null, with the system's reason in
  // `error`, when it cannot.
  static std::unique_ptr<SharedLibrary> Load(const std::string& name, std::string* error);
  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // The address of an exported function or object; null when the library has none of that name.
  void* Symbol(const char* name) const;

 private:
  explicit SharedLibrary(void* handle) : handle_(handle) {}
  void* handle_;
};

}  // namespace vxa
