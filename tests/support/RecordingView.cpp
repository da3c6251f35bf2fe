#include "tests/support/RecordingView.h"

namespace vxa::test {

void RecordingView::SetStateText(const std::string& text) {
  states.push_back(text);
  if (onState) onState(text);
}

void RecordingView::SetLoadLabelText(const std::string& text) {
  loadLabel = text;
  if (!text.empty() && (loadLabels.empty() || loadLabels.back() != text)) loadLabels.push_back(text);
}

void RecordingView::ShowMessageBox(BoxKind kind, const std::string& text) {
  boxes.push_back(Box{Box::Kind::kSystem, kind, BoxIcon::kWarning, text});
}

void RecordingView::ShowAppBox(const std::string& text, BoxIcon icon) {
  boxes.push_back(Box{Box::Kind::kApp, BoxKind::kWarning, icon, text});
}

bool RecordingView::AskYesNo(const std::string& text) {
  questions.push_back(text);
  if (answers.empty()) return true;
  const bool answer = answers.front();
  answers.pop_front();
  return answer;
}

void RecordingView::ShowStandardError(const std::string& text) {
  boxes.push_back(Box{Box::Kind::kStandardError, BoxKind::kError, BoxIcon::kWarning, text});
}

void RecordingView::ProcessEvents(std::chrono::milliseconds maxWait) {
  if (findEnabled || loadEnabled || closeEnabled) buttonEnabledDuringUpdate = true;
  if (onEvents) onEvents();
  std::unique_lock lock(mutex_);
  woken_.wait_for(lock, maxWait, [this] { return wake_; });
  wake_ = false;
}

void RecordingView::Wake() {
  {
    std::lock_guard lock(mutex_);
    wake_ = true;
  }
  woken_.notify_all();
}

std::vector<std::string> RecordingView::BoxTexts() const {
  std::vector<std::string> texts;
  for (const Box& box : boxes) texts.push_back(box.text);
  return texts;
}

}  // namespace vxa::test
