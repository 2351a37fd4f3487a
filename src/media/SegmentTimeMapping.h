#pragma once

#include <optional>
#include <vector>

#include "model/Uuid.h"

namespace brisklet {

// Where one kept run of a segment lands on the output axis: the whole segment, or the stretch
// between two of its removed pauses (a segment has a mapping for each). Mappings come in
// ascending source and output order; the first starts at output time 0.
struct SegmentTimeMapping {
  Uuid segmentID;
  double sourceStartSec = 0;       // where the run starts, unrounded
  double compositionStartSec = 0;  // on the output axis
  double durationSec = 0;          // the run's length, unrounded

  bool operator==(const SegmentTimeMapping&) const = default;
};

// The output time that shows source time `sourceSec`: the first mapping whose half-open source
// range holds it answers. None when it lies in no kept segment.
std::optional<double> compositionTime(const std::vector<SegmentTimeMapping>& mappings,
                                      double sourceSec);

// The source time shown at output time `compositionSec`: the first mapping whose half-open output
// range holds it answers; a time in none of them (past the end, or negative) gives the source end
// of the last mapping. None only when there are no mappings.
std::optional<double> sourceTime(const std::vector<SegmentTimeMapping>& mappings,
                                 double compositionSec);

// The sum of the mappings' durations.
double keptDurationSec(const std::vector<SegmentTimeMapping>& mappings);

}  // namespace brisklet
