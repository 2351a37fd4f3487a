#include "media/CompositionExporter.h"

#include <string>
#include <vector>

#include "media/CompositionWriter.h"
#include "media/platform/FrameRate.h"
#include "media/platform/ToneMapper.h"
#include "platform/Log.h"
#include "platform/NumberText.h"

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

std::string loudnessText(double lufs) { return fixedPoint(lufs, 1) + " LUFS"; }

void logLevels(const std::filesystem::path& destination, const CompositionWriter::SoundLevels& levels) {
  std::string line = "Exported " + destination.filename().string();
  if (!levels.writtenLufs) return logLine(line + ": no sound to measure.");
  line += ": loudness ";
  if (levels.measuredLufs) line += loudnessText(*levels.measuredLufs) + " measured, ";
  line += loudnessText(*levels.writtenLufs) + " written";
  if (levels.writtenTruePeakDb)
    line += ", true peak " + fixedPoint(*levels.writtenTruePeakDb, 1) + " dBTP";
  logLine(line + ".");
}

VideoEncoding videoEncodingFor(const CompositionResult& result, const VideoTrack& source,
                               const Encoding& encoding) {
  VideoEncoding video;
  video.encoderNames = {"libx264"};
  video.crf = encoding.crf;
  video.preset = encoding.preset;
  if (isHighDynamicRange(source.colourTransfer)) {
    // Its pictures arrive tone-mapped to standard range.
    video.colourPrimaries = AVCOL_PRI_BT709;
    video.colourTransfer = AVCOL_TRC_BT709;
    video.colourMatrix = AVCOL_SPC_BT709;
  } else {
    video.colourPrimaries = source.colourPrimaries;
    video.colourTransfer = source.colourTransfer;
    video.colourMatrix = source.colourMatrix;
  }
  if (result.videoComposition) {
    video.width = result.videoComposition->renderWidth;
    video.height = result.videoComposition->renderHeight;
    const MediaTime frame = result.videoComposition->frameDuration;
    video.frameRate = av_inv_q(AVRational{static_cast<int>(frame.value), frame.timescale});
  } else {
    // The source's own pictures: its size, its rate, turned by the player as it was.
    video.width = source.naturalWidth / 2 * 2;
    video.height = source.naturalHeight / 2 * 2;
    video.frameRate = standardFrameRate(source.framesPerSecond);
    video.timeBase = CompositionWriter::kSourceTimingClock;
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
  try {
    logLevels(destination,
              CompositionWriter::write(result.composition, result.videoComposition, result.audioMix,
                                       destination,
                                       videoEncodingFor(result, source.firstVideoTrack(), encoding),
                                       true, progress, std::move(stop), result.captions));
  } catch (const EncoderUnavailableError&) {
    throw CompositionExporterError::cannotCreateSession();
  }
}

}  // namespace CompositionExporter
}  // namespace brisklet
