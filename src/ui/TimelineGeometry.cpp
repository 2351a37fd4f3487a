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

bool TrackBox::contains(double x, double y) const {
  return left <= x && x < right() && top <= y && y < top + height;
}

TrackBox blockBox(const Segment& segment, double pixelsPerSecond) {
  constexpr double kNarrowestBlock = 4;
  const double width =
      std::max((segment.endSec - segment.startSec) * pixelsPerSecond, kNarrowestBlock);
  return {segment.startSec * pixelsPerSecond, kVideoTop, width, kVideoHeight};
}

std::vector<TrackBox> pauseBoxes(const Segment& segment, double pixelsPerSecond) {
  const TrackBox block = blockBox(segment, pixelsPerSecond);
  std::vector<TrackBox> boxes;
  for (const SourceSpan& pause : segment.removedPauses) {
    const double from = std::max(pause.startSec, segment.startSec) * pixelsPerSecond;
    const double to = std::min(pause.endSec, segment.endSec) * pixelsPerSecond;
    boxes.push_back({from, block.top, std::max(to - from, 0.0), to > from ? block.height : 0});
  }
  return boxes;
}

std::optional<TrackBox> badgeBox(const Segment& segment, double pixelsPerSecond) {
  const TrackBox block = blockBox(segment, pixelsPerSecond);
  if (block.width <= 40) return std::nullopt;
  return TrackBox{block.left + 3, block.top + 3, 16, 16};
}

std::optional<TrackBox> bubbleBox(const Segment& segment, double pixelsPerSecond) {
  if (!segment.narration || segment.narration->text.empty()) return std::nullopt;
  const double x = (segment.startSec + segment.narration->startOffsetSec) * pixelsPerSecond;
  const double width = std::max(bubbleSeconds(*segment.narration) * pixelsPerSecond, 20.0);
  return TrackBox{x, kNarrationTop + 2, width, 20};
}

TrackHit hitAt(const std::vector<Segment>& blocks, double pixelsPerSecond, double x, double y) {
  constexpr double kGrabPixels = 6;
  for (const Segment& segment : blocks) {
    const TrackBox block = blockBox(segment, pixelsPerSecond);
    // Blocks are half-open: at a seam, the later block is under the pointer.
    if (!block.contains(x, y)) continue;
    if (const auto badge = badgeBox(segment, pixelsPerSecond);
        badge &&
        TrackBox{badge->left - 2, badge->top - 2, badge->width + 4, badge->height + 4}.contains(x,
                                                                                                y))
      return {TrackHit::Part::badge, segment};
    const double reach = std::min(kGrabPixels, block.width / 3);
    if (x - block.left <= reach) return {TrackHit::Part::edge, segment, TrimEdge::leading};
    if (block.right() - x <= reach) return {TrackHit::Part::edge, segment, TrimEdge::trailing};
    const std::vector<TrackBox> pauses = pauseBoxes(segment, pixelsPerSecond);
    for (size_t index = 0; index < pauses.size(); ++index)
      if (pauses[index].contains(x, y))
        return {TrackHit::Part::pause, segment, TrimEdge::leading, index};
    return {TrackHit::Part::block, segment};
  }
  for (const Segment& segment : blocks)
    if (const auto bubble = bubbleBox(segment, pixelsPerSecond); bubble && bubble->contains(x, y))
      return {TrackHit::Part::bubble, segment};
  return {};
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
