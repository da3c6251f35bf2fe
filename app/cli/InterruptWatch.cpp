#include "app/cli/InterruptWatch.h"

namespace vxa::cli {

bool InterruptWatch::Look() {
  signals_.Drain();
  if (interrupted_ || signals_.Signal() == 0) return interrupted_;
  interrupted_ = true;
  if (before_) before_();
  if (handler_) handler_();
  return true;
}

}  // namespace vxa::cli
