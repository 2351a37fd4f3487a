#include "media/PlayheadRules.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace brisklet {
namespace {

constexpr double kSkipForwardMarginSec = 0.1;
constexpr double kSkipBackMarginSec = 0.5;
// Closer than this is the same moment: a boundary the playhead stands on is not the next one.
constexpr double kSameMomentSec = 1e-6;

// Where each segment starts and ends on the output axis: a segment's runs (the stretches between
// its removed pauses) follow each other there, so only the first one's start and the last one's
// end are its edges.
std::vector<std::pair<double, double>> segmentEdges(const std::vector<SegmentTimeMapping>& mappings) {
  std::vector<std::pair<double, double>> edges;
  for (size_t index = 0; index < mappings.size(); ++index) {
    const SegmentTimeMapping& mapping = mappings[index];
    const double end = mapping.compositionStartSec + mapping.durationSec;
    if (index > 0 && mappings[index - 1].segmentID == mapping.segmentID)
      edges.back().second = end;
    else
      edges.emplace_back(mapping.compositionStartSec, end);
  }
  return edges;
}

}  // namespace

double seekTarget(const std::vector<SegmentTimeMapping>& mappings, double sourceSec) {
  if (const std::optional<double> shown = compositionTime(mappings, sourceSec)) return *shown;
  for (const SegmentTimeMapping& mapping : mappings)
    if (mapping.sourceStartSec >= sourceSec) return mapping.compositionStartSec;
  if (mappings.empty()) return 0;
  return mappings.back().compositionStartSec + mappings.back().durationSec;
}

std::optional<double> skipTarget(const std::vector<SegmentTimeMapping>& mappings, double nowSec,
                                 bool forward) {
  if (mappings.empty()) return std::nullopt;
  const std::vector<std::pair<double, double>> edges = segmentEdges(mappings);
  if (forward) {
    for (const auto& [start, end] : edges)
      if (start > nowSec + kSkipForwardMarginSec) return start;
    return std::nullopt;
  }
  for (auto edge = edges.rbegin(); edge != edges.rend(); ++edge)
    if (edge->first < nowSec - kSkipBackMarginSec) return edge->first;
  return 0.0;
}

double frameStepTarget(double nowSec, int frames, double frameSec, double durationSec) {
  if (!(frameSec > 0)) return std::clamp(nowSec, 0.0, std::max(durationSec, 0.0));
  // The frame on screen is the one whose start is at or just before now.
  const double frame = std::floor(nowSec / frameSec + kSameMomentSec) + frames;
  return std::clamp(frame * frameSec, 0.0, std::max(durationSec, 0.0));
}

double shuttleRate(double rate, int direction) {
  constexpr double kFastest = 8;
  if (direction == 0) return rate;
  const double way = direction > 0 ? 1.0 : -1.0;
  if (rate * way <= 0) return way;
  return way * std::min(std::abs(rate) * 2, kFastest);
}

std::optional<double> boundaryTarget(const std::vector<SegmentTimeMapping>& mappings, double nowSec,
                                     bool forward) {
  if (mappings.empty()) return std::nullopt;
  std::vector<double> boundaries;
  for (const auto& [start, end] : segmentEdges(mappings)) {
    boundaries.push_back(start);
    boundaries.push_back(end);
  }
  std::sort(boundaries.begin(), boundaries.end());
  if (forward) {
    const auto next =
        std::upper_bound(boundaries.begin(), boundaries.end(), nowSec + kSameMomentSec);
    if (next == boundaries.end()) return std::nullopt;
    return *next;
  }
  const auto after =
      std::lower_bound(boundaries.begin(), boundaries.end(), nowSec - kSameMomentSec);
  if (after == boundaries.begin()) return std::nullopt;
  return *std::prev(after);
}

}  // namespace brisklet
