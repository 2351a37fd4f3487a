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
  return step(undo_, redo_, current);
}

std::optional<EditableState> EditHistory::redo(const EditableState& current) {
  return step(redo_, undo_, current);
}

std::optional<EditableState> EditHistory::step(std::vector<EditableState>& from,
                                               std::vector<EditableState>& to,
                                               const EditableState& current) {
  if (from.empty()) return std::nullopt;
  EditableState target = std::move(from.back());
  from.pop_back();
  to.push_back(current);
  // The next edit starts a step of its own, whatever its gesture.
  lastGesture_ = {};
  return target;
}

}  // namespace brisklet
