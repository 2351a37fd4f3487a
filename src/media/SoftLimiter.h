#pragma once

#include <cmath>
#include <span>

namespace brisklet {

// Multiplies by `gain` and bends everything above 0.9 softly (a tanh knee) so that nothing
// reaches full scale: samples up to 0.9 pass linearly, louder ones approach the ceiling, which
// lies just under the largest 16-bit value so no decoder or converter can clip them either.
inline void applyGain(double gain, std::span<double> samples) {
  constexpr double kKnee = 0.9;
  constexpr double kCeiling = 32767.0 / 32768.0;
  for (double& sample : samples) {
    const double louder = gain * sample;
    const double size = std::fabs(louder);
    if (!(size > kKnee)) {
      sample = louder;
      continue;
    }
    const double bent = std::fmin(kKnee + (1 - kKnee) * std::tanh((size - kKnee) / (1 - kKnee)),
                                  kCeiling);
    sample = std::copysign(bent, louder);
  }
}

}  // namespace brisklet
