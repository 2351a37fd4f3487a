#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/Edit.h"
#include "model/EditPlan.h"

namespace brisklet::timeline {

// The timeline's rules of size and time, in logical pixels and source seconds.

constexpr double kInitialPixelsPerSecond = 8;
constexpr double kMinimumPixelsPerSecond = 2;
constexpr double kMaximumPixelsPerSecond = 40;
constexpr double kMinimumContentWidth = 60;
// A record may claim any duration; the canvas stops here (Qt's widgets cannot be wider).
constexpr double kMaximumContentWidth = 4'000'000;
constexpr double kRulerHeight = 20;
constexpr double kVideoHeight = 76;
constexpr double kWaveformHeight = 32;
constexpr double kNarrationHeight = 24;
constexpr double kRowSpacing = 5;
constexpr double kRowPadding = 2;
constexpr double kTracksHeight = 171;
// The rows of the tracks, from their top.
constexpr double kRulerTop = kRowPadding;
constexpr double kVideoTop = kRulerTop + kRulerHeight + kRowSpacing;
constexpr double kWaveformTop = kVideoTop + kVideoHeight + kRowSpacing;
constexpr double kNarrationTop = kWaveformTop + kWaveformHeight + kRowSpacing;
constexpr double kShortestTrimSec = 0.5;

// A duration a record may hold, made safe to lay out: not finite or negative counts as 0.
double usableDuration(double seconds);

// The canvas width for a video of `durationSec` at `pixelsPerSecond`.
double contentWidth(double durationSec, double pixelsPerSecond);

// The zoom that fits a video into a timeline `width` wide, once: none while the width or the
// duration cannot tell.
std::optional<double> fittingZoom(double width, double durationSec);

// The ruler's tick step and label interval for a zoom.
struct RulerSpacing {
  int tickSec = 60;
  int labelSec = 600;
};
RulerSpacing rulerSpacing(double pixelsPerSecond);

// The blocks the timeline shows: the plan's segments, or, without a plan, one kept segment over
// the whole video.
std::vector<Segment> blocksOf(const std::optional<EditPlan>& plan, double durationSec);

// How many thumbnails a block `width` wide shows: one per 64 px, 1 to 10.
int thumbnailCount(double width);

// A rectangle of the tracks, in logical pixels.
struct TrackBox {
  double left = 0;
  double top = 0;
  double width = 0;
  double height = 0;
  double right() const { return left + width; }
  bool contains(double x, double y) const;
};

// Where a segment's block, its keep badge (shown on blocks wider than 40 px only) and its
// narration bubble are drawn at `pixelsPerSecond`.
TrackBox blockBox(const Segment& segment, double pixelsPerSecond);
// Where the segment's removed pauses lie on its block (the part of each inside the segment), in
// the order the segment holds them; a pause wholly outside it has an empty box.
std::vector<TrackBox> pauseBoxes(const Segment& segment, double pixelsPerSecond);
std::optional<TrackBox> badgeBox(const Segment& segment, double pixelsPerSecond);
std::optional<TrackBox> bubbleBox(const Segment& segment, double pixelsPerSecond);

// What the pointer at (x, y) of the tracks is over: a block's keep badge, the edge of a block it
// would trim (the 6 px inside each edge, less on a narrow block so that its middle still
// selects; where two blocks touch, the block under the pointer gives its edge), a removed pause
// on a block (`pause` its index), a block, a narration bubble, or nothing.
struct TrackHit {
  enum class Part { nothing, badge, edge, pause, block, bubble };
  Part part = Part::nothing;
  std::optional<Segment> segment;
  TrimEdge edge = TrimEdge::leading;
  size_t pause = 0;
};
TrackHit hitAt(const std::vector<Segment>& blocks, double pixelsPerSecond, double x, double y);

// The segment a click at source time `sourceSec` selects: the first holding it, else the last.
std::optional<Segment> segmentAt(const std::vector<Segment>& segments, double sourceSec);

// A narration bubble's span in seconds: its audio's length, or one second per 15 characters.
double bubbleSeconds(const NarrationClip& narration);

}  // namespace brisklet::timeline
