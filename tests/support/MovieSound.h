#pragma once

#include <cstdint>
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

}  // namespace brisklet::testing
