#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "model/Project.h"

namespace brisklet {

// The user's edits, as operations rather than the states they leave: each names only what it
// changes, so applying it to a record another process or a command has changed since keeps their
// changes, and its inverse, taken from the record just before, puts back only what it changed.

// A segment in or out of the edit; by hand unless `userOverrodeKeep` says otherwise (an undo
// gives the analysis its decision back).
struct SetKeep {
  Uuid segmentID;
  bool keep = true;
  bool userOverrodeKeep = true;
  bool operator==(const SetKeep&) const = default;
};

// A trim: the segment's span on the source timeline.
struct SetSpan {
  Uuid segmentID;
  double startSec = 0;
  double endSec = 0;
  bool operator==(const SetSpan&) const = default;
};

// The narration line's text, or no line at all (none).
struct SetNarrationText {
  Uuid segmentID;
  std::optional<std::string> text;
  bool userEditedText = true;
  bool operator==(const SetNarrationText&) const = default;
};

// Where the narration line starts, in seconds after the segment's start.
struct SetNarrationOffset {
  Uuid segmentID;
  double startOffsetSec = 0;
  bool operator==(const SetNarrationOffset&) const = default;
};

// A crop of the segment's picture centred (true) or following its main face (false).
struct SetCentredCrop {
  Uuid segmentID;
  bool centred = true;
  bool operator==(const SetCentredCrop&) const = default;
};

// The removed pauses of one segment, all of them.
struct SegmentPauses {
  Uuid segmentID;
  std::vector<SourceSpan> pauses;
  bool operator==(const SegmentPauses&) const = default;
};

// The removed pauses of each segment named (a tightening sets those of every kept segment in one
// step; a pause put back sets those of its own). Each list is held to the rules of the record:
// finite, of some length, in time order, apart.
struct SetRemovedPauses {
  std::vector<SegmentPauses> segments;
  bool operator==(const SetRemovedPauses&) const = default;
};

// The output settings, as the record stores them (none: the default).
struct SetAspectRatio {
  std::optional<std::string> raw;
  bool operator==(const SetAspectRatio&) const = default;
};
struct SetTransition {
  std::optional<std::string> raw;
  bool operator==(const SetTransition&) const = default;
};
// The music bed (a file of the project folder) with its volume.
struct SetMusic {
  std::optional<std::string> fileName;
  std::optional<double> volumePercent;
  bool operator==(const SetMusic&) const = default;
};
struct SetMusicVolume {
  std::optional<double> percent;
  bool operator==(const SetMusicVolume&) const = default;
};
// The sound settings with the rendered sound they made (none of them: the source's own sound).
struct SetSound {
  std::optional<std::string> enhancedFileName;
  std::optional<bool> crystalClear;
  std::optional<double> gainPercent;
  bool operator==(const SetSound&) const = default;
};

struct SetLoudness {
  std::optional<std::string> raw;
  bool operator==(const SetLoudness&) const = default;
};

using Edit = std::variant<SetKeep, SetSpan, SetNarrationText, SetNarrationOffset, SetCentredCrop,
                          SetRemovedPauses, SetAspectRatio, SetTransition, SetMusic,
                          SetMusicVolume, SetSound, SetLoudness>;

// An edit the record does not allow, with the sentence that tells the user why
// ("Trim refused: segment 1 would overlap segment 0.").
class EditRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Applies `edit` to `project` by every rule of editing: a keep set by hand is marked so, a trim
// keeps the segment at least 0.5 s long (a shorter one may grow but not shrink) and inside its
// neighbours and the video, a narration text is stored cleaned and its audio marked stale unless
// it is the audio of that very text, an offset is never negative, a music volume is held to
// 5…60 %. An edit that changes something counts a plan revision. False when it changes nothing.
// Throws EditRefused, leaving `project` as it was.
bool applyEdit(const Edit& edit, Project& project);

// The edit that puts back what `edit` changes, as it is in `before` (the project just before
// `edit` is applied). Throws EditRefused when `edit` names a segment `before` does not have.
Edit inverseEdit(const Edit& edit, const Project& before);

// One edit doing what `earlier` then `later` do, when both set the same thing (the moves of one
// drag, the keystrokes of one line): `later`. None otherwise.
std::optional<Edit> mergedEdits(const Edit& earlier, const Edit& later);

// The span a drag of the segment's `leading` or `trailing` edge to `wantedSec` gives, held by the
// rules applyEdit checks, from `base` (the segment as the drag found it). None when the segment
// is not in the plan.
enum class TrimEdge { leading, trailing };
std::optional<SetSpan> draggedSpan(const Project& project, const Segment& base, TrimEdge edge,
                                   double wantedSec);

constexpr double kShortestSegmentSec = 0.5;

}  // namespace brisklet
