#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <filesystem>
#include <span>
#include <vector>

#include "media/platform/Asset.h"
#include "media/platform/PcmReader.h"

namespace brisklet::testing {

// A movie's whole sound as 48 kHz interleaved stereo floats, for measuring what was written.
inline std::vector<float> soundOf(const std::filesystem::path& movie) {
  std::vector<float> samples;
  PcmReader(Asset::open(movie), PcmFormat{}).read([&](std::span<const std::uint8_t> bytes) {
    const auto* values = reinterpret_cast<const float*>(bytes.data());
    samples.insert(samples.end(), values, values + bytes.size() / sizeof(float));
  });
  return samples;
}

// Amplitude of a `hertz` tone in the first channel of `stereo` (as soundOf gives it) over
// [fromSec, fromSec + windowSec).
inline double toneLevel(const std::vector<float>& stereo, double hertz, double fromSec,
                        double windowSec = 0.05) {
  const auto first = static_cast<std::size_t>(std::max(fromSec, 0.0) * 48000);
  const auto count = static_cast<std::size_t>(windowSec * 48000);
  double real = 0, imaginary = 0;
  for (std::size_t index = 0; index < count && 2 * (first + index) < stereo.size(); ++index) {
    const double phase = 2 * std::numbers::pi * hertz * static_cast<double>(index) / 48000;
    real += stereo[2 * (first + index)] * std::cos(phase);
    imaginary += stereo[2 * (first + index)] * std::sin(phase);
  }
  return 2 * std::hypot(real, imaginary) / static_cast<double>(count);
}

// RMS of the first channel in [fromSec, toSec).
inline double loudness(const std::vector<float>& stereo, double fromSec, double toSec) {
  const auto first = static_cast<std::size_t>(fromSec * 48000);
  const auto end = std::min(static_cast<std::size_t>(toSec * 48000), stereo.size() / 2);
  double sum = 0;
  for (std::size_t index = first; index < end; ++index) sum += stereo[2 * index] * stereo[2 * index];
  return end > first ? std::sqrt(sum / static_cast<double>(end - first)) : 0;
}

// The first channel of `stereo` high-passed at 4 kHz (two second-order Butterworth sections):
// what is left of a low tone there is the splatter of a click.
inline std::vector<double> highBand(const std::vector<float>& stereo) {
  const double omega = 2 * std::numbers::pi * 4000 / 48000;
  const double alpha = std::sin(omega) / (2 * std::sqrt(0.5));
  const double cosine = std::cos(omega);
  const double a0 = 1 + alpha;
  const double b0 = (1 + cosine) / 2 / a0, b1 = -(1 + cosine) / a0, b2 = b0;
  const double a1 = -2 * cosine / a0, a2 = (1 - alpha) / a0;
  std::vector<double> band(stereo.size() / 2);
  for (std::size_t index = 0; index < band.size(); ++index) band[index] = stereo[2 * index];
  for (int section = 0; section < 2; ++section) {
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (double& sample : band) {
      const double y = b0 * sample + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
      x2 = x1, x1 = sample, y2 = y1, y1 = y;
      sample = y;
    }
  }
  return band;
}

// The RMS of `band` over [fromSec, fromSec + windowSec).
inline double bandLevel(const std::vector<double>& band, double fromSec, double windowSec = 0.01) {
  const auto first = static_cast<std::size_t>(std::max(fromSec, 0.0) * 48000);
  const auto count = static_cast<std::size_t>(windowSec * 48000);
  double energy = 0;
  for (std::size_t index = first; index < first + count && index < band.size(); ++index)
    energy += band[index] * band[index];
  return std::sqrt(energy / static_cast<double>(count));
}

}  // namespace brisklet::testing
