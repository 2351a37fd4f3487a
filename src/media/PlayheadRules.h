#pragma once

#include <optional>
#include <vector>

#include "media/SegmentTimeMapping.h"

namespace brisklet {

// Where the preview's playhead goes, on the output axis, when the user points at a moment or
// skips. Both work on the mappings of the edit being played.

// A seek to source time `sourceSec`: the output time that shows it; in a dropped stretch, the
// start of the next kept segment; past the last one, the end of the edit; 0 without mappings.
double seekTarget(const std::vector<SegmentTimeMapping>& mappings, double sourceSec);

// Skipping from output time `nowSec`. Forward: the start of the first segment that starts more
// than 0.1 s ahead, or none (nothing happens). Back: the start of the last segment that starts
// more than 0.5 s before now, else 0, so a press early in a segment goes to the one before it and
// a later press to the segment's own start. None without mappings.
std::optional<double> skipTarget(const std::vector<SegmentTimeMapping>& mappings, double nowSec,
                                 bool forward);

// A step of `frames` (negative: back) from output time `nowSec`, on the grid of frames that
// `frameSec` apart from 0: the playhead lands on a frame's start, never between two. Kept within
// 0…`durationSec`.
double frameStepTarget(double nowSec, int frames, double frameSec, double durationSec);

// The shuttle's speed after a press of J (`direction` −1) or L (+1) at speed `rate` (0: still;
// negative: backwards): the first press plays that way at normal speed, each further press the
// same way doubles it up to 8×, and a press the other way plays that way at normal speed.
double shuttleRate(double rate, int direction);

// The nearest segment boundary (where a kept segment starts or ends on the output axis) after
// output time `nowSec`, or before it; the edit's start and end count. None without mappings, or
// when there is none that way.
std::optional<double> boundaryTarget(const std::vector<SegmentTimeMapping>& mappings, double nowSec,
                                     bool forward);

}  // namespace brisklet
