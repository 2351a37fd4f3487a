#include "ui/TimelineGeometry.h"

#include <algorithm>
#include <cmath>

namespace brisklet::timeline {

double usableDuration(double seconds) {
  return std::isfinite(seconds) && seconds > 0 ? seconds : 0;
}

double contentWidth(double durationSec, double pixelsPerSecond) {
  return std::clamp(usableDuration(durationSec) * pixelsPerSecond, kMinimumContentWidth,
                    kMaximumContentWidth);
}

std::optional<double> fittingZoom(double width, double durationSec) {
  const double duration = usableDuration(durationSec);
  if (width <= kMinimumContentWidth || duration <= 0) return std::nullopt;
  return std::clamp((width - 90) / duration, kMinimumPixelsPerSecond, kMaximumPixelsPerSecond);
}

RulerSpacing rulerSpacing(double pixelsPerSecond) {
  static constexpr RulerSpacing kRows[] = {{1, 5},   {1, 10},   {5, 30},
                                           {10, 60}, {30, 120}, {60, 300}};
  for (const RulerSpacing& row : kRows)
    if (row.labelSec * pixelsPerSecond >= 70) return row;
  return {};
}

std::vector<Segment> blocksOf(const std::optional<EditPlan>& plan, double durationSec) {
  if (plan) return plan->segments;
  Segment whole;
  whole.id = Uuid::random();
  whole.endSec = usableDuration(durationSec);
  return {whole};
}

int thumbnailCount(double width) { return std::clamp(static_cast<int>(width / 64), 1, 10); }

std::optional<TrimEdge> grabbedEdge(double left, double right, double x) {
  constexpr double kGrabPixels = 6;
  const double reach = std::min(kGrabPixels, (right - left) / 3);
  if (x < left || x > right) return std::nullopt;
  if (x - left <= reach) return TrimEdge::leading;
  if (right - x <= reach) return TrimEdge::trailing;
  return std::nullopt;
}

std::optional<Segment> segmentAt(const std::vector<Segment>& segments, double sourceSec) {
  for (const Segment& segment : segments)
    if (segment.startSec <= sourceSec && sourceSec < segment.endSec) return segment;
  if (segments.empty()) return std::nullopt;
  return segments.back();
}

double bubbleSeconds(const NarrationClip& narration) {
  if (narration.durationSec && std::isfinite(*narration.durationSec)) return *narration.durationSec;
  // Characters, not bytes: the continuation bytes of UTF-8 do not count.
  const auto characters = std::count_if(narration.text.begin(), narration.text.end(),
                                        [](char byte) { return (byte & 0xC0) != 0x80; });
  return static_cast<double>(characters) / 15;
}

}  // namespace brisklet::timeline
