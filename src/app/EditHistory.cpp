#include "app/EditHistory.h"

namespace brisklet {

EditableState EditableState::of(const Project& project) {
  return {project.editPlan, project.aspectRatioRaw, project.transitionStyleRaw,
          project.musicFileName, project.musicVolumePercent};
}

void EditableState::applyTo(Project& project) const {
  project.editPlan = editPlan;
  project.aspectRatioRaw = aspectRatioRaw;
  project.transitionStyleRaw = transitionStyleRaw;
  project.musicFileName = musicFileName;
  project.musicVolumePercent = musicVolumePercent;
}

void EditHistory::record(const EditableState& before, const EditGesture& gesture, double nowSec) {
  const bool continuesStep =
      !gesture.key.empty() && gesture.key == lastGesture_.key && !undo_.empty() &&
      (!gesture.endsOnPause || nowSec - lastEditSec_ < EditGesture::kPauseSec);
  if (!continuesStep) undo_.push_back(before);
  redo_.clear();
  lastGesture_ = gesture;
  lastEditSec_ = nowSec;
}

std::optional<EditableState> EditHistory::undo(const EditableState& current) {
  if (undo_.empty()) return std::nullopt;
  EditableState target = std::move(undo_.back());
  undo_.pop_back();
  redo_.push_back(current);
  // The next edit starts a step of its own, whatever its gesture.
  lastGesture_ = {};
  return target;
}

std::optional<EditableState> EditHistory::redo(const EditableState& current) {
  if (redo_.empty()) return std::nullopt;
  EditableState target = std::move(redo_.back());
  redo_.pop_back();
  undo_.push_back(current);
  lastGesture_ = {};
  return target;
}

}  // namespace brisklet
