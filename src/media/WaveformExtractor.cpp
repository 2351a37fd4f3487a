#include "media/WaveformExtractor.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "media/platform/PcmReader.h"
#include "platform/Cancellation.h"

namespace brisklet::WaveformExtractor {
namespace {

constexpr int kSampleRate = 8000;

float envelopeValue(double sumOfSquares, long count) {
  return static_cast<float>(std::min(3.0 * std::sqrt(sumOfSquares / count), 1.0));
}

}  // namespace

std::vector<float> rmsEnvelope(const Asset& asset, double samplesPerSecond, std::stop_token stop) {
  if (asset.audioTracks().empty()) return {};
  if (!(samplesPerSecond > 0) || !std::isfinite(samplesPerSecond))
    throw std::invalid_argument("The waveform needs a positive number of values per second.");
  const long window = std::max(static_cast<long>(std::trunc(kSampleRate / samplesPerSecond)), 1L);

  PcmReader reader(asset, PcmFormat{kSampleRate, 1, PcmSampleFormat::int16});
  std::vector<float> envelope;
  envelope.reserve(static_cast<size_t>(asset.durationSec() * samplesPerSecond) + 2);
  double sum = 0;
  long count = 0;
  reader.read(
      [&](std::span<const std::uint8_t> bytes) {
        const size_t samples = bytes.size() / sizeof(std::int16_t);
        for (size_t index = 0; index < samples; ++index) {
          std::int16_t sample;
          std::memcpy(&sample, bytes.data() + index * sizeof sample, sizeof sample);
          const double x = sample / 32768.0;
          sum += x * x;
          if (++count == window) {
            envelope.push_back(envelopeValue(sum, window));
            sum = 0;
            count = 0;
          }
        }
      },
      stop);
  throwIfCancelled(stop);
  if (count > 0) envelope.push_back(envelopeValue(sum, count));
  return envelope;
}

}  // namespace brisklet::WaveformExtractor
