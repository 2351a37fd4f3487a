#include "media/platform/LoudnessMeter.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <new>

namespace brisklet {

class LoudnessMeter::State {
 public:
  State(int sampleRate, int channels)
      : meter(ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(sampleRate),
                           EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK)),
        channels(channels) {
    if (meter == nullptr) throw std::bad_alloc();
  }
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State() { ebur128_destroy(&meter); }

  ebur128_state* meter;
  const int channels;
};

LoudnessMeter::LoudnessMeter(int sampleRate, int channels)
    : state_(std::make_unique<State>(sampleRate, channels)) {}
LoudnessMeter::LoudnessMeter(LoudnessMeter&&) noexcept = default;
LoudnessMeter& LoudnessMeter::operator=(LoudnessMeter&&) noexcept = default;
LoudnessMeter::~LoudnessMeter() = default;

void LoudnessMeter::add(std::span<const float> interleaved) {
  const std::size_t frames = interleaved.size() / static_cast<std::size_t>(state_->channels);
  if (frames > 0 &&
      ebur128_add_frames_float(state_->meter, interleaved.data(), frames) != EBUR128_SUCCESS)
    throw std::bad_alloc();
}

std::optional<double> LoudnessMeter::integratedLufs() const {
  double loudness = 0;
  if (ebur128_loudness_global(state_->meter, &loudness) != EBUR128_SUCCESS ||
      !std::isfinite(loudness))
    return std::nullopt;
  return loudness;
}

std::optional<double> LoudnessMeter::truePeakDb() const {
  double peak = 0;
  for (int channel = 0; channel < state_->channels; ++channel) {
    double channelPeak = 0;
    if (ebur128_true_peak(state_->meter, static_cast<unsigned>(channel), &channelPeak) ==
        EBUR128_SUCCESS)
      peak = std::max(peak, channelPeak);
  }
  if (peak <= 0) return std::nullopt;
  return 20 * std::log10(peak);
}

}  // namespace brisklet
