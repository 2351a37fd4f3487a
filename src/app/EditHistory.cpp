#include "app/EditHistory.h"

#include <atomic>

namespace brisklet {

EditGesture EditGesture::fresh(const std::string& kind, bool endsOnPause) {
  static std::atomic<unsigned long> made = 0;
  return {kind + "-" + std::to_string(++made), endsOnPause};
}

void EditHistory::record(const EditStep& step, const EditGesture& gesture, double nowSec) {
  const bool continuesGesture =
      !gesture.key.empty() && gesture.key == lastGesture_.key && !undo_.empty() &&
      (!gesture.endsOnPause || nowSec - lastEditSec_ < EditGesture::kPauseSec);
  std::optional<Edit> merged;
  if (continuesGesture) merged = mergedEdits(undo_.back().forward, step.forward);
  if (merged)
    undo_.back().forward = *merged;  // the step's undo still goes back to before the gesture
  else
    undo_.push_back(step);
  redo_.clear();
  lastGesture_ = gesture;
  lastEditSec_ = nowSec;
}

void EditHistory::undone(const EditStep& taken) {
  undo_.pop_back();
  redo_.push_back(taken);
  // The next edit starts a step of its own, whatever its gesture.
  lastGesture_ = {};
}

void EditHistory::redone(const EditStep& taken) {
  redo_.pop_back();
  undo_.push_back(taken);
  lastGesture_ = {};
}

void EditHistory::dropNextUndo() {
  undo_.pop_back();
  lastGesture_ = {};
}

void EditHistory::dropNextRedo() { redo_.pop_back(); }

}  // namespace brisklet
