#include "app/cli/ProgressRenderer.h"

#include <utility>

#include "app/cli/TerminalText.h"
#include "text/Messages.h"

namespace vxa::cli {

void ProgressRenderer::Enter(std::string stage, bool reading) {
  stage_ = std::move(stage);
  reading_ = reading;
  label_.clear();
  total_ = 0;
  // The position is kept: the first one of the new stage, a step back to its start, is its
  // first sample.
  meter_.Reset();
}

bool ProgressRenderer::Moved(const Progress& progress, Clock::TimePoint now) {
  total_ = progress.total;
  // The rate is measured between the moves of the position.
  if (progress.position != position_) {
    position_ = progress.position;
    meter_.Add(now, position_);
  }
  // Nothing to show of a transfer whose size is not known yet, unless it is a read, whose
  // figure is what has arrived.
  std::string label;
  if (reading_) {
    label = FormatText(VXA_MSG(msg::kBytesReceived), progress.position);
  } else if (progress.total > 0) {
    label = ProgressText(progress);
  }
  if (label == label_) return false;
  label_ = std::move(label);
  return true;
}

bool ProgressRenderer::Waited(const vxa::Waited& waited) {
  std::string label = WaitedText(waited);
  if (label == label_) return false;
  label_ = std::move(label);
  return true;
}

std::string ProgressRenderer::Line(Clock::TimePoint now, const std::string& head,
                                   size_t columns) const {
  ProgressLine line;
  line.stage = stage_;
  line.label = label_;
  if (!label_.empty()) {
    line.bytesPerSecond = meter_.BytesPerSecond(now);
    if (!reading_) line.timeLeft = meter_.TimeLeft(total_, now);
  }
  return FitProgressLine(head, std::move(line), columns);
}

}  // namespace vxa::cli
