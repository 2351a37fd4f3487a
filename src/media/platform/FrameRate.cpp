#include "media/platform/FrameRate.h"

#include <cmath>

namespace brisklet {
namespace {

constexpr AVRational kStandardRates[] = {{24000, 1001}, {24, 1}, {25, 1},       {30000, 1001},
                                         {30, 1},       {50, 1}, {60000, 1001}, {60, 1}};
constexpr AVRational kUnknownRate{30, 1};

}  // namespace

AVRational standardFrameRate(double framesPerSecond) {
  if (!std::isfinite(framesPerSecond) || framesPerSecond <= 0) return kUnknownRate;
  AVRational nearest = kStandardRates[0];
  for (const AVRational rate : kStandardRates)
    if (std::fabs(av_q2d(rate) - framesPerSecond) < std::fabs(av_q2d(nearest) - framesPerSecond))
      nearest = rate;
  return nearest;
}

MediaTime frameDurationAt(AVRational rate) { return MediaTime{rate.den, rate.num}; }

}  // namespace brisklet
