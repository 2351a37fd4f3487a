#include "model/EditPlan.h"

#include <algorithm>

#include "model/RecordLimits.h"

namespace brisklet {

std::string_view rawValue(NarrationStatus status) {
  switch (status) {
    case NarrationStatus::pendingAudio:
      return "pendingAudio";
    case NarrationStatus::ready:
      return "ready";
    case NarrationStatus::stale:
      return "stale";
  }
  return "pendingAudio";
}

std::optional<NarrationStatus> narrationStatusFromRaw(std::string_view raw) {
  for (NarrationStatus status :
       {NarrationStatus::pendingAudio, NarrationStatus::ready, NarrationStatus::stale})
    if (rawValue(status) == raw) return status;
  return std::nullopt;
}

double EditPlan::keptDurationSec() const {
  double total = 0.0;
  for (const Segment& segment : segments)
    if (segment.keep) total += segment.durationSec();
  return total;
}

Segment* EditPlan::segment(const Uuid& id) {
  const auto found = std::find_if(segments.begin(), segments.end(),
                                  [&](const Segment& candidate) { return candidate.id == id; });
  return found == segments.end() ? nullptr : &*found;
}

const Segment* EditPlan::segment(const Uuid& id) const {
  return const_cast<EditPlan*>(this)->segment(id);
}

std::optional<Segment> committingNarrationText(const Segment& segment,
                                               const std::string& typedText) {
  const std::string editedText = storedNarrationText(typedText);
  Segment changed = segment;
  if (changed.narration) {
    NarrationClip& clip = *changed.narration;
    if (clip.text == editedText) return std::nullopt;
    clip.text = editedText;
    clip.userEditedText = true;
    if (clip.audioFileName) clip.status = NarrationStatus::stale;
    return changed;
  }
  if (editedText.empty()) return std::nullopt;
  changed.narration = NarrationClip{.text = editedText,
                                    .userEditedText = true,
                                    .audioFileName = std::nullopt,
                                    .startOffsetSec = 0.5,
                                    .durationSec = std::nullopt,
                                    .status = NarrationStatus::pendingAudio};
  return changed;
}

}  // namespace brisklet
