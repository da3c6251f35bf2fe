#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace vxa {

// Every failure of the device link and of the transfer protocol. It carries the text the user is
// to see and nothing else: a driver status, where there is one, is part of the text.
class TVXA4410ConnError : public std::runtime_error {
 public:
  explicit TVXA4410ConnError(const char* text);
  // The code is appended in decimal with no separator: the Russian texts used this way end with a
  // space, the English ones do not.
  TVXA4410ConnError(const char* text, int32_t code);
  explicit TVXA4410ConnError(const std::string& text);

  const char* Text() const noexcept { return what(); }
};

// Failures of the boot image buffer. A type of its own, so that a handler for link failures never
// takes a verification failure for one, and the reverse.
class TBufferError : public std::runtime_error {
 public:
  explicit TBufferError(const char* text);
  explicit TBufferError(const std::string& text);

  const char* Text() const noexcept { return what(); }
};

}  // namespace vxa
