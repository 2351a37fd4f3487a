#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <vector>

namespace brisklet {

// A fixed amount of interleaved sound between the thread that renders it and the device that
// plays it. Not locked: its owner guards it.
class SoundRing {
 public:
  SoundRing(std::size_t frames, int channels)
      : samples_(frames * static_cast<std::size_t>(channels)), channels_(channels) {}

  std::size_t framesHeld() const { return held_ / static_cast<std::size_t>(channels_); }
  std::size_t framesFree() const { return (samples_.size() - held_) / static_cast<std::size_t>(channels_); }
  void clear() { held_ = start_ = 0; }

  // Appends as much of `interleaved` as fits; returns the sample frames taken.
  std::size_t write(std::span<const float> interleaved) {
    const std::size_t count = std::min(interleaved.size(), samples_.size() - held_) /
                              static_cast<std::size_t>(channels_) * static_cast<std::size_t>(channels_);
    for (std::size_t i = 0; i < count; ++i)
      samples_[(start_ + held_ + i) % samples_.size()] = interleaved[i];
    held_ += count;
    return count / static_cast<std::size_t>(channels_);
  }

  // Moves the oldest samples into `interleaved`; returns the sample frames given.
  std::size_t read(std::span<float> interleaved) {
    const std::size_t count = std::min(interleaved.size(), held_) /
                              static_cast<std::size_t>(channels_) * static_cast<std::size_t>(channels_);
    for (std::size_t i = 0; i < count; ++i) interleaved[i] = samples_[(start_ + i) % samples_.size()];
    start_ = (start_ + count) % samples_.size();
    held_ -= count;
    return count / static_cast<std::size_t>(channels_);
  }

 private:
  std::vector<float> samples_;
  int channels_;
  std::size_t start_ = 0;
  std::size_t held_ = 0;
};

}  // namespace brisklet
