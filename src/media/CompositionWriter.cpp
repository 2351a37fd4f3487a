#include "media/CompositionWriter.h"

#include <cmath>
#include <vector>

#include "media/ProgressThrottle.h"
#include "media/platform/AudioRenderer.h"
#include "media/platform/LoudnessMeter.h"
#include "media/platform/Renderer.h"
#include "platform/Cancellation.h"
#include "platform/OutputFile.h"

namespace brisklet::CompositionWriter {
namespace {

// Sound is written this far ahead of the picture at most, so the file stays interleaved.
constexpr double kSoundAheadSec = 0.5;
constexpr std::size_t kSoundBlockFrames = 4800;
constexpr int kSoundBitRate = 192000;
// However quiet the mix, it is raised by no more than this: beyond it, a take that is mostly
// room noise would come out as loud noise.
constexpr double kLargestLoudnessGainDb = 24;

}  // namespace

std::optional<double> measuredLoudness(const Composition& composition,
                                       const std::optional<AudioMix>& audioMix,
                                       const std::stop_token& stop) {
  AudioRenderer sound(composition, audioMix, 0, 1, false);
  LoudnessMeter meter(AudioRenderer::kSampleRate, AudioRenderer::kChannels);
  std::vector<float> block(kSoundBlockFrames * AudioRenderer::kChannels);
  while (const std::size_t frames = sound.render(block)) {
    throwIfCancelled(stop);
    meter.add(std::span(block).first(frames * AudioRenderer::kChannels));
  }
  return meter.integratedLufs();
}

double loudnessGain(std::optional<double> measuredLufs, std::optional<double> targetLufs) {
  if (!measuredLufs || !targetLufs) return 1;
  return std::pow(10.0, std::min(*targetLufs - *measuredLufs, kLargestLoudnessGainDb) / 20);
}

SoundLevels write(const Composition& composition,
                  const std::optional<VideoComposition>& videoComposition,
                  const std::optional<AudioMix>& audioMix, const std::filesystem::path& destination,
                  const VideoEncoding& video, bool indexAtFront,
                  const std::function<void(double)>& progress, std::stop_token stop,
                  const std::vector<Caption>& captions) {
  VideoRenderer pictures(composition, videoComposition);
  SoundLevels levels;
  const std::optional<double> target = audioMix ? audioMix->loudnessTargetLufs : std::nullopt;
  if (target) levels.measuredLufs = measuredLoudness(composition, audioMix, stop);
  AudioRenderer sound(composition, audioMix, 0, loudnessGain(levels.measuredLufs, target));
  LoudnessMeter written(AudioRenderer::kSampleRate, AudioRenderer::kChannels);
  std::optional<AudioEncoding> audio;
  if (sound.hasSound())
    audio = AudioEncoding{AudioRenderer::kSampleRate, AudioRenderer::kChannels, kSoundBitRate};
  ProgressThrottle throttle(progress);
  const double totalSec = composition.duration().seconds();
  OutputFile output(destination);
  {
    MovieWriter movie(output, video, audio, indexAtFront, !captions.empty());
    // Each line goes in as the picture reaches it, so the text track stays interleaved.
    auto nextCaption = captions.begin();
    const auto writeCaptionsUntil = [&](double untilSec) {
      for (; nextCaption != captions.end() && nextCaption->startSec <= untilSec; ++nextCaption)
        movie.writeCaption(nextCaption->startSec, nextCaption->endSec, nextCaption->text);
    };
    std::vector<float> block(kSoundBlockFrames * AudioRenderer::kChannels);
    double soundWrittenSec = 0;
    const auto writeSoundUntil = [&](double untilSec) {
      while (audio && soundWrittenSec < untilSec) {
        const std::size_t frames = sound.render(block);
        if (frames == 0) return;
        const auto samples = std::span(block).first(frames * AudioRenderer::kChannels);
        written.add(samples);
        movie.writeAudio(samples);
        soundWrittenSec += static_cast<double>(frames) / AudioRenderer::kSampleRate;
      }
    };
    const auto onSourceClock = [](double seconds) {
      return std::llround(seconds * kSourceTimingClock.den / kSourceTimingClock.num);
    };
    std::int64_t frameNumber = 0;
    while (const std::optional<RenderedPicture> picture = pictures.next()) {
      throwIfCancelled(stop);
      writeSoundUntil(picture->timeSec + kSoundAheadSec);
      writeCaptionsUntil(picture->timeSec);
      if (videoComposition)
        movie.writeVideo(*picture->frame, frameNumber++, 1);
      else
        movie.writeVideo(*picture->frame, onSourceClock(picture->timeSec),
                         std::max<std::int64_t>(1, onSourceClock(picture->durationSec)));
      throttle(totalSec > 0 ? picture->timeSec / totalSec : 1.0);
    }
    writeSoundUntil(INFINITY);
    writeCaptionsUntil(INFINITY);
    movie.finish();
  }
  // Stopped while the index was being written: the movie is whole, but it was not wanted.
  throwIfCancelled(stop);
  output.commit();
  throttle(1.0);
  levels.writtenLufs = written.integratedLufs();
  levels.writtenTruePeakDb = written.truePeakDb();
  return levels;
}

}  // namespace brisklet::CompositionWriter
