#include "tests/support/RecordingView.h"

namespace vxa::test {

void RecordingView::DeviceFound(const DeviceLines& lines, const InstrumentFacts&) {
  memo.assign(lines.begin(), lines.end());
  loadEnabled = true;
}

void RecordingView::StageChanged(Stage stage, const std::string& text) {
  findEnabled = loadEnabled = closeEnabled = false;
  loadLabel.clear();
  stages.push_back(stage);
  states.push_back(text);
  if (onState) onState(text);
}

void RecordingView::ProgressChanged(const Progress& progress) {
  progressMax = progress.total;
  progressPosition = progress.position;
  loadLabel = ProgressText(progress);
  if (loadLabels.empty() || loadLabels.back() != loadLabel) loadLabels.push_back(loadLabel);
  if (onProgress) onProgress(progress);
}

void RecordingView::VersionWaitChanged(const Waited& waited) {
  const std::string text = WaitedText(waited);
  if (waitedTexts.empty() || waitedTexts.back() != text) waitedTexts.push_back(text);
}

bool RecordingView::AskYesNo(const std::string& text, DefaultAnswer byDefault) {
  questions.push_back(text);
  questionDefaults.push_back(byDefault);
  if (answers.empty()) return true;
  const bool answer = answers.front();
  answers.pop_front();
  return answer;
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
