#include "media/AudioDenoiser.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <span>
#include <vector>

#include "media/ProgressThrottle.h"
#include "media/SoftLimiter.h"
#include "media/SpeechEqualizer.h"
#include "media/platform/MovieWriter.h"
#include "media/platform/PcmReader.h"
#include "media/platform/VoiceIsolator.h"
#include "platform/Cancellation.h"
#include "platform/OutputFile.h"

namespace brisklet {

AudioDenoiserError::AudioDenoiserError(Case which, const std::string& description)
    : std::runtime_error(description), case_(which) {}

AudioDenoiserError AudioDenoiserError::noAudioTrack() {
  return AudioDenoiserError(Case::noAudioTrack, "This video has no audio track.");
}

namespace AudioDenoiser {
namespace {

constexpr int kSampleRate = 48000;
constexpr int kBlockFrames = kSampleRate / 100;

// The chain after decoding: the noise filter (which lags), equaliser, gain and limiter. It hands on
// the processed sound with the filter's lag taken out, sample for sample in line with what
// went in.
class Chain {
 public:
  Chain(int channels, bool crystalClear, double gain)
      : channels_(channels),
        gain_(gain),
        limit_(crystalClear || gain > 1.001),
        block_(static_cast<size_t>(kBlockFrames * channels)),
        samples_(block_.size()) {
    if (!crystalClear) return;
    isolator_.emplace(channels);
    equalizer_.emplace(kSampleRate, channels);
    lagToSkip_ = VoiceIsolator::kDelayFrames;
  }

  std::span<float> block() { return block_; }

  // Processes the block (its first `frames` sample frames are sound, the rest silence) and
  // passes the sound it yields to `write`.
  template <typename Write>
  void process(int frames, Write&& write) {
    std::fill(block_.begin() + static_cast<std::ptrdiff_t>(frames * channels_), block_.end(), 0.0f);
    framesIn_ += frames;
    if (isolator_) isolator_->process(block_);
    const size_t skipped = std::min<size_t>(lagToSkip_, kBlockFrames);
    lagToSkip_ -= static_cast<int>(skipped);
    const size_t wanted = static_cast<size_t>(framesIn_ - framesOut_);
    const size_t count = std::min(kBlockFrames - skipped, wanted);
    if (count == 0) return;
    const std::span<double> samples(samples_.data(), count * static_cast<size_t>(channels_));
    std::copy_n(block_.begin() + static_cast<std::ptrdiff_t>(skipped * channels_), samples.size(),
                samples.begin());
    if (equalizer_) equalizer_->process(samples);
    if (limit_) applyGain(gain_, samples);
    out_.assign(samples.begin(), samples.end());
    framesOut_ += static_cast<std::int64_t>(count);
    write(std::span<const float>(out_));
  }

  // Sound that went in and has not come out yet (the noise filter's lag).
  bool owesSound() const { return framesOut_ < framesIn_; }

 private:
  int channels_;
  double gain_;
  bool limit_;
  std::optional<VoiceIsolator> isolator_;
  std::optional<SpeechEqualizer> equalizer_;
  int lagToSkip_ = 0;
  std::int64_t framesIn_ = 0;
  std::int64_t framesOut_ = 0;
  std::vector<float> block_;
  std::vector<double> samples_;
  std::vector<float> out_;
};

}  // namespace

void enhance(const std::filesystem::path& sourceVideo, const std::filesystem::path& output,
             bool crystalClear, double gain, const Progress& progress, std::stop_token stop) {
  if (!std::isfinite(gain)) throw std::invalid_argument("The volume boost must be a number.");
  const Asset source = Asset::open(sourceVideo);
  if (source.audioTracks().empty()) throw AudioDenoiserError::noAudioTrack();
  const int channels = std::clamp(source.audioTracks().front().channels, 1, 2);
  Chain chain(channels, crystalClear, std::clamp(gain, 1.0, 2.0));
  PcmReader reader(source, PcmFormat{.sampleRate = kSampleRate, .channels = channels});

  const std::string stage = crystalClear ? "Making the audio crystal clear\u2026" : "Boosting volume\u2026";
  const std::function<void(double)> report = [&](double fraction) { progress(stage, fraction); };
  ProgressThrottle throttle(report);
  report(0.0);
  const double expectedFrames = std::max(1.0, source.durationSec() * kSampleRate);

  OutputFile file(output);
  MovieWriter writer(file, std::nullopt,
                     AudioEncoding{.sampleRate = kSampleRate, .channels = channels, .bitRate = 192000});
  const auto write = [&writer](std::span<const float> samples) { writer.writeAudio(samples); };
  const std::span<float> block = chain.block();
  const auto blockBytes = std::as_writable_bytes(block);
  double framesRead = 0;
  for (;;) {
    throwIfCancelled(stop);
    const std::size_t bytes =
        reader.pull({reinterpret_cast<std::uint8_t*>(blockBytes.data()), blockBytes.size()});
    const int frames = static_cast<int>(bytes / (sizeof(float) * channels));
    if (frames > 0) chain.process(frames, write);
    framesRead += frames;
    throttle(std::min(framesRead / expectedFrames, 0.99));
    if (frames < kBlockFrames) break;
  }
  // The noise filter still holds the last few milliseconds: silence pushes them out.
  while (chain.owesSound()) chain.process(0, write);
  writer.finish();
  file.commit();
  throttle(1.0);
}

}  // namespace AudioDenoiser
}  // namespace brisklet
