#include "model/EditPlan.h"

#include <algorithm>

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

std::optional<std::string> spokenWords(const NarrationClip& clip) {
  if (clip.spokenText) return clip.spokenText;
  if (clip.status == NarrationStatus::ready && clip.audioFileName) return clip.text;
  return std::nullopt;
}

std::vector<SourceSpan> Segment::keptRuns() const {
  std::vector<SourceSpan> runs;
  double from = startSec;
  for (const SourceSpan& pause : removedPauses) {
    if (pause.startSec >= endSec) break;
    if (pause.startSec > from) runs.push_back({from, pause.startSec});
    from = std::max(from, pause.endSec);
  }
  if (endSec > from) runs.push_back({from, endSec});
  return runs;
}

double Segment::keptSec() const {
  double total = 0;
  for (const SourceSpan& run : keptRuns()) total += run.durationSec();
  return total;
}

double EditPlan::keptDurationSec() const {
  double total = 0.0;
  for (const Segment& segment : segments)
    if (segment.keep) total += segment.keptSec();
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

}  // namespace brisklet
