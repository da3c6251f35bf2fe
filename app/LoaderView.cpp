#include "app/LoaderView.h"

#include "text/Messages.h"

namespace vxa {

std::string ProgressText(const Progress& progress) {
  std::string text = "(";
  text += std::to_string(progress.position);
  text += VXA_MSG(msg::kProgressFrom);
  text += std::to_string(progress.total);
  text += ')';
  return text;
}

}  // namespace vxa
