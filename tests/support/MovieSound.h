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

}  // namespace brisklet::testing
