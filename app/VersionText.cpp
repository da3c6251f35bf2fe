#include "app/VersionText.h"

#include "Version.h"
#include "app/UpdateRecord.h"
#include "app/image/Resources.h"
#include "text/Messages.h"

namespace vxa {

std::string VersionText(const std::string& program) {
  // The record of an update names the image by the same identity.
  const ImageIdentity& image = BuiltInImageIdentity();
  const char* origin = VXA_MSG(BuiltInImageIsPlaceholder() ? msg::kVersionImagePlaceholder
                                                           : msg::kVersionImageGiven);
  return program + " " + VXA_PRODUCT_VERSION + "\n" +
         FormatText(VXA_MSG(msg::kVersionImage), image.size, origin) + "\n" +
         "SHA-256: " + image.sha256 + "\n" + VXA_MSG(msg::kVersionLicence) + "\n" +
         FormatText(VXA_MSG(msg::kVersionReport), VXA_FAULT_REPORT_ADDRESS) + "\n";
}

}  // namespace vxa
