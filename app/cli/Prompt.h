#pragma once

#include <functional>
#include <string>

#include "app/cli/SignalPipe.h"
#include "app/cli/TerminalStreams.h"

namespace vxa::cli {

// The confirmation asked on the terminal. It has no default: the answer is typed, yes or no in
// either language, and asked again after anything else. Ctrl-C and the end of the input are no.
class Prompt {
 public:
  // `interrupted` looks at the signal channel, acting on a signal the first time it is seen, and
  // tells whether one has come.
  Prompt(SignalPipe& signals, TerminalStreams streams, bool assumeYes,
         std::function<bool()> interrupted);

  bool AskYesNo(const std::string& text);
  // The confirmation could not be asked: no terminal to ask on, and no --yes.
  bool Refused() const { return refused_; }

 private:
  // One line typed on the input, waiting also for Ctrl-C. Nothing at the end of the input or on
  // an interrupt.
  bool ReadAnswerLine(std::string* line);

  SignalPipe& signals_;
  const TerminalStreams streams_;
  const bool assumeYes_;
  const std::function<bool()> interrupted_;
  bool refused_ = false;
};

}  // namespace vxa::cli
