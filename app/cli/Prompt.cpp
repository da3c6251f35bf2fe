#include "app/cli/Prompt.h"

#include <optional>
#include <utility>

#include "app/HelpText.h"
#include "app/cli/Console.h"
#include "app/cli/TerminalText.h"
#include "text/Messages.h"

namespace vxa::cli {
namespace {

// A confirmation answer longer than this is not an answer; the rest of the line is skipped.
constexpr size_t kMaxAnswerLength = 64;

// `text` wrapped at word boundaries within `columns` (short of the last one: a console may wrap a
// line that fills it), and `prompt` after its last word, or flush left on a line of its own when
// it would not fit there.
std::string WrappedQuestion(const std::string& text, const std::string& prompt, size_t columns) {
  const size_t width = columns > 1 ? columns - 1 : columns;
  std::string question = WrapText(PlainTerminalText(text), width, 0, 0);
  const size_t lineStart = question.rfind('\n') + 1;  // npos + 1 is 0
  const size_t used = TextWidth(std::string_view(question).substr(lineStart));
  if (used == 0 || used + TextWidth(prompt) <= width) return question + prompt;
  return question + "\n" + PlainTerminalText(prompt);
}

}  // namespace

Prompt::Prompt(SignalPipe& signals, TerminalStreams streams, bool assumeYes,
               std::function<bool()> interrupted)
    : signals_(signals),
      streams_(streams),
      assumeYes_(assumeYes),
      interrupted_(std::move(interrupted)) {}

bool Prompt::ReadAnswerLine(std::string* line) {
  line->clear();
  bool overlong = false;
  for (;;) {
    const SignalPipe::Input input = signals_.WaitForInput(streams_.inputFd);
    if (input == SignalPipe::Input::kFailed) return false;
    if (interrupted_()) return false;
    if (input != SignalPipe::Input::kReady) continue;
    char c = 0;
    const int got = signals_.ReadInputByte(streams_.inputFd, &c);
    if (got == -1) continue;
    if (got < 0) return false;
    if (got == 0) return !line->empty();
    if (c == '\n') {
      // Too long to be an answer: make it one that is asked again.
      if (overlong) {
        line->clear();
        line->push_back('?');
      }
      return true;
    }
    if (line->size() < kMaxAnswerLength) {
      line->push_back(c);
    } else {
      overlong = true;
    }
  }
}

bool Prompt::AskYesNo(const std::string& text) {
  if (assumeYes_) return true;
  if (!streams_.inputIsTerminal) {
    refused_ = true;
    PrintText(streams_.err, VXA_MSG(msg::kConfirmNeedsTerminal));
    return false;
  }
  // The question once; after an answer that was neither, the answers that count and the prompt.
  const size_t columns = LineWidth(streams_.err);
  std::string question = WrappedQuestion(text, VXA_MSG(msg::kAnswerPrompt), columns);
  for (;;) {
    WriteText(streams_.err, question);
    std::string answer;
    if (!ReadAnswerLine(&answer)) {
      // The end of the input or Ctrl-C: nothing was agreed to.
      WriteText(streams_.err, "\n");
      return false;
    }
    if (const std::optional<bool> yes = ParseYesNo(answer)) return *yes;
    // Which answers count, on a line of its own; the prompt after it starts flush left.
    question = WrappedQuestion(VXA_MSG(msg::kAnswerChoices), {}, columns) + "\n" +
               PlainTerminalText(VXA_MSG(msg::kAnswerPrompt));
  }
}

}  // namespace vxa::cli
