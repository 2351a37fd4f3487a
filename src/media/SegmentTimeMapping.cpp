#include "media/SegmentTimeMapping.h"

namespace brisklet {

std::optional<double> compositionTime(const std::vector<SegmentTimeMapping>& mappings,
                                      double sourceSec) {
  for (const SegmentTimeMapping& mapping : mappings)
    if (mapping.sourceStartSec <= sourceSec &&
        sourceSec < mapping.sourceStartSec + mapping.durationSec)
      return sourceSec - mapping.sourceStartSec + mapping.compositionStartSec;
  return std::nullopt;
}

std::optional<double> sourceTime(const std::vector<SegmentTimeMapping>& mappings,
                                 double compositionSec) {
  if (mappings.empty()) return std::nullopt;
  for (const SegmentTimeMapping& mapping : mappings)
    if (mapping.compositionStartSec <= compositionSec &&
        compositionSec < mapping.compositionStartSec + mapping.durationSec)
      return compositionSec - mapping.compositionStartSec + mapping.sourceStartSec;
  return mappings.back().sourceStartSec + mappings.back().durationSec;
}

double keptDurationSec(const std::vector<SegmentTimeMapping>& mappings) {
  double total = 0;
  for (const SegmentTimeMapping& mapping : mappings) total += mapping.durationSec;
  return total;
}

}  // namespace brisklet
