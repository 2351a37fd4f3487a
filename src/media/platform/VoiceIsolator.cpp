#include "media/platform/VoiceIsolator.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <opencv2/core.hpp>

namespace brisklet {
namespace {

constexpr std::size_t kBins = VoiceIsolator::kWindowLength / 2 + 1;
// The smoothing of the spectrum the minimum is taken of, per window (94 a second).
constexpr double kSmoothing = 0.8;
// The minimum is kept per 18 windows (0.19 s), and the noise is the lowest of the last eight.
constexpr int kSubWindowFrames = 18;
constexpr std::size_t kSubWindows = 8;
// A minimum of a smoothed spectrum sits below the mean noise power by about this much.
constexpr double kMinimumBias = 2.0;
// Decision-directed weighting of the last window's clean estimate against this window's.
constexpr double kPriorWeight = 0.96;
constexpr double kPriorFloor = 0.003;  // −25 dB
// The least a bin is weighed with (−15 dB), so the room keeps a trace of itself instead of
// turning into the warble of bins switching on and off.
constexpr double kGainFloor = 0.18;

double exponentialIntegral(double value) {  // E1
  return -std::expint(-value);
}

// Ephraim and Malah's log-spectral amplitude gain for a-priori SNR `prior` and a-posteriori
// SNR `posterior`.
double logSpectralGain(double prior, double posterior) {
  const double wiener = prior / (1 + prior);
  const double v = std::max(wiener * posterior, 1e-8);
  return std::min(1.0, wiener * std::exp(0.5 * exponentialIntegral(v)));
}

}  // namespace

VoiceIsolator::VoiceIsolator(int channels) : window_(kWindowLength), spectrum_(kWindowLength) {
  // The square root of a periodic Hann window, on the way in and on the way out: halves that
  // overlap by half sum back to exactly what went in wherever the gain is one.
  for (int index = 0; index < kWindowLength; ++index)
    window_[static_cast<std::size_t>(index)] = static_cast<float>(
        std::sqrt(0.5 - 0.5 * std::cos(2 * std::numbers::pi * index / kWindowLength)));
  state_.resize(static_cast<std::size_t>(channels));
  for (Channel& channel : state_) {
    channel.input.assign(kWindowLength, 0.0f);
    channel.overlap.assign(kWindowLength, 0.0f);
    channel.ready.assign(kHop, 0.0f);
    channel.smoothed.assign(kBins, 0.0);
    channel.minimum.assign(kBins, std::numeric_limits<double>::infinity());
    channel.pastMinima.assign(kSubWindows, channel.minimum);
    channel.noise.assign(kBins, 0.0);
    channel.lastClean.assign(kBins, 0.0);
  }
}

void VoiceIsolator::process(std::span<float> interleaved) {
  for (std::size_t index = 0; index < interleaved.size(); ++index) {
    Channel& channel = state_[index % state_.size()];
    const float in = interleaved[index];
    interleaved[index] = channel.ready[channel.readyAt++];
    channel.input[static_cast<std::size_t>(kHop + channel.fresh++)] = in;
    if (channel.fresh < kHop) continue;
    filterWindow(channel);
    std::copy(channel.input.begin() + kHop, channel.input.end(), channel.input.begin());
    channel.fresh = 0;
  }
}

void VoiceIsolator::filterWindow(Channel& channel) {
  for (std::size_t index = 0; index < window_.size(); ++index)
    spectrum_[index] = channel.input[index] * window_[index];
  cv::Mat spectrum(1, kWindowLength, CV_32F, spectrum_.data());
  cv::dft(spectrum, spectrum);  // packed: re0, re1, im1, …, re(n/2)

  // Where a bin's parts sit in the packed spectrum; the first and last bins have no imaginary part.
  const auto realAt = [](std::size_t bin) { return bin == 0 ? 0 : 2 * bin - 1; };
  const auto hasImaginary = [](std::size_t bin) { return bin != 0 && bin != kBins - 1; };
  const bool closesSubWindow = ++channel.framesInSubWindow == kSubWindowFrames;
  for (std::size_t bin = 0; bin < kBins; ++bin) {
    const double re = spectrum_[realAt(bin)];
    const double im = hasImaginary(bin) ? spectrum_[realAt(bin) + 1] : 0.0;
    const double observed = re * re + im * im;
    double& smoothed = channel.smoothed[bin];
    smoothed = channel.started ? kSmoothing * smoothed + (1 - kSmoothing) * observed : observed;
    channel.minimum[bin] = std::min(channel.minimum[bin], smoothed);
    double lowest = channel.minimum[bin];
    for (const std::vector<double>& past : channel.pastMinima) lowest = std::min(lowest, past[bin]);
    const double noise = std::max(kMinimumBias * lowest, 1e-20);

    const double posterior = observed / noise;
    const double prior = std::max(kPriorWeight * channel.lastClean[bin] / noise +
                                      (1 - kPriorWeight) * std::max(posterior - 1, 0.0),
                                  kPriorFloor);
    const double gain = std::max(logSpectralGain(prior, posterior), kGainFloor);
    channel.lastClean[bin] = gain * gain * observed;
    spectrum_[realAt(bin)] *= static_cast<float>(gain);
    if (hasImaginary(bin)) spectrum_[realAt(bin) + 1] *= static_cast<float>(gain);
  }
  channel.started = true;
  if (closesSubWindow) {
    channel.pastMinima[channel.nextSubWindow] = channel.minimum;
    channel.nextSubWindow = (channel.nextSubWindow + 1) % kSubWindows;
    std::fill(channel.minimum.begin(), channel.minimum.end(),
              std::numeric_limits<double>::infinity());
    channel.framesInSubWindow = 0;
  }

  cv::dft(spectrum, spectrum, cv::DFT_INVERSE | cv::DFT_SCALE | cv::DFT_REAL_OUTPUT);
  for (std::size_t index = 0; index < window_.size(); ++index)
    channel.overlap[index] += spectrum_[index] * window_[index];
  std::copy_n(channel.overlap.begin(), kHop, channel.ready.begin());
  std::copy(channel.overlap.begin() + kHop, channel.overlap.end(), channel.overlap.begin());
  std::fill(channel.overlap.begin() + kHop, channel.overlap.end(), 0.0f);
  channel.readyAt = 0;
}

}  // namespace brisklet
