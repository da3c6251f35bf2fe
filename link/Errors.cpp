#include "link/Errors.h"

#include <utility>

namespace vxa {

TVXA4410ConnError::TVXA4410ConnError(const char* text, ConnErrorKind kind, BridgeFault fault)
    : std::runtime_error(text), kind_(kind), fault_(std::move(fault)) {}

TVXA4410ConnError::TVXA4410ConnError(const char* text, int32_t code, ConnErrorKind kind,
                                     BridgeFault fault)
    : std::runtime_error(std::string(text) + std::to_string(code)),
      kind_(kind),
      fault_(std::move(fault)) {}

TVXA4410ConnError::TVXA4410ConnError(const std::string& text, ConnErrorKind kind,
                                     BridgeFault fault)
    : std::runtime_error(text), kind_(kind), fault_(std::move(fault)) {}

TBufferError::TBufferError(const char* text) : std::runtime_error(text) {}

TBufferError::TBufferError(const std::string& text) : std::runtime_error(text) {}

}  // namespace vxa
