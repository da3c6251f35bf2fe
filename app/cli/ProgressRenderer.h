#pragma once

#include <string>

#include "app/LoaderView.h"
#include "app/cli/ProgressMeter.h"
#include "link/Clock.h"

namespace vxa::cli {

// One progress line as the terminal shows it, for a single update and for each of a station's
// instruments alike: the stage, the figures of its transfer or the time waited for the new
// version, and the rate and the time left measured from the moves of the position.
class ProgressRenderer {
 public:
  // A new stage: its figures and rate belong to it alone. A read does not know its total (the
  // instrument does not announce a file's size), so it shows what has arrived and no time left.
  void Enter(std::string stage, bool reading);
  // The transfer as it stands at `now`; true when the figures shown have changed.
  bool Moved(const Progress& progress, Clock::TimePoint now);
  // The time waited for the new version, shown where a transfer's figures stand.
  bool Waited(const vxa::Waited& waited);

  const std::string& StageText() const { return stage_; }
  bool HasFigures() const { return !label_.empty(); }
  // The line as of `now`, after `head`, fitted to `columns` (FitProgressLine; 0: whole).
  std::string Line(Clock::TimePoint now, const std::string& head = {}, size_t columns = 0) const;

 private:
  std::string stage_;
  std::string label_;
  bool reading_ = false;
  int total_ = 0;
  int position_ = 0;
  ProgressMeter meter_;
};

}  // namespace vxa::cli
