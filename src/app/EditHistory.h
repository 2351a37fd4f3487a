#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/Edit.h"

namespace brisklet {

// What the user did with one hand movement. Edits with the same key make one undo step while
// they follow each other: typing carries one key per line, and a pause ends its step.
struct EditGesture {
  std::string key;
  bool endsOnPause = false;

  static constexpr double kPauseSec = 1.0;

  // A gesture of its own: its key is given out once in the process, so two gestures (in two
  // showings of a project, say) never fold into one step.
  static EditGesture fresh(const std::string& kind, bool endsOnPause);
};

// One undo step: the edit the user made and the edit that undoes it.
struct EditStep {
  Edit forward;
  Edit backward;
};

// The undo and redo steps of one project, in memory. Steps hold operations, never states, so
// taking one back changes only what the user's edit changed.
class EditHistory {
 public:
  // An edit the user made, with its inverse, at `nowSec` on a steady clock: a step of its own, or
  // folded into the newest step when it continues its gesture and sets the same thing.
  void record(const EditStep& step, const EditGesture& gesture, double nowSec);
  // The step an undo (or a redo) would take, without taking it.
  const EditStep* nextUndo() const { return undo_.empty() ? nullptr : &undo_.back(); }
  const EditStep* nextRedo() const { return redo_.empty() ? nullptr : &redo_.back(); }
  // The step was taken: it moves to the other list as `taken` (its edits as they stand now).
  void undone(const EditStep& taken);
  void redone(const EditStep& taken);
  // The step can no longer be taken (what it names is gone): it is dropped.
  void dropNextUndo();
  void dropNextRedo();
  bool canUndo() const { return !undo_.empty(); }
  bool canRedo() const { return !redo_.empty(); }

 private:
  std::vector<EditStep> undo_;
  std::vector<EditStep> redo_;
  EditGesture lastGesture_;
  double lastEditSec_ = 0;
};

}  // namespace brisklet
