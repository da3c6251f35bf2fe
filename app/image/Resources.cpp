#include "app/image/Resources.h"

#include <cstring>

// Placed by the assembler around the image file (BootImage.S.in).
extern "C" const uint8_t vxa_boot_image_begin[];
extern "C" const uint8_t vxa_boot_image_end[];

namespace vxa {

std::span<const EmbeddedResource> BuiltInResources() {
  static const EmbeddedResource kTable[] = {
      {kBootImageName, kBootImageType, vxa_boot_image_begin,
       static_cast<size_t>(vxa_boot_image_end - vxa_boot_image_begin)},
  };
  return kTable;
}

bool BuiltInImageIsPlaceholder() { return VXA_BOOT_IMAGE_IS_PLACEHOLDER != 0; }

const EmbeddedResource* FindEmbeddedResource(std::span<const EmbeddedResource> table,
                                             const char* name, const char* type) {
  for (const EmbeddedResource& resource : table) {
    if (std::strcmp(resource.name, name) == 0 && std::strcmp(resource.type, type) == 0) {
      return &resource;
    }
  }
  return nullptr;
}

}  // namespace vxa
