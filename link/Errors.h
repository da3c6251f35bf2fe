#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "link/BridgeFault.h"

namespace vxa {

// What went wrong, for a front end that treats a refusal differently from a broken cable: the
// text alone would have to be parsed, in either language.
enum class ConnErrorKind : uint8_t {
  kOther,    // the answers broke the protocol's rules, or the data did not check out
  kRefused,  // the instrument answered with a refusal; the text is its reason
  kLink,     // the bridge or the line failed: a driver call failed, or no answer came
};

// Every failure of the device link and of the transfer protocol. It carries the text the user is
// to see and what kind of failure it is: a driver status, where there is one, is part of the text.
// A failed driver call also carries what the backend knows of its cause.
class TVXA4410ConnError : public std::runtime_error {
 public:
  explicit TVXA4410ConnError(const char* text, ConnErrorKind kind = ConnErrorKind::kOther,
                             BridgeFault fault = {});
  // The code is appended in decimal with no separator: the Russian texts used this way end with a
  // space, the English ones do not.
  TVXA4410ConnError(const char* text, int32_t code, ConnErrorKind kind = ConnErrorKind::kOther,
                    BridgeFault fault = {});
  explicit TVXA4410ConnError(const std::string& text, ConnErrorKind kind = ConnErrorKind::kOther,
                             BridgeFault fault = {});

  const char* Text() const noexcept { return what(); }
  ConnErrorKind Kind() const noexcept { return kind_; }
  const BridgeFault& Fault() const noexcept { return fault_; }

 private:
  ConnErrorKind kind_;
  BridgeFault fault_;
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
