#pragma once

#include <memory>
#include <optional>
#include <span>

namespace brisklet {

// WebRTC's noise suppression, the step that isolates a voice from the sound around it, on
// 48 kHz sound in frames of 10 ms. What comes out lags what goes in by kDelayFrames.
class NoiseSuppressor {
 public:
  static constexpr int kSampleRate = 48000;
  static constexpr int kFrameLength = kSampleRate / 100;
  // The lag of the suppressor's 16 kHz core (96 of its samples) and of the filter bank that
  // splits 48 kHz sound into its three bands, measured with chirps and speech.
  static constexpr int kDelayFrames = 336;

  // None when the library cannot make a suppressor for `channels` (1 or 2).
  static std::optional<NoiseSuppressor> create(int channels);
  NoiseSuppressor(NoiseSuppressor&&) noexcept;
  NoiseSuppressor& operator=(NoiseSuppressor&&) noexcept;
  ~NoiseSuppressor();

  // Suppresses the noise of one frame: kFrameLength sample frames, interleaved, in place.
  void process(std::span<float> interleavedFrame);

 private:
  class Processor;
  explicit NoiseSuppressor(std::unique_ptr<Processor> processor);
  std::unique_ptr<Processor> processor_;
};

}  // namespace brisklet
