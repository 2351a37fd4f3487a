#include "model/Edit.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "model/NarrationFile.h"
#include "model/RecordLimits.h"

namespace brisklet {
namespace {

// Seconds compared as a person reads them: a thousandth of a millisecond apart is the same.
constexpr double kSameSec = 1e-9;

template <class... Cases>
struct Overloaded : Cases... {
  using Cases::operator()...;
};

// The segment's place in the plan, or the refusal every segment edit gives without it.
std::size_t indexOf(const Project& project, const Uuid& segmentID) {
  if (project.editPlan) {
    const auto& segments = project.editPlan->segments;
    const auto found = std::find_if(segments.begin(), segments.end(),
                                    [&](const Segment& each) { return each.id == segmentID; });
    if (found != segments.end()) return static_cast<std::size_t>(found - segments.begin());
  }
  throw EditRefused("That segment is no longer in the plan.");
}

Segment& segmentOf(Project& project, const Uuid& segmentID) {
  return project.editPlan->segments[indexOf(project, segmentID)];
}

// Where the video ends; a record that does not know leaves the end open.
double videoEndSec(const Project& project) {
  const double duration = project.videoDurationSec;
  return std::isfinite(duration) && duration > 0 ? duration
                                                 : std::numeric_limits<double>::infinity();
}

// How far the segment at `index` may reach: the end of the one before it (or 0) and the start of
// the one after it (or the video's end).
struct Reach {
  double earliestSec;
  double latestSec;
};
Reach reachOf(const Project& project, std::size_t index) {
  const auto& segments = project.editPlan->segments;
  return {index == 0 ? 0.0 : segments[index - 1].endSec,
          index + 1 == segments.size() ? videoEndSec(project) : segments[index + 1].startSec};
}

// Why a trim to `span` breaks the rules, or none. Only the edges it moves are held to them, so a
// record that was already out of line can still be trimmed elsewhere.
std::optional<std::string> spanRefusal(const Project& project, const SetSpan& span) {
  const std::size_t index = indexOf(project, span.segmentID);
  const Segment& now = project.editPlan->segments[index];
  const std::string name = "Trim refused: segment " + std::to_string(index);
  if (!std::isfinite(span.startSec) || !std::isfinite(span.endSec) || span.endSec <= span.startSec)
    return name + " must start before it ends.";
  const bool startMoves = std::abs(span.startSec - now.startSec) > kSameSec;
  const bool endMoves = std::abs(span.endSec - now.endSec) > kSameSec;
  const Reach reach = reachOf(project, index);
  if (startMoves && span.startSec < -kSameSec) return name + " would start before the video.";
  if (endMoves && span.endSec > videoEndSec(project) + kSameSec)
    return name + " would run past the end of the video.";
  if (startMoves && span.startSec < reach.earliestSec - kSameSec)
    return name + " would overlap segment " + std::to_string(index - 1) + ".";
  if (endMoves && span.endSec > reach.latestSec + kSameSec)
    return name + " would overlap segment " + std::to_string(index + 1) + ".";
  const double length = span.endSec - span.startSec;
  if (length < std::min(kShortestSegmentSec, now.durationSec()) - kSameSec)
    return name + " would be shorter than 0.5 s.";
  return std::nullopt;
}

// The status a line's audio has for `text`: ready when it is the audio of that very text.
NarrationStatus audioStatus(const Uuid& segmentID, const NarrationClip& clip) {
  if (!clip.audioFileName) return clip.status;
  return *clip.audioFileName == narrationFileName(segmentID, clip.text) ? NarrationStatus::ready
                                                                        : NarrationStatus::stale;
}

// Sets `field` to `value`; whether it changed.
template <class Value>
bool assign(Value& field, const Value& value) {
  if (field == value) return false;
  field = value;
  return true;
}

bool applyToSegment(const SetKeep& edit, Project& project) {
  Segment& segment = segmentOf(project, edit.segmentID);
  const bool keepChanged = assign(segment.keep, edit.keep);
  return assign(segment.userOverrodeKeep, edit.userOverrodeKeep) || keepChanged;
}

bool applyToSegment(const SetSpan& edit, Project& project) {
  if (const auto refusal = spanRefusal(project, edit)) throw EditRefused(*refusal);
  Segment& segment = segmentOf(project, edit.segmentID);
  const bool startChanged = assign(segment.startSec, edit.startSec);
  return assign(segment.endSec, edit.endSec) || startChanged;
}

bool applyToSegment(const SetNarrationText& edit, Project& project) {
  Segment& segment = segmentOf(project, edit.segmentID);
  if (!edit.text) {
    if (!segment.narration) return false;
    segment.narration.reset();
    return true;
  }
  const std::string text = storedNarrationText(*edit.text);
  if (!segment.narration) {
    if (text.empty()) return false;
    segment.narration = NarrationClip{.text = text,
                                      .userEditedText = edit.userEditedText,
                                      .audioFileName = std::nullopt,
                                      .startOffsetSec = 0.5,
                                      .durationSec = std::nullopt,
                                      .status = NarrationStatus::pendingAudio};
    return true;
  }
  NarrationClip& clip = *segment.narration;
  if (clip.text == text) return false;
  // The words of the audio are kept only while the text differs from them.
  const std::optional<std::string> spoken = spokenWords(clip);
  clip.text = text;
  clip.userEditedText = edit.userEditedText;
  clip.status = audioStatus(segment.id, clip);
  clip.spokenText = spoken && *spoken != text ? spoken : std::nullopt;
  return true;
}

bool applyToSegment(const SetNarrationOffset& edit, Project& project) {
  Segment& segment = segmentOf(project, edit.segmentID);
  if (!segment.narration) throw EditRefused("That segment has no narration line to move.");
  if (!std::isfinite(edit.startOffsetSec))
    throw EditRefused("A line starts at a number of seconds.");
  return assign(segment.narration->startOffsetSec, std::max(edit.startOffsetSec, 0.0));
}

bool applyToSegment(const SetCentredCrop& edit, Project& project) {
  return assign(segmentOf(project, edit.segmentID).centredCrop, edit.centred);
}

bool applyToSegment(const SetRemovedPauses& edit, Project& project) {
  // Every segment is found before any changes, so a refusal leaves the record whole.
  for (const SegmentPauses& each : edit.segments) segmentOf(project, each.segmentID);
  bool changed = false;
  for (const SegmentPauses& each : edit.segments)
    changed = assign(segmentOf(project, each.segmentID).removedPauses, heldPauses(each.pauses)) ||
              changed;
  return changed;
}

std::optional<double> heldVolume(const std::optional<double>& percent) {
  if (!percent) return std::nullopt;
  if (!std::isfinite(*percent)) throw EditRefused("A music volume is a number of percent.");
  return std::clamp(*percent, kMinimumMusicVolumePercent, kMaximumMusicVolumePercent);
}

bool applyToSettings(const Edit& edit, Project& project) {
  return std::visit(
      Overloaded{
          [&](const SetAspectRatio& set) { return assign(project.aspectRatioRaw, set.raw); },
          [&](const SetTransition& set) { return assign(project.transitionStyleRaw, set.raw); },
          [&](const SetLoudness& set) { return assign(project.loudnessRaw, set.raw); },
          [&](const SetMusic& set) {
            const bool fileChanged = assign(project.musicFileName, set.fileName);
            return assign(project.musicVolumePercent, heldVolume(set.volumePercent)) || fileChanged;
          },
          [&](const SetMusicVolume& set) {
            return assign(project.musicVolumePercent, heldVolume(set.percent));
          },
          [&](const SetSound& set) {
            const bool fileChanged = assign(project.denoisedAudioFileName, set.enhancedFileName);
            const bool clearChanged = assign(project.audioCrystalClear, set.crystalClear);
            return assign(project.audioGainPercent, set.gainPercent) || fileChanged || clearChanged;
          },
          [&](const auto& segmentEdit) { return applyToSegment(segmentEdit, project); }},
      edit);
}

// The segment an edit names, when it names one.
std::optional<Uuid> segmentNamed(const Edit& edit) {
  return std::visit(
      [](const auto& each) -> std::optional<Uuid> {
        if constexpr (requires { each.segmentID; })
          return each.segmentID;
        else
          return std::nullopt;
      },
      edit);
}

}  // namespace

bool applyEdit(const Edit& edit, Project& project) {
  Project changed = project;
  if (!applyToSettings(edit, changed)) return false;
  if (changed.editPlan) changed.editPlan->planRevision += 1;
  project = std::move(changed);
  return true;
}

Edit inverseEdit(const Edit& edit, const Project& before) {
  if (const auto* set = std::get_if<SetRemovedPauses>(&edit)) {
    SetRemovedPauses inverse;
    for (const SegmentPauses& each : set->segments)
      inverse.segments.push_back(
          {each.segmentID,
           before.editPlan->segments[indexOf(before, each.segmentID)].removedPauses});
    return inverse;
  }
  if (const auto segmentID = segmentNamed(edit)) {
    const Segment& segment = before.editPlan->segments[indexOf(before, *segmentID)];
    return std::visit(
        Overloaded{[&](const SetKeep&) -> Edit {
                     return SetKeep{segment.id, segment.keep, segment.userOverrodeKeep};
                   },
                   [&](const SetSpan&) -> Edit {
                     return SetSpan{segment.id, segment.startSec, segment.endSec};
                   },
                   [&](const SetNarrationText&) -> Edit {
                     if (!segment.narration) return SetNarrationText{segment.id, std::nullopt};
                     return SetNarrationText{segment.id, segment.narration->text,
                                             segment.narration->userEditedText};
                   },
                   [&](const SetCentredCrop&) -> Edit {
                     return SetCentredCrop{segment.id, segment.centredCrop};
                   },
                   [&](const SetNarrationOffset& set) -> Edit {
                     return SetNarrationOffset{segment.id, segment.narration
                                                               ? segment.narration->startOffsetSec
                                                               : set.startOffsetSec};
                   },
                   [&](const auto&) -> Edit { return edit; }},
        edit);
  }
  return std::visit(
      Overloaded{
          [&](const SetAspectRatio&) -> Edit { return SetAspectRatio{before.aspectRatioRaw}; },
          [&](const SetTransition&) -> Edit { return SetTransition{before.transitionStyleRaw}; },
          [&](const SetLoudness&) -> Edit { return SetLoudness{before.loudnessRaw}; },
          [&](const SetMusic&) -> Edit {
            return SetMusic{before.musicFileName, before.musicVolumePercent};
          },
          [&](const SetMusicVolume&) -> Edit { return SetMusicVolume{before.musicVolumePercent}; },
          [&](const SetSound&) -> Edit {
            return SetSound{before.denoisedAudioFileName, before.audioCrystalClear,
                            before.audioGainPercent};
          },
          [&](const auto&) -> Edit { return edit; }},
      edit);
}

std::optional<Edit> mergedEdits(const Edit& earlier, const Edit& later) {
  if (earlier.index() != later.index() || segmentNamed(earlier) != segmentNamed(later) ||
      std::holds_alternative<SetRemovedPauses>(later))
    return std::nullopt;
  return later;
}

std::optional<SetSpan> draggedSpan(const Project& project, const Segment& base, TrimEdge edge,
                                   double wantedSec) {
  std::size_t index = 0;
  try {
    index = indexOf(project, base.id);
  } catch (const EditRefused&) {
    return std::nullopt;
  }
  if (!std::isfinite(wantedSec)) return SetSpan{base.id, base.startSec, base.endSec};
  const Reach reach = reachOf(project, index);
  // Bounds that never pass the edge where it is, so a record already out of line stays put
  // rather than jumping.
  if (edge == TrimEdge::leading) {
    const double lowest = std::min(std::max(reach.earliestSec, 0.0), base.startSec);
    const double highest = std::max(base.endSec - kShortestSegmentSec, base.startSec);
    return SetSpan{base.id, std::clamp(wantedSec, lowest, highest), base.endSec};
  }
  const double lowest = std::min(base.startSec + kShortestSegmentSec, base.endSec);
  const double highest = std::max(std::min(reach.latestSec, videoEndSec(project)), base.endSec);
  return SetSpan{base.id, base.startSec, std::clamp(wantedSec, lowest, highest)};
}

}  // namespace brisklet
