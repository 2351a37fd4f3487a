#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/Project.h"

namespace brisklet {

// The part of a project the user edits by hand, as one value an undo step puts back: the plan
// (decisions, trims, narration lines, with its revision) and the output settings.
struct EditableState {
  std::optional<EditPlan> editPlan;
  std::optional<std::string> aspectRatioRaw;
  std::optional<std::string> transitionStyleRaw;
  std::optional<std::string> musicFileName;
  std::optional<double> musicVolumePercent;

  static EditableState of(const Project& project);
  void applyTo(Project& project) const;
  bool operator==(const EditableState&) const = default;
};

// What the user did with one hand movement. Edits with the same key make one undo step: a drag
// carries one key from press to release; typing carries one too, and a pause ends its step.
struct EditGesture {
  std::string key;
  bool endsOnPause = false;

  static constexpr double kPauseSec = 1.0;
};

// The undo and redo steps of one project, in memory.
class EditHistory {
 public:
  // Called with the state before each edit the user made, at `nowSec` on a steady clock.
  void record(const EditableState& before, const EditGesture& gesture, double nowSec);
  // The state to go back to from `current`, which becomes the step to redo; none at the start.
  std::optional<EditableState> undo(const EditableState& current);
  std::optional<EditableState> redo(const EditableState& current);
  bool canUndo() const { return !undo_.empty(); }
  bool canRedo() const { return !redo_.empty(); }

 private:
  // Takes the newest state off `from`, leaving `current` on `to`.
  std::optional<EditableState> step(std::vector<EditableState>& from, std::vector<EditableState>& to,
                                    const EditableState& current);

  std::vector<EditableState> undo_;
  std::vector<EditableState> redo_;
  EditGesture lastGesture_;
  double lastEditSec_ = 0;
};

}  // namespace brisklet
