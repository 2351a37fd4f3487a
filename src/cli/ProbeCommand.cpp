#include <cmath>
#include <nlohmann/json.hpp>

#include "cli/CliCommand.h"
#include "media/platform/Asset.h"
#include "media/platform/MediaError.h"
#include "platform/TimeText.h"

namespace brisklet::cli {
namespace {

nlohmann::json describe(const Asset& asset) {
  nlohmann::json video = nullptr;
  if (!asset.videoTracks().empty()) {
    const VideoTrack& track = asset.videoTracks().front();
    video = {{"width", track.displayWidth()},
             {"height", track.displayHeight()},
             {"rotation", track.rotationDegrees},
             {"fps", std::round(track.framesPerSecond * 1000) / 1000},
             {"codec", track.codec}};
  }
  nlohmann::json audio = nullptr;
  if (!asset.audioTracks().empty()) {
    const AudioTrack& track = asset.audioTracks().front();
    audio = {
        {"sampleRate", track.sampleRate}, {"channels", track.channels}, {"codec", track.codec}};
  }
  return {{"durationSec", asset.durationSec()}, {"video", video}, {"audio", audio}};
}

void printText(const Asset& asset, std::ostream& out) {
  out << "duration  " << formatMinutesSeconds(asset.durationSec()) << " (" << asset.durationSec()
      << " s)\n";
  if (asset.videoTracks().empty()) {
    out << "video     none\n";
  } else {
    const VideoTrack& track = asset.videoTracks().front();
    out << "video     " << track.displayWidth() << "x" << track.displayHeight() << ", "
        << track.codec << ", " << std::round(track.framesPerSecond * 100) / 100 << " fps";
    if (track.rotationDegrees != 0) out << ", turned " << track.rotationDegrees << "°";
    out << "\n";
  }
  if (asset.audioTracks().empty()) {
    out << "audio     none\n";
  } else {
    const AudioTrack& track = asset.audioTracks().front();
    out << "audio     " << track.codec << ", " << track.sampleRate << " Hz, " << track.channels
        << (track.channels == 1 ? " channel" : " channels") << "\n";
  }
}

}  // namespace

Command probeCommand() {
  return {"probe", "probe FILE [--json]", "what Brisklet sees in a media file",
          [](Context& context, Arguments arguments) {
            const ParsedArguments parsed = parseArguments(arguments, {"--json"});
            if (parsed.positional.size() != 1) throw UsageError("probe takes one file");
            try {
              const Asset asset = Asset::open(parsed.positional[0]);
              if (parsed.has("--json"))
                context.out << describe(asset).dump(2) << "\n";
              else
                printText(asset, context.out);
            } catch (const MediaError& error) {
              throw CommandFailed(error.what());
            }
            return kSuccess;
          }};
}

}  // namespace brisklet::cli
