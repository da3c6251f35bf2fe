#pragma once

#include <functional>

#include "app/cli/SignalPipe.h"

namespace vxa::cli {

// Ctrl-C (or SIGTERM) as the main thread acts on it: the first look after the signal came runs
// the handlers, once; later looks only tell that it came.
class InterruptWatch {
 public:
  explicit InterruptWatch(SignalPipe& signals) : signals_(signals) {}

  // `before` runs first (the output ends its line), then `handler` (the front end stops the
  // transfer there).
  void SetHandlers(std::function<void()> before, std::function<void()> handler) {
    before_ = std::move(before);
    handler_ = std::move(handler);
  }
  void SetHandler(std::function<void()> handler) { handler_ = std::move(handler); }

  // Looks at the signal channel, acting on a signal the first time it is seen. True once one has
  // come.
  bool Look();
  bool Interrupted() const { return interrupted_; }

 private:
  SignalPipe& signals_;
  std::function<void()> before_;
  std::function<void()> handler_;
  bool interrupted_ = false;
};

}  // namespace vxa::cli
