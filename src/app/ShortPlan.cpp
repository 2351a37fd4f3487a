#include "app/ShortPlan.h"

#include <algorithm>

namespace brisklet {
namespace {

constexpr double kShortestClipSec = 0.5;

// Where `segment` has shown `shownSec` of itself, its removed pauses left out; its end when it
// shows less than that.
double endAfterShown(const Segment& segment, double shownSec) {
  for (const SourceSpan& run : segment.keptRuns()) {
    if (run.durationSec() >= shownSec) return run.startSec + shownSec;
    shownSec -= run.durationSec();
  }
  return segment.endSec;
}

}  // namespace

EditPlan shortPlan(const EditPlan& plan, const std::vector<AIDirector::HighlightClip>& clips,
                   double targetSec) {
  EditPlan result;
  double totalSec = 0;
  for (const AIDirector::HighlightClip& clip : clips) {
    if (clip.sceneIndex < 0 || clip.sceneIndex >= static_cast<int>(plan.segments.size())) continue;
    const Segment& scene = plan.segments[static_cast<size_t>(clip.sceneIndex)];
    const double start = std::min(scene.startSec + clip.startOffsetSec, scene.endSec - kShortestClipSec);
    Segment segment;
    segment.id = Uuid::random();
    segment.startSec = start;
    segment.endSec = std::min(start + clip.durationSec, scene.endSec);
    segment.keep = true;
    segment.facePath = scene.facePath;
    segment.centredCrop = scene.centredCrop;
    // The scene's pauses stay removed; the clip counts what it shows.
    segment.removedPauses = scene.removedPauses;
    segment.endSec = endAfterShown(segment, targetSec - totalSec);
    if (segment.keptSec() <= kShortestClipSec) {
      if (totalSec + kShortestClipSec >= targetSec) break;  // no room left for any clip
      continue;
    }
    totalSec += segment.keptSec();
    result.segments.push_back(std::move(segment));
  }
  return result;
}

}  // namespace brisklet
