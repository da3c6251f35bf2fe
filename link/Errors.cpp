#include "link/Errors.h"

namespace vxa {

TVXA4410ConnError::TVXA4410ConnError(const char* text) : std::runtime_error(text) {}

TVXA4410ConnError::TVXA4410ConnError(const char* text, int32_t code)
    : std::runtime_error(std::string(text) + std::to_string(code)) {}

TVXA4410ConnError::TVXA4410ConnError(const std::string& text) : std::runtime_error(text) {}

TBufferError::TBufferError(const char* text) : std::runtime_error(text) {}

TBufferError::TBufferError(const std::string& text) : std::runtime_error(text) {}

}  // namespace vxa
