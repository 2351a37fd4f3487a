#include "media/CropFollowing.h"

#include <algorithm>
#include <cmath>

namespace brisklet::CropFollowing {
namespace {

// The dead zone spans this share of the window either side of its middle, less what the face's
// own size needs to stay inside.
constexpr double kDeadZoneShare = 0.25;
constexpr double kSettledShare = 1e-4;

struct Span {
  double centre = 0;
  double length = 0;
};

Span along(const FacePosition& face, Axis axis) {
  return axis == Axis::horizontal ? Span{face.centreX(), face.width}
                                  : Span{face.centreY(), face.height};
}

}  // namespace

std::vector<WindowKey> follow(const std::vector<FacePosition>& path, double windowShare, Axis axis,
                              double fromSec, double toSec) {
  std::vector<WindowKey> keys;
  if (path.empty() || !(windowShare > 0 && windowShare < 1) || !(toSec > fromSec)) return keys;
  const double latestStart = 1 - windowShare;
  const auto centredOn = [&](double centre) {
    return std::clamp(centre - windowShare / 2, 0.0, latestStart);
  };

  // The window starts on the last face seen by `fromSec` (the first one when none was).
  auto next = std::find_if(path.begin(), path.end(),
                           [&](const FacePosition& face) { return face.timeSec > fromSec; });
  const FacePosition& first = next == path.begin() ? *next : *std::prev(next);
  double start = centredOn(along(first, axis).centre);
  bool gliding = false;
  double timeSec = fromSec;
  keys.push_back({fromSec, start});
  for (auto face = next; face != path.end() && face->timeSec < toSec; ++face) {
    const Span span = along(*face, axis);
    const double target = centredOn(span.centre);
    if (gliding) {
      const double reach = kGlideSharePerSec * (face->timeSec - timeSec);
      start += std::clamp(target - start, -reach, reach);
      keys.push_back({face->timeSec, start});
      gliding = std::abs(target - start) > kSettledShare;
    } else {
      const double deadZone =
          std::max(0.0, std::min(kDeadZoneShare * windowShare, (windowShare - span.length) / 2));
      // The glide sets off from where the face was seen to leave the dead zone.
      gliding = std::abs(span.centre - (start + windowShare / 2)) > deadZone &&
                std::abs(target - start) > kSettledShare;
      if (gliding) keys.push_back({face->timeSec, start});
    }
    timeSec = face->timeSec;
  }
  // Past the last face the glide goes on to where that face was, still within the range.
  if (gliding) {
    const double target = centredOn(along(path.back(), axis).centre);
    const double arrivalSec = timeSec + std::abs(target - start) / kGlideSharePerSec;
    if (arrivalSec <= toSec) {
      keys.push_back({arrivalSec, target});
    } else {
      const double reach = kGlideSharePerSec * (toSec - timeSec);
      keys.push_back({toSec, start + std::clamp(target - start, -reach, reach)});
    }
  }
  return keys;
}

}  // namespace brisklet::CropFollowing
