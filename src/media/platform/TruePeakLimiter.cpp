#include "media/platform/TruePeakLimiter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace brisklet {
namespace {

constexpr int kOversampling = 4;
// Taps of the interpolating filter on each side of a point between two samples.
constexpr int kHalfTaps = 8;
constexpr int kTaps = 2 * kHalfTaps;
constexpr double kLookAheadSec = 0.005;
constexpr double kReleaseSec = 0.1;

// Windowed-sinc weights of the points a quarter, a half and three quarters past a sample, over
// the kTaps samples around it (the oldest first).
const std::array<std::array<double, kTaps>, kOversampling - 1>& interpolationWeights() {
  static const auto weights = [] {
    std::array<std::array<double, kTaps>, kOversampling - 1> table{};
    for (int phase = 1; phase < kOversampling; ++phase) {
      const double fraction = static_cast<double>(phase) / kOversampling;
      for (int tap = 0; tap < kTaps; ++tap) {
        const double distance = fraction - (tap - (kHalfTaps - 1));
        const double x = std::numbers::pi * distance;
        const double sinc = std::fabs(distance) < 1e-12 ? 1.0 : std::sin(x) / x;
        const double hann = 0.5 + 0.5 * std::cos(std::numbers::pi * distance / kHalfTaps);
        table[static_cast<std::size_t>(phase - 1)][static_cast<std::size_t>(tap)] = sinc * hann;
      }
    }
    return table;
  }();
  return weights;
}

}  // namespace

TruePeakLimiter::TruePeakLimiter(int sampleRate, int channels, double ceiling)
    : channels_(channels),
      ceiling_(ceiling),
      lookAhead_(static_cast<std::size_t>(std::lround(kLookAheadSec * sampleRate))),
      // The peak estimate lags its newest sample by half the filter.
      latency_(lookAhead_ + kHalfTaps),
      releaseStep_(1.0 - std::exp(-1.0 / (kReleaseSec * sampleRate))) {
  reset();
}

void TruePeakLimiter::reset() {
  history_.assign(static_cast<std::size_t>(channels_), std::vector<float>(kTaps, 0.0f));
  historyPosition_ = 0;
  delay_.assign(latency_ * static_cast<std::size_t>(channels_), 0.0f);
  delayPosition_ = 0;
  minimum_.clear();
  window_.assign(lookAhead_, 1.0);
  windowSum_ = static_cast<double>(lookAhead_);
  frame_ = 0;
  gain_ = 1;
}

// The largest size, over every channel, of the newest complete stretch between two samples:
// the sample itself and the three points after it.
double TruePeakLimiter::peakAhead() const {
  const auto& weights = interpolationWeights();
  double peak = 0;
  for (const std::vector<float>& samples : history_) {
    // The sample the points follow sits kHalfTaps − 1 taps after the oldest one held.
    const auto oldest = historyPosition_;
    const auto tapAt = [&](int tap) {
      return samples[(oldest + static_cast<std::size_t>(tap)) % kTaps];
    };
    peak = std::max(peak, static_cast<double>(std::fabs(tapAt(kHalfTaps - 1))));
    for (const auto& phase : weights) {
      double point = 0;
      for (int tap = 0; tap < kTaps; ++tap)
        point += phase[static_cast<std::size_t>(tap)] * tapAt(tap);
      peak = std::max(peak, std::fabs(point));
    }
  }
  return peak;
}

// The gain for the frame leaving now, given the gain the newest stretch needs: the smallest
// need over the look-ahead window plus a frame, averaged over the window (so the gain falls in
// a ramp that is already down when the peak leaves), then released slowly.
double TruePeakLimiter::gainFor(double requiredGain) {
  const std::size_t span = lookAhead_ + 2;
  while (!minimum_.empty() && minimum_.back().second >= requiredGain) minimum_.pop_back();
  minimum_.emplace_back(frame_, requiredGain);
  while (minimum_.front().first + span <= frame_) minimum_.pop_front();
  const double smallest = minimum_.front().second;
  double& slot = window_[frame_ % lookAhead_];
  windowSum_ += smallest - slot;
  slot = smallest;
  const double target = std::min(1.0, windowSum_ / static_cast<double>(lookAhead_));
  gain_ = target < gain_ ? target : gain_ + (target - gain_) * releaseStep_;
  // The rounding of the running sum must never lift the gain over what the window needs.
  gain_ = std::min(gain_, target);
  ++frame_;
  return gain_;
}

void TruePeakLimiter::process(std::span<float> interleaved) {
  const auto channels = static_cast<std::size_t>(channels_);
  for (std::size_t at = 0; at + channels <= interleaved.size(); at += channels) {
    for (std::size_t channel = 0; channel < channels; ++channel)
      history_[channel][historyPosition_] = interleaved[at + channel];
    historyPosition_ = (historyPosition_ + 1) % kTaps;
    const double peak = peakAhead();
    const double gain = gainFor(peak > ceiling_ ? ceiling_ / peak : 1.0);
    // The slot written now is read again latency_ frames later.
    float* slot = delay_.data() + delayPosition_ * channels;
    for (std::size_t channel = 0; channel < channels; ++channel) {
      const float leaving = slot[channel];
      slot[channel] = interleaved[at + channel];
      interleaved[at + channel] = static_cast<float>(leaving * gain);
    }
    delayPosition_ = (delayPosition_ + 1) % latency_;
  }
}

}  // namespace brisklet
