#include "media/platform/MediaTime.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/mathematics.h>
}

namespace brisklet {

MediaTime MediaTime::fromSeconds(double seconds) {
  // Far beyond any movie, and far enough inside int64 that sums of such times cannot overflow.
  constexpr double kLongestSec = 1e12;
  const double kept = std::isnan(seconds) ? 0.0 : std::clamp(seconds, -kLongestSec, kLongestSec);
  return MediaTime{static_cast<std::int64_t>(std::llround(kept * kDefaultTimescale)),
                   kDefaultTimescale};
}

double MediaTime::seconds() const { return static_cast<double>(value) / timescale; }

std::int64_t toStreamTimestamp(MediaTime time, AVRational timeBase, double originSec) {
  const std::int64_t relative =
      av_rescale_q_rnd(time.value, AVRational{1, time.timescale}, timeBase,
                       static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
  const std::int64_t origin = std::llround(originSec * timeBase.den / timeBase.num);
  return relative + origin;
}

double streamTimestampToSeconds(std::int64_t timestamp, AVRational timeBase, double originSec) {
  return static_cast<double>(timestamp) * av_q2d(timeBase) - originSec;
}

}  // namespace brisklet
