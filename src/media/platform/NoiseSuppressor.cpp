#include "media/platform/NoiseSuppressor.h"

#include <webrtc/modules/audio_processing/include/audio_processing.h>

#include <stdexcept>
#include <vector>

namespace brisklet {

class NoiseSuppressor::Processor {
 public:
  Processor(webrtc::AudioProcessing* processing, int channels)
      : processing_(processing),
        stream_(kSampleRate, channels, false),
        planes_(static_cast<size_t>(channels), std::vector<float>(kFrameLength)) {
    for (std::vector<float>& plane : planes_) pointers_.push_back(plane.data());
  }

  webrtc::AudioProcessing& processing() { return *processing_; }

  void process(std::span<float> interleaved) {
    const size_t channels = planes_.size();
    if (interleaved.size() != channels * kFrameLength)
      throw std::logic_error("NoiseSuppressor::process takes one frame of 10 ms");
    for (size_t index = 0; index < interleaved.size(); ++index)
      planes_[index % channels][index / channels] = interleaved[index];
    // Only a wrong stream shape makes this fail, and the shape is fixed above.
    processing_->ProcessStream(pointers_.data(), stream_, stream_, pointers_.data());
    for (size_t index = 0; index < interleaved.size(); ++index)
      interleaved[index] = planes_[index % channels][index / channels];
  }

 private:
  std::unique_ptr<webrtc::AudioProcessing> processing_;
  webrtc::StreamConfig stream_;
  std::vector<std::vector<float>> planes_;
  std::vector<float*> pointers_;
};

std::optional<NoiseSuppressor> NoiseSuppressor::create(int channels) {
  if (channels < 1 || channels > 2) return std::nullopt;
  webrtc::Config config;
  webrtc::AudioProcessing* made = webrtc::AudioProcessing::Create(config);
  if (made == nullptr) return std::nullopt;
  auto processor = std::make_unique<Processor>(made, channels);
  webrtc::AudioProcessing& processing = processor->processing();
  const webrtc::ProcessingConfig shape{{webrtc::StreamConfig(kSampleRate, channels, false),
                                        webrtc::StreamConfig(kSampleRate, channels, false),
                                        webrtc::StreamConfig(kSampleRate, channels, false),
                                        webrtc::StreamConfig(kSampleRate, channels, false)}};
  if (processing.Initialize(shape) != webrtc::AudioProcessing::kNoError ||
      processing.noise_suppression()->Enable(true) != webrtc::AudioProcessing::kNoError ||
      // Measured on speech under pink noise: moderate leaves the voice cleanest; the higher
      // levels take more noise but more of the voice with it.
      processing.noise_suppression()->set_level(webrtc::NoiseSuppression::kModerate) !=
          webrtc::AudioProcessing::kNoError)
    return std::nullopt;
  return NoiseSuppressor(std::move(processor));
}

NoiseSuppressor::NoiseSuppressor(std::unique_ptr<Processor> processor)
    : processor_(std::move(processor)) {}
NoiseSuppressor::NoiseSuppressor(NoiseSuppressor&&) noexcept = default;
NoiseSuppressor& NoiseSuppressor::operator=(NoiseSuppressor&&) noexcept = default;
NoiseSuppressor::~NoiseSuppressor() = default;

void NoiseSuppressor::process(std::span<float> interleavedFrame) {
  processor_->process(interleavedFrame);
}

}  // namespace brisklet
