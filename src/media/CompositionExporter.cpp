#include "media/CompositionExporter.h"

#include <cmath>
#include <vector>

#include "media/ProgressThrottle.h"
#include "media/platform/MovieWriter.h"
#include "media/platform/Renderer.h"
#include "platform/Cancellation.h"

namespace brisklet {

CompositionExporterError::CompositionExporterError(Case which, const std::string& description)
    : std::runtime_error(description), case_(which) {}

CompositionExporterError CompositionExporterError::cannotCreateSession() {
  return CompositionExporterError(Case::cannotCreateSession,
                                  "Could not create an export session for this video.");
}

CompositionExporterError CompositionExporterError::nothingToExport() {
  return CompositionExporterError(Case::nothingToExport,
                                  "There is nothing to export: every segment is dropped.");
}

namespace CompositionExporter {
namespace {

// Pictures that keep the source's timing are stamped on this clock.
constexpr AVRational kSourceTimingClock{1, 90000};
// Sound is written this far ahead of the picture at most, so the file stays interleaved.
constexpr double kSoundAheadSec = 0.5;

VideoEncoding videoEncodingFor(const CompositionResult& result, const VideoTrack& source,
                               const Encoding& encoding) {
  VideoEncoding video;
  video.encoderNames = {"libx264"};
  video.crf = encoding.crf;
  video.preset = encoding.preset;
  video.colourPrimaries = source.colourPrimaries;
  video.colourTransfer = source.colourTransfer;
  video.colourMatrix = source.colourMatrix;
  if (result.videoComposition) {
    video.width = result.videoComposition->renderWidth;
    video.height = result.videoComposition->renderHeight;
    video.framesPerSecond = static_cast<int>(
        std::lround(1.0 / result.videoComposition->frameDuration.seconds()));
  } else {
    // The source's own pictures: its size, its rate, turned by the player as it was.
    video.width = source.naturalWidth / 2 * 2;
    video.height = source.naturalHeight / 2 * 2;
    video.framesPerSecond =
        std::max(1, static_cast<int>(std::lround(source.framesPerSecond > 0 ? source.framesPerSecond : 30)));
    video.timeBase = kSourceTimingClock;
    video.rotationDegrees = source.rotationDegrees;
  }
  return video;
}

}  // namespace

void exportMovie(const EditPlan& plan, const Asset& source, const CompositionBuilder::Inputs& inputs,
                 const std::filesystem::path& destination,
                 const std::function<void(double)>& progress, std::stop_token stop,
                 const Encoding& encoding) {
  const CompositionResult result = CompositionBuilder::build(plan, source, inputs);
  if (result.mappings.empty()) throw CompositionExporterError::nothingToExport();
  std::error_code ignored;
  std::filesystem::remove(destination, ignored);

  VideoRenderer pictures(result.composition, result.videoComposition);
  AudioRenderer sound(result.composition, result.audioMix);
  const VideoEncoding video =
      videoEncodingFor(result, source.firstVideoTrack(), encoding);
  std::optional<AudioEncoding> audio;
  if (sound.hasSound()) audio = AudioEncoding{AudioRenderer::kSampleRate, AudioRenderer::kChannels, 192000};

  ProgressThrottle throttle(progress);
  const double totalSec = result.composition.duration().seconds();
  try {
    std::optional<MovieWriter> movie;
    try {
      movie.emplace(destination, video, audio, true);
    } catch (const EncoderUnavailableError&) {
      throw CompositionExporterError::cannotCreateSession();
    }
    std::vector<float> block(4800 * AudioRenderer::kChannels);
    double soundWrittenSec = 0;
    const auto writeSoundUntil = [&](double untilSec) {
      while (audio && soundWrittenSec < untilSec) {
        const std::size_t frames = sound.render(block);
        if (frames == 0) return;
        movie->writeAudio(std::span(block).first(frames * AudioRenderer::kChannels));
        soundWrittenSec += static_cast<double>(frames) / AudioRenderer::kSampleRate;
      }
    };
    std::int64_t frameNumber = 0;
    while (const std::optional<RenderedPicture> picture = pictures.next()) {
      throwIfCancelled(stop);
      writeSoundUntil(picture->timeSec + kSoundAheadSec);
      const std::int64_t time =
          result.videoComposition
              ? frameNumber++
              : std::llround(picture->timeSec * kSourceTimingClock.den / kSourceTimingClock.num);
      movie->writeVideo(*picture->frame, time);
      throttle(totalSec > 0 ? picture->timeSec / totalSec : 1.0);
    }
    writeSoundUntil(INFINITY);
    movie->finish();
  } catch (...) {
    std::filesystem::remove(destination, ignored);
    throw;
  }
  throttle(1.0);
}

}  // namespace CompositionExporter
}  // namespace brisklet
