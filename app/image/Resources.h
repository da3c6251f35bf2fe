#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace vxa {

// Data linked into the program, found by name and type as resources of an executable are.
struct EmbeddedResource {
  const char* name;
  const char* type;
  const uint8_t* data;
  size_t size;
};

inline constexpr char kBootImageName[] = "VXA4410";
inline constexpr char kBootImageType[] = "LOADBIN";

// The resources of this program: the boot image.
std::span<const EmbeddedResource> BuiltInResources();
// Whether the built-in boot image is the placeholder a build given no image makes (for tests and
// demonstrations against the simulated instrument), not firmware for a real one.
bool BuiltInImageIsPlaceholder();

const EmbeddedResource* FindEmbeddedResource(std::span<const EmbeddedResource> table,
                                             const char* name, const char* type);

}  // namespace vxa
