#include "media/SpeechEqualizer.h"

#include <cmath>
#include <numbers>

namespace brisklet {

Biquad::Biquad(double b0, double b1, double b2, double a0, double a1, double a2)
    : b0_(b0 / a0), b1_(b1 / a0), b2_(b2 / a0), a1_(a1 / a0), a2_(a2 / a0) {}

Biquad Biquad::highPass(double frequency, double sampleRate) {
  const double w0 = 2 * std::numbers::pi * frequency / sampleRate;
  const double alpha = std::sin(w0) / (2 * std::numbers::sqrt2 / 2);
  const double cosine = std::cos(w0);
  return Biquad((1 + cosine) / 2, -(1 + cosine), (1 + cosine) / 2, 1 + alpha, -2 * cosine,
                1 - alpha);
}

Biquad Biquad::lowPass(double frequency, double sampleRate) {
  const double w0 = 2 * std::numbers::pi * frequency / sampleRate;
  const double alpha = std::sin(w0) / (2 * std::numbers::sqrt2 / 2);
  const double cosine = std::cos(w0);
  return Biquad((1 - cosine) / 2, 1 - cosine, (1 - cosine) / 2, 1 + alpha, -2 * cosine, 1 - alpha);
}

Biquad Biquad::peaking(double frequency, double octaves, double gainDB, double sampleRate) {
  const double amplitude = std::pow(10.0, gainDB / 40);
  const double w0 = 2 * std::numbers::pi * frequency / sampleRate;
  const double alpha =
      std::sin(w0) * std::sinh(std::numbers::ln2 / 2 * octaves * w0 / std::sin(w0));
  const double cosine = std::cos(w0);
  return Biquad(1 + alpha * amplitude, -2 * cosine, 1 - alpha * amplitude, 1 + alpha / amplitude,
                -2 * cosine, 1 - alpha / amplitude);
}

SpeechEqualizer::SpeechEqualizer(double sampleRate, int channels)
    : channels_(static_cast<size_t>(channels),
                {Biquad::highPass(80, sampleRate), Biquad::peaking(250, 1.0, -2.0, sampleRate),
                 Biquad::peaking(3200, 1.2, 3.0, sampleRate)}) {}

void SpeechEqualizer::process(std::span<double> interleaved) {
  const size_t channelCount = channels_.size();
  for (size_t index = 0; index < interleaved.size(); ++index) {
    double sample = interleaved[index];
    for (Biquad& band : channels_[index % channelCount]) sample = band.process(sample);
    interleaved[index] = sample;
  }
}

}  // namespace brisklet
