#pragma once

#include <cstddef>
#include <deque>
#include <span>
#include <vector>

namespace brisklet {

// Keeps interleaved sound under a true-peak ceiling and leaves everything below it untouched.
// Peaks are found between the samples too (4× oversampled), ahead of time: the gain falls over a
// few milliseconds before a peak arrives, so nothing is clipped and nothing is bent, and comes
// back over about 100 ms after it. The output runs latency() sample frames behind the input.
class TruePeakLimiter {
 public:
  TruePeakLimiter(int sampleRate, int channels, double ceiling);

  std::size_t latency() const { return latency_; }
  // Replaces each sample frame with the limited one from latency() frames earlier.
  void process(std::span<float> interleaved);
  // Forgets all sound so far, as if just made.
  void reset();

 private:
  double peakAhead() const;
  double gainFor(double requiredGain);

  const int channels_;
  const double ceiling_;
  const std::size_t lookAhead_;
  const std::size_t latency_;
  const double releaseStep_;
  // The last input frames per channel, for the interpolation between samples.
  std::vector<std::vector<float>> history_;
  std::size_t historyPosition_ = 0;
  // Input frames waiting to leave, interleaved, as a ring.
  std::vector<float> delay_;
  std::size_t delayPosition_ = 0;
  // The smallest required gain over the look-ahead window (index, gain), ascending gains.
  std::deque<std::pair<std::size_t, double>> minimum_;
  std::vector<double> window_;
  double windowSum_ = 0;
  std::size_t frame_ = 0;
  double gain_ = 1;
};

}  // namespace brisklet
