#include "media/PlayheadRules.h"

namespace brisklet {
namespace {

constexpr double kSkipForwardMarginSec = 0.1;
constexpr double kSkipBackMarginSec = 0.5;

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
  if (forward) {
    for (const SegmentTimeMapping& mapping : mappings)
      if (mapping.compositionStartSec > nowSec + kSkipForwardMarginSec)
        return mapping.compositionStartSec;
    return std::nullopt;
  }
  for (auto mapping = mappings.rbegin(); mapping != mappings.rend(); ++mapping)
    if (mapping->compositionStartSec < nowSec - kSkipBackMarginSec) return mapping->compositionStartSec;
  return 0.0;
}

}  // namespace brisklet
