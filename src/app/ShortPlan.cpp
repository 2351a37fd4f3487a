#include "app/ShortPlan.h"

#include <algorithm>

namespace brisklet {
namespace {

constexpr double kShortestClipSec = 0.5;

}  // namespace

EditPlan shortPlan(const EditPlan& plan, const std::vector<AIDirector::HighlightClip>& clips,
                   double targetSec) {
  EditPlan result;
  double totalSec = 0;
  for (const AIDirector::HighlightClip& clip : clips) {
    if (clip.sceneIndex < 0 || clip.sceneIndex >= static_cast<int>(plan.segments.size())) continue;
    const Segment& scene = plan.segments[static_cast<size_t>(clip.sceneIndex)];
    const double start = std::min(scene.startSec + clip.startOffsetSec, scene.endSec - kShortestClipSec);
    const double end = std::min({start + clip.durationSec, scene.endSec, start + targetSec - totalSec});
    if (end - start <= kShortestClipSec) {
      if (totalSec + kShortestClipSec >= targetSec) break;  // no room left for any clip
      continue;
    }
    Segment segment;
    segment.id = Uuid::random();
    segment.startSec = start;
    segment.endSec = end;
    segment.keep = true;
    segment.facePath = scene.facePath;
    segment.centredCrop = scene.centredCrop;
    result.segments.push_back(segment);
    totalSec += end - start;
  }
  return result;
}

}  // namespace brisklet
