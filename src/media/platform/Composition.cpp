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

MediaTime endOf(const std::vector<TrackInsert>& inserts) {
  MediaTime end;
  for (const TrackInsert& insert : inserts)
    end.value = std::max(end.value, insert.outputStart.value + insert.source.duration.value);
  return end;
}

}  // namespace

MediaTime Composition::pictureDuration() const { return endOf(video); }

MediaTime Composition::duration() const {
  MediaTime end = pictureDuration();
  for (const auto* sound : {&mainAudio, &narration, &music})
    if (*sound) end.value = std::max(end.value, endOf(**sound).value);
  return end;
}

double volumeAt(const VolumeAutomation& automation, double seconds) {
  double volume = 1;
  for (const VolumeEnvelope& envelope : automation.envelopes)
    volume *= levelAt(envelope.initialVolume, envelope.ramps, seconds);
  return volume;
}

double opacityAt(const std::vector<OpacityRamp>& ramps, double seconds) {
  return levelAt(1.0, ramps, seconds);
}

AffineTransform panAt(const std::vector<PanKey>& pan, double seconds) {
  if (pan.empty()) return {};
  const auto after =
      std::upper_bound(pan.begin(), pan.end(), seconds,
                       [](double time, const PanKey& key) { return time < key.timeSec; });
  if (after == pan.begin()) return AffineTransform::translation(pan.front().x, pan.front().y);
  if (after == pan.end()) return AffineTransform::translation(pan.back().x, pan.back().y);
  const PanKey& before = *std::prev(after);
  const double share = (seconds - before.timeSec) / (after->timeSec - before.timeSec);
  return AffineTransform::translation(before.x + share * (after->x - before.x),
                                      before.y + share * (after->y - before.y));
}

}  // namespace brisklet
