#pragma once

extern "C" {
#include <libavutil/rational.h>
}

#include "media/platform/MediaTime.h"

namespace brisklet {

// The rate composed output plays at for a source that averages `framesPerSecond`: the nearest of
// the rates cameras record and editors conform to (23.976, 24, 25, 29.97, 30, 50, 59.94, 60),
// kept rational so that 29.97 is 30000/1001 and never 30, and at most 60. A source whose rate is
// unknown plays at 30.
AVRational standardFrameRate(double framesPerSecond);

// How long one frame at `rate` lasts, exactly.
MediaTime frameDurationAt(AVRational rate);

}  // namespace brisklet
