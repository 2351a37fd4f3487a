#pragma once

#include <memory>
#include <optional>
#include <span>

#include "media/platform/Composition.h"

namespace brisklet {

// The mixed sound of a composition at 48 kHz, stereo, 32-bit float, from any output time on:
// every sound track summed, each at its volume automation, sample by sample, with a short
// crossfade at every join (a source that continues itself plays on untouched); then the master:
// `gain`, the mix's fades at the output's two ends and (unless measuring what a gain would do)
// a true-peak limiter, so nothing that leaves clips. Every output time sounds the same
// whatever time rendering started from.
class AudioRenderer {
 public:
  static constexpr int kSampleRate = 48000;
  static constexpr int kChannels = 2;

  AudioRenderer(const Composition& composition, const std::optional<AudioMix>& audioMix,
                double startSec = 0, double gain = 1, bool limited = true);
  AudioRenderer(AudioRenderer&&) noexcept;
  AudioRenderer& operator=(AudioRenderer&&) noexcept;
  ~AudioRenderer();

  // Whether any track carries sound.
  bool hasSound() const;
  // Fills `interleaved` with the next samples and returns how many sample frames it wrote:
  // fewer than fit only where the output ends.
  std::size_t render(std::span<float> interleaved);
  // The next samples are those from output time `outputSec` on. The files already open stay open.
  void seek(double outputSec);
  // The master gain of the samples mixed from now on.
  void setGain(double gain);

 private:
  class Mixer;
  std::unique_ptr<Mixer> mixer_;
};

}  // namespace brisklet
