#pragma once

#include <span>
#include <vector>

namespace brisklet {

// The voice isolation of crystal-clear sound, a short-time spectral noise filter for 48 kHz
// sound: each 21 ms window (half overlapping) is weighed bin by bin with the Ephraim–Malah
// log-spectral amplitude gain, the a-priori SNR taken decision-directed and the noise tracked as
// the minimum of the smoothed spectrum over the last second and a half, so it follows noise that
// drifts but never mistakes a held vowel for it.
// What comes out lags what goes in by kDelayFrames.
class VoiceIsolator {
 public:
  static constexpr int kWindowLength = 1024;
  static constexpr int kHop = kWindowLength / 2;
  static constexpr int kDelayFrames = kWindowLength;

  explicit VoiceIsolator(int channels);

  // Filters interleaved samples in place, any number of sample frames at a time.
  void process(std::span<float> interleaved);

 private:
  struct Channel {
    std::vector<float> input;    // the last window of sound
    std::vector<float> overlap;  // output still being summed
    std::vector<float> ready;    // finished output not yet handed on
    std::size_t readyAt = 0;
    int fresh = 0;                                // samples in `input` since the last window
    std::vector<double> smoothed;                 // smoothed power per bin
    std::vector<double> minimum;                  // its minimum over the sub-window being filled
    std::vector<std::vector<double>> pastMinima;  // minima of the sub-windows before
    std::vector<double> noise;
    std::vector<double> lastClean;  // |G·Y|² of the window before, for the a-priori SNR
    int framesInSubWindow = 0;
    std::size_t nextSubWindow = 0;
    bool started = false;
  };

  void filterWindow(Channel& channel);

  std::vector<Channel> state_;  // one per channel
  std::vector<float> window_;
  std::vector<float> spectrum_;
};

}  // namespace brisklet
