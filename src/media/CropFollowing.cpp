#include "media/CropFollowing.h"

#include <algorithm>
#include <cmath>

namespace brisklet::CropFollowing {
namespace {

// The face may wander this share of the window either side of its middle before the window
// moves, less what the head needs to stay inside.
constexpr double kDeadZoneShare = 0.25;
// A detector's face box runs from the brows to the chin; the head around it is this much wider.
constexpr double kHeadShare = 1.4;

// Where the window's start may lie, as a closed interval of shares of the picture.
struct Reach {
  double lowest = 0;
  double highest = 0;
};

double centreOf(const FacePosition& face, Axis axis) {
  return axis == Axis::horizontal ? face.centreX() : face.centreY();
}

// The starts that keep `face` inside the dead zone of a window `share` long.
Reach keepingInView(const FacePosition& face, double share, Axis axis) {
  const double head = kHeadShare * (axis == Axis::horizontal ? face.width : face.height);
  const double deadZone = std::max(0.0, std::min(kDeadZoneShare * share, (share - head) / 2));
  const double centred = centreOf(face, axis) - share / 2;
  return {std::clamp(centred - deadZone, 0.0, 1 - share),
          std::clamp(centred + deadZone, 0.0, 1 - share)};
}

// `wanted` narrowed to what lies within `slack` of `next`; where the two do not meet (the face
// moves faster than the window may), the point of `wanted` nearest to that reach: the face in
// view now comes first, and the window then chases the next.
Reach narrowed(const Reach& wanted, const Reach& next, double slack) {
  const Reach reachable{next.lowest - slack, next.highest + slack};
  const Reach both{std::max(wanted.lowest, reachable.lowest),
                   std::min(wanted.highest, reachable.highest)};
  if (both.lowest <= both.highest) return both;
  const double nearest = reachable.lowest > wanted.highest ? wanted.highest : wanted.lowest;
  return {nearest, nearest};
}

// From `start`, as little a move as brings the window into `reach`, at most `slack` long.
double movedInto(double start, const Reach& reach, double slack) {
  if (start < reach.lowest) return std::min(reach.lowest, start + slack);
  if (start > reach.highest) return std::max(reach.highest, start - slack);
  return start;
}

}  // namespace

std::vector<WindowKey> follow(const std::vector<FacePosition>& path, double windowShare, Axis axis,
                              double fromSec, double toSec) {
  if (path.empty() || !(windowShare > 0 && windowShare < 1) || !(toSec > fromSec)) return {};
  // Backwards: where the window may be at each face so that, at the glide's speed, it can keep
  // every later face in view. The whole scene is known, so the window sets off in time.
  std::vector<Reach> reaches(path.size());
  reaches.back() = keepingInView(path.back(), windowShare, axis);
  for (size_t index = path.size() - 1; index-- > 0;)
    reaches[index] = narrowed(keepingInView(path[index], windowShare, axis), reaches[index + 1],
                              kGlideSharePerSec * (path[index + 1].timeSec - path[index].timeSec));

  // Forwards: from the first face, centred, the window moves only as far as it must.
  std::vector<WindowKey> keys;
  double start =
      movedInto(centreOf(path.front(), axis) - windowShare / 2, reaches.front(), INFINITY);
  keys.push_back({path.front().timeSec, start});
  for (size_t index = 1; index < path.size(); ++index) {
    start = movedInto(start, reaches[index],
                      kGlideSharePerSec * (path[index].timeSec - path[index - 1].timeSec));
    keys.push_back({path[index].timeSec, start});
  }
  // A window still on its way to the last face goes on to it.
  if (const double arrived = movedInto(start, reaches.back(), INFINITY); arrived != start)
    keys.push_back({path.back().timeSec + std::abs(arrived - start) / kGlideSharePerSec, arrived});

  // The stretch asked for: where the window is at its start, then each move inside it. Keys
  // between which the window holds still say nothing.
  const auto startAt = [&](double seconds) {
    const auto after = std::find_if(keys.begin(), keys.end(),
                                    [&](const WindowKey& key) { return key.sourceSec > seconds; });
    if (after == keys.begin()) return keys.front().start;
    if (after == keys.end()) return keys.back().start;
    const WindowKey& before = *std::prev(after);
    return before.start + (after->start - before.start) * (seconds - before.sourceSec) /
                              (after->sourceSec - before.sourceSec);
  };
  std::vector<WindowKey> stretch{{fromSec, startAt(fromSec)}};
  for (const WindowKey& key : keys) {
    if (key.sourceSec <= fromSec) continue;
    if (key.sourceSec >= toSec) {
      stretch.push_back({toSec, startAt(toSec)});
      break;
    }
    stretch.push_back(key);
  }
  std::vector<WindowKey> moves;
  for (size_t index = 0; index < stretch.size(); ++index) {
    const bool heldBefore = index > 0 && stretch[index - 1].start == stretch[index].start;
    const bool heldAfter =
        index + 1 < stretch.size() && stretch[index + 1].start == stretch[index].start;
    if (!(heldBefore && heldAfter)) moves.push_back(stretch[index]);
  }
  return moves;
}

}  // namespace brisklet::CropFollowing
