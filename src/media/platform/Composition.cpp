#include "media/platform/Composition.h"

#include <algorithm>
#include <cmath>

namespace brisklet {

AffineTransform AffineTransform::rotation(int degrees, double width, double height) {
  switch (((degrees % 360) + 360) % 360) {
    case 90: return {0, 1, -1, 0, height, 0};
    case 180: return {-1, 0, 0, -1, width, height};
    case 270: return {0, -1, 1, 0, 0, width};
    default: return {};
  }
}

AffineTransform AffineTransform::then(const AffineTransform& next) const {
  return {next.a * a + next.c * b,           next.b * a + next.d * b,
          next.a * c + next.c * d,           next.b * c + next.d * d,
          next.a * tx + next.c * ty + next.tx, next.b * tx + next.d * ty + next.ty};
}

Box boundingBox(const AffineTransform& transform, double width, double height) {
  double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
  for (const auto& [x, y] : {std::pair{0.0, 0.0}, {width, 0.0}, {0.0, height}, {width, height}}) {
    const double outX = transform.a * x + transform.c * y + transform.tx;
    const double outY = transform.b * x + transform.d * y + transform.ty;
    minX = std::min(minX, outX);
    maxX = std::max(maxX, outX);
    minY = std::min(minY, outY);
    maxY = std::max(maxY, outY);
  }
  return {minX, minY, maxX - minX, maxY - minY};
}

namespace {

// A level that starts at `initial` and follows each ramp in turn, staying at a ramp's end
// until the next one starts.
template <typename Ramp>
double levelAt(double initial, const std::vector<Ramp>& ramps, double seconds) {
  double level = initial;
  for (const Ramp& ramp : ramps) {
    const double start = ramp.range.start.seconds();
    const double end = ramp.range.end().seconds();
    if (seconds < start) break;
    if (seconds >= end || end <= start) {
      level = ramp.to;
      continue;
    }
    return ramp.from + (ramp.to - ramp.from) * (seconds - start) / (end - start);
  }
  return level;
}

}  // namespace

MediaTime Composition::duration() const {
  MediaTime end;
  for (const TrackInsert& insert : video)
    end.value = std::max(end.value, insert.outputStart.value + insert.source.duration.value);
  return end;
}

double volumeAt(const VolumeAutomation& automation, double seconds) {
  return levelAt(automation.initialVolume, automation.ramps, seconds);
}

double opacityAt(const std::vector<OpacityRamp>& ramps, double seconds) {
  return levelAt(1.0, ramps, seconds);
}

}  // namespace brisklet
