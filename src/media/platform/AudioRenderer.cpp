#include "media/platform/AudioRenderer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <numbers>
#include <vector>

#include "media/platform/Asset.h"
#include "media/platform/MediaError.h"
#include "media/platform/PcmReader.h"
#include "media/platform/TruePeakLimiter.h"

namespace brisklet {
namespace {

constexpr std::int64_t samplesOf(double seconds) {
  return static_cast<std::int64_t>(seconds * AudioRenderer::kSampleRate +
                                   (seconds < 0 ? -0.5 : 0.5));
}

// Every join crossfades over this; an edge with nothing beyond it fades over half of it.
constexpr std::int64_t kJoinFadeSamples = samplesOf(0.008);
constexpr std::int64_t kEdgeFadeSamples = kJoinFadeSamples / 2;
// The ceiling the limiter holds the mix to sits under −1 dBTP, leaving room for the AAC
// encoder's own overshoot.
constexpr double kLimiterCeiling = 0.84;  // −1.5 dBTP
constexpr double kQuarterTurn = std::numbers::pi / 2;

// How far a fade over `length` samples has come at its `index`th: 0 to 1 along a raised
// cosine, which starts and ends without a corner, so the fade itself adds no click.
double fadeProgress(std::int64_t index, std::int64_t length) {
  const double along = (static_cast<double>(index) + 0.5) / static_cast<double>(length);
  return 0.5 - 0.5 * std::cos(2 * kQuarterTurn * std::clamp(along, 0.0, 1.0));
}

// A stretch of one sound track as the mixer plays it: read a little past the insert where a
// join fades across, faded in and out (a sine and a cosine of the fade's progress, so a
// crossfade keeps its power) over windows in output samples. An empty window is no fade.
struct PlayedInsert {
  const TrackInsert* insert = nullptr;
  std::int64_t readFrom = 0;
  std::int64_t readTo = 0;
  double readFromSourceSec = 0;
  std::int64_t fadeInFrom = 0, fadeInTo = 0;
  std::int64_t fadeOutFrom = 0, fadeOutTo = 0;

  double gainAt(std::int64_t sample) const {
    double gain = 1;
    if (sample < fadeInTo)
      gain *= std::sin(kQuarterTurn * fadeProgress(sample - fadeInFrom, fadeInTo - fadeInFrom));
    if (sample >= fadeOutFrom && fadeOutTo > fadeOutFrom)
      gain *= std::cos(kQuarterTurn * fadeProgress(sample - fadeOutFrom, fadeOutTo - fadeOutFrom));
    return gain;
  }
};

// Sets the fades where `earlier` ends and `later` starts at output sample `join`. Where both
// sources reach across the join, the earlier one plays on and the later one starts early so
// the crossfade is centred on it (or as near as the sources allow); otherwise the earlier one
// fades out just before the join and the later one in just after it.
void crossfade(PlayedInsert& earlier, PlayedInsert& later, std::int64_t join,
               double earlierSoundLengthSec) {
  const std::int64_t laterReachesBack =
      std::min(kJoinFadeSamples, samplesOf(later.readFromSourceSec));
  const std::int64_t earlierReachesOn = std::clamp<std::int64_t>(
      samplesOf(earlierSoundLengthSec - earlier.insert->source.end().seconds()), 0,
      kJoinFadeSamples);
  const std::int64_t fewestBack = kJoinFadeSamples - earlierReachesOn;
  if (fewestBack > laterReachesBack) {
    earlier.fadeOutFrom = join - kEdgeFadeSamples;
    earlier.fadeOutTo = join;
    later.fadeInFrom = join;
    later.fadeInTo = join + kEdgeFadeSamples;
    return;
  }
  const std::int64_t lead = std::clamp(kJoinFadeSamples / 2, fewestBack, laterReachesBack);
  const std::int64_t from = join - lead;
  const std::int64_t to = from + kJoinFadeSamples;
  earlier.fadeOutFrom = from;
  earlier.fadeOutTo = earlier.readTo = to;
  later.fadeInFrom = later.readFrom = from;
  later.fadeInTo = to;
  later.readFromSourceSec -= static_cast<double>(lead) / AudioRenderer::kSampleRate;
}

// Where each insert of a track is read and faded. Inserts that continue each other's source
// without a break play as one; every other edge fades.
std::vector<PlayedInsert> playedInserts(
    const std::vector<TrackInsert>& inserts,
    const std::function<double(const std::filesystem::path&)>& soundLengthSec) {
  std::vector<PlayedInsert> played;
  played.reserve(inserts.size());
  for (const TrackInsert& insert : inserts) {
    PlayedInsert item;
    item.insert = &insert;
    item.readFrom = samplesOf(insert.outputStart.seconds());
    item.readTo = item.readFrom + samplesOf(insert.source.duration.seconds());
    item.readFromSourceSec = insert.source.start.seconds();
    item.fadeInFrom = item.readFrom;
    item.fadeInTo = std::min(item.readTo, item.readFrom + kEdgeFadeSamples);
    item.fadeOutFrom = std::max(item.readFrom, item.readTo - kEdgeFadeSamples);
    item.fadeOutTo = item.readTo;
    played.push_back(item);
  }
  for (std::size_t index = 1; index < played.size(); ++index) {
    PlayedInsert& earlier = played[index - 1];
    PlayedInsert& later = played[index];
    const std::int64_t join = later.readFrom;
    if (std::llabs(earlier.readTo - join) > 1) continue;
    const TrackInsert& before = *earlier.insert;
    const bool seamless =
        before.file == later.insert->file && std::llabs(samplesOf(before.source.end().seconds()) -
                                                        samplesOf(later.readFromSourceSec)) <= 1;
    if (seamless) {
      earlier.fadeOutFrom = earlier.fadeOutTo = earlier.readTo;
      later.fadeInFrom = later.fadeInTo = later.readFrom;
    } else {
      crossfade(earlier, later, join, soundLengthSec(before.file));
    }
  }
  return played;
}

}  // namespace

class AudioRenderer::Mixer {
 public:
  Mixer(const Composition& composition, const std::optional<AudioMix>& audioMix, double startSec,
        double gain, bool limited)
      : position_(std::llround(std::max(0.0, startSec) * kSampleRate)),
        end_(std::llround(composition.duration().seconds() * kSampleRate)),
        gain_(gain) {
    if (limited) limiter_.emplace(kSampleRate, kChannels, kLimiterCeiling);
    const AudioMix& settings = audioMix ? *audioMix : AudioMix{};
    fadeInSamples_ = samplesOf(settings.fadeInSec);
    fadeOutSamples_ = samplesOf(settings.fadeOutSec);
    const auto automationOf = [&](MixedTrack which) -> const VolumeAutomation* {
      if (!audioMix) return nullptr;
      for (const VolumeAutomation& input : audioMix->inputs)
        if (input.track == which) return &input;
      return nullptr;
    };
    // A file that cannot be opened fails when its sound is needed, as a render's failure.
    const auto soundLengthSec = [this](const std::filesystem::path& file) {
      try {
        return assetOf(file).durationSec();
      } catch (const MediaError&) {
        return 0.0;
      }
    };
    const auto add = [&](const std::vector<TrackInsert>& inserts,
                         const VolumeAutomation* automation) {
      Track track;
      track.played = playedInserts(inserts, soundLengthSec);
      track.automation = automation;
      tracks_.push_back(std::move(track));
    };
    if (composition.mainAudio) add(*composition.mainAudio, automationOf(MixedTrack::mainAudio));
    if (composition.narration) add(*composition.narration, nullptr);
    if (composition.music) add(*composition.music, automationOf(MixedTrack::music));
  }

  bool hasSound() const { return !tracks_.empty(); }
  void setGain(double gain) { gain_ = gain; }

  void seek(double outputSec) {
    position_ = std::llround(std::max(0.0, outputSec) * kSampleRate);
    for (Track& track : tracks_)
      for (Reading& reading : track.readings) reading.playing = nullptr;
    primed_ = false;
  }

  std::size_t render(std::span<float> interleaved) {
    const auto frames = static_cast<std::size_t>(std::clamp<std::int64_t>(
        end_ - position_, 0, static_cast<std::int64_t>(interleaved.size() / kChannels)));
    const std::span<float> out = interleaved.first(frames * kChannels);
    if (!primed_) prime();
    mix(mixedUntil_, out);
    mixedUntil_ += static_cast<std::int64_t>(frames);
    if (limiter_) limiter_->process(out);
    position_ += static_cast<std::int64_t>(frames);
    return frames;
  }

 private:
  // A reader open on one played insert, and the output sample it gives next.
  struct Reading {
    const PlayedInsert* playing = nullptr;
    std::optional<PcmReader> reader;
    std::int64_t nextSample = 0;
    std::uint64_t lastUse = 0;
  };

  struct Track {
    std::vector<PlayedInsert> played;
    const VolumeAutomation* automation = nullptr;
    // Two, so that both sides of a crossfade keep their readers across blocks.
    std::array<Reading, 2> readings;
  };

  // The limiter runs behind the mix: it is given the sound from the position on before any
  // comes out, and what it gives back first is dropped. Done at the first render after a start
  // or a seek, so that a source that cannot be read fails a render, as it always has.
  void prime() {
    primed_ = true;
    mixedUntil_ = position_;
    if (!limiter_) return;
    limiter_->reset();
    primer_.assign(limiter_->latency() * kChannels, 0.0f);
    mix(mixedUntil_, primer_);
    mixedUntil_ += static_cast<std::int64_t>(limiter_->latency());
    limiter_->process(primer_);
  }

  const Asset& assetOf(const std::filesystem::path& file) {
    auto found = assets_.find(file);
    if (found == assets_.end()) found = assets_.emplace(file, Asset::open(file)).first;
    return found->second;
  }

  // The master sum from output sample `from` on: every track, then the gain and the fades at
  // the output's two ends. Past the end it is silence.
  void mix(std::int64_t from, std::span<float> out) {
    std::fill(out.begin(), out.end(), 0.0f);
    const std::int64_t to =
        std::min(end_, from + static_cast<std::int64_t>(out.size() / kChannels));
    if (to <= from) return;
    const std::span<float> sounding = out.first(static_cast<std::size_t>(to - from) * kChannels);
    for (Track& track : tracks_) mixIn(track, from, sounding);
    for (std::int64_t sample = from; sample < to; ++sample) {
      double gain = gain_;
      if (sample < fadeInSamples_) gain *= fadeProgress(sample, fadeInSamples_);
      if (end_ - sample <= fadeOutSamples_)
        gain *= fadeProgress(end_ - sample - 1, fadeOutSamples_);
      float* frame = out.data() + (sample - from) * kChannels;
      for (int channel = 0; channel < kChannels; ++channel)
        frame[channel] = static_cast<float>(frame[channel] * gain);
    }
  }

  Reading& readingFor(Track& track, const PlayedInsert& played, std::int64_t low) {
    ++uses_;
    for (Reading& reading : track.readings)
      if (reading.playing == &played && reading.nextSample == low) {
        reading.lastUse = uses_;
        return reading;
      }
    Reading& oldest = std::min_element(
        track.readings.begin(), track.readings.end(),
        [](const Reading& a, const Reading& b) { return a.lastUse < b.lastUse; })[0];
    oldest.reader.emplace(
        assetOf(played.insert->file), PcmFormat{kSampleRate, kChannels, PcmSampleFormat::float32},
        played.readFromSourceSec + static_cast<double>(low - played.readFrom) / kSampleRate);
    oldest.playing = &played;
    oldest.lastUse = uses_;
    return oldest;
  }

  void mixIn(Track& track, std::int64_t from, std::span<float> out) {
    const std::int64_t to = from + static_cast<std::int64_t>(out.size() / kChannels);
    for (const PlayedInsert& played : track.played) {
      const std::int64_t low = std::max(played.readFrom, from);
      const std::int64_t high = std::min(played.readTo, to);
      if (low >= high) continue;
      Reading& reading = readingFor(track, played, low);
      const auto count = static_cast<std::size_t>(high - low);
      scratch_.assign(count * kChannels, 0.0f);
      // Where the sound ends early, the rest stays silent.
      reading.reader->pull(std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(scratch_.data()),
                                                   scratch_.size() * sizeof(float)));
      reading.nextSample = high;
      float* destination = out.data() + (low - from) * kChannels;
      for (std::size_t frame = 0; frame < count; ++frame) {
        const std::int64_t sample = low + static_cast<std::int64_t>(frame);
        double volume = played.gainAt(sample);
        if (track.automation)
          volume *= volumeAt(*track.automation, static_cast<double>(sample) / kSampleRate);
        for (int channel = 0; channel < kChannels; ++channel)
          destination[frame * kChannels + channel] +=
              static_cast<float>(scratch_[frame * kChannels + channel] * volume);
      }
    }
  }

  std::int64_t position_;
  const std::int64_t end_;
  double gain_;
  std::int64_t fadeInSamples_ = 0;
  std::int64_t fadeOutSamples_ = 0;
  // The output sample the next mixed one lies at, latency() ahead of position_.
  std::int64_t mixedUntil_ = 0;
  std::optional<TruePeakLimiter> limiter_;
  bool primed_ = false;
  std::vector<float> primer_;
  std::vector<Track> tracks_;
  std::map<std::filesystem::path, Asset> assets_;
  std::vector<float> scratch_;
  std::uint64_t uses_ = 0;
};

AudioRenderer::AudioRenderer(const Composition& composition,
                             const std::optional<AudioMix>& audioMix, double startSec, double gain,
                             bool limited)
    : mixer_(std::make_unique<Mixer>(composition, audioMix, startSec, gain, limited)) {}
AudioRenderer::AudioRenderer(AudioRenderer&&) noexcept = default;
AudioRenderer& AudioRenderer::operator=(AudioRenderer&&) noexcept = default;
AudioRenderer::~AudioRenderer() = default;

bool AudioRenderer::hasSound() const { return mixer_->hasSound(); }
std::size_t AudioRenderer::render(std::span<float> interleaved) {
  return mixer_->render(interleaved);
}
void AudioRenderer::seek(double outputSec) { mixer_->seek(outputSec); }
void AudioRenderer::setGain(double gain) { mixer_->setGain(gain); }

}  // namespace brisklet
