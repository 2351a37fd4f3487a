#include "media/CompositionWriter.h"

#include <cmath>
#include <vector>

#include "media/ProgressThrottle.h"
#include "media/platform/Renderer.h"
#include "platform/Cancellation.h"
#include "platform/OutputFile.h"

namespace brisklet::CompositionWriter {
namespace {

// Sound is written this far ahead of the picture at most, so the file stays interleaved.
constexpr double kSoundAheadSec = 0.5;
constexpr std::size_t kSoundBlockFrames = 4800;
constexpr int kSoundBitRate = 192000;

}  // namespace

void write(const Composition& composition, const std::optional<VideoComposition>& videoComposition,
           const std::optional<AudioMix>& audioMix, const std::filesystem::path& destination,
           const VideoEncoding& video, bool indexAtFront,
           const std::function<void(double)>& progress, std::stop_token stop,
           const std::vector<Caption>& captions) {
  VideoRenderer pictures(composition, videoComposition);
  AudioRenderer sound(composition, audioMix);
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
        movie.writeAudio(std::span(block).first(frames * AudioRenderer::kChannels));
        soundWrittenSec += static_cast<double>(frames) / AudioRenderer::kSampleRate;
      }
    };
    std::int64_t frameNumber = 0;
    while (const std::optional<RenderedPicture> picture = pictures.next()) {
      throwIfCancelled(stop);
      writeSoundUntil(picture->timeSec + kSoundAheadSec);
      writeCaptionsUntil(picture->timeSec);
      const std::int64_t time =
          videoComposition
              ? frameNumber++
              : std::llround(picture->timeSec * kSourceTimingClock.den / kSourceTimingClock.num);
      movie.writeVideo(*picture->frame, time);
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
}

}  // namespace brisklet::CompositionWriter
