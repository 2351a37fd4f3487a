#pragma once

#include <array>
#include <span>
#include <vector>

namespace brisklet {

// A second-order IIR section from Robert Bristow-Johnson's "Audio EQ Cookbook", run in double
// precision (direct form I keeps it quiet at low frequencies).
class Biquad {
 public:
  // Butterworth (Q = 1/√2) high-pass.
  static Biquad highPass(double frequency, double sampleRate);
  // Butterworth low-pass.
  static Biquad lowPass(double frequency, double sampleRate);
  // Peaking band of `gainDB` around `frequency`, `octaves` wide between its half-gain points.
  static Biquad peaking(double frequency, double octaves, double gainDB, double sampleRate);

  double process(double sample) {
    const double out = b0_ * sample + b1_ * x1_ + b2_ * x2_ - a1_ * y1_ - a2_ * y2_;
    x2_ = x1_;
    x1_ = sample;
    y2_ = y1_;
    y1_ = out;
    return out;
  }

 private:
  Biquad(double b0, double b1, double b2, double a0, double a1, double a2);
  double b0_, b1_, b2_, a1_, a2_;
  double x1_ = 0, x2_ = 0, y1_ = 0, y2_ = 0;
};

// The speech equaliser of crystal-clear sound: rumble below 80 Hz out, 250 Hz boom down 2 dB
// over an octave, 3.2 kHz presence up 3 dB over 1.2 octaves. Keeps its state from one block to
// the next, one set of filters per channel.
class SpeechEqualizer {
 public:
  SpeechEqualizer(double sampleRate, int channels);
  // Filters interleaved samples in place.
  void process(std::span<double> interleaved);

 private:
  std::vector<std::array<Biquad, 3>> channels_;
};

}  // namespace brisklet
