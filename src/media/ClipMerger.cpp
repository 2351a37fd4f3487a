#include "media/ClipMerger.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <tuple>

#include "media/CompositionWriter.h"
#include "media/EditableVideo.h"
#include "media/ProgressThrottle.h"
#include "media/platform/Asset.h"
#include "media/platform/FrameRate.h"
#include "media/platform/StreamJoiner.h"
#include "platform/Cancellation.h"

namespace brisklet {

ClipMergerError::ClipMergerError(Case which, const std::string& description)
    : std::runtime_error(description), case_(which) {}

ClipMergerError ClipMergerError::noClips() {
  return ClipMergerError(Case::noClips, "No video clips to merge.");
}

ClipMergerError ClipMergerError::noVideoTrack(const std::string& fileName) {
  return ClipMergerError(Case::noVideoTrack, "\"" + fileName + "\" has no video track.");
}

ClipMergerError ClipMergerError::cannotCreateSession() {
  return ClipMergerError(Case::cannotCreateSession,
                         "Could not create an export session for merging.");
}

namespace ClipMerger {
namespace {

std::vector<Asset> openClips(const std::vector<std::filesystem::path>& clips) {
  std::vector<Asset> assets;
  for (const std::filesystem::path& clip : clips) {
    Asset asset = Asset::open(clip);
    if (asset.videoTracks().empty())
      throw ClipMergerError::noVideoTrack(clip.filename().string());
    // A photo or a clip without one decodable picture would merge as seconds of black.
    requireEditableVideo(asset);
    assets.push_back(std::move(asset));
  }
  return assets;
}

// Shows the track's picture turned upright, whole and centred in the frame, with bars on the
// short sides.
AffineTransform fitting(const VideoTrack& track, int frameWidth, int frameHeight) {
  const AffineTransform upright =
      AffineTransform::rotation(track.rotationDegrees, track.naturalWidth, track.naturalHeight);
  const Box turned = boundingBox(upright, track.naturalWidth, track.naturalHeight);
  const double scale = std::min(frameWidth / turned.width, frameHeight / turned.height);
  return upright.then(AffineTransform::translation(-turned.x, -turned.y))
      .then(AffineTransform::scale(scale))
      .then(AffineTransform::translation((frameWidth - turned.width * scale) / 2,
                                         (frameHeight - turned.height * scale) / 2));
}

// The first clip's shape (orientation and aspect) at the size of the largest clip: its long side
// is the longest long side among the clips, at most 4K's, both sides even. Sized after the first
// clip alone, a small phone clip first would shrink every camera clip after it for good.
std::pair<int, int> frameSize(const std::vector<Asset>& clips) {
  constexpr int kLongestSide = 3840;
  int longest = 0;
  for (const Asset& clip : clips) {
    const VideoTrack& track = clip.firstVideoTrack();
    longest = std::max({longest, track.displayWidth(), track.displayHeight()});
  }
  const VideoTrack& first = clips.front().firstVideoTrack();
  const double scale = std::min(longest, kLongestSide) /
                       static_cast<double>(std::max(first.displayWidth(), first.displayHeight()));
  const auto even = [](double side) { return std::max(2, static_cast<int>(side / 2) * 2); };
  return {even(first.displayWidth() * scale + 1e-6), even(first.displayHeight() * scale + 1e-6)};
}

// The fastest clip's standard rate: no clip of the day loses motion.
AVRational mergedFrameRate(const std::vector<Asset>& clips) {
  AVRational fastest = standardFrameRate(clips.front().firstVideoTrack().framesPerSecond);
  for (const Asset& clip : clips) {
    const AVRational rate = standardFrameRate(clip.firstVideoTrack().framesPerSecond);
    if (av_cmp_q(rate, fastest) > 0) fastest = rate;
  }
  return fastest;
}

// The clips end to end, each fitted into the frame; sound where a clip has it, silence of its
// length where it has none, no sound track when no clip has sound.
std::pair<Composition, VideoComposition> endToEnd(const std::vector<Asset>& clips) {
  VideoComposition layout;
  std::tie(layout.renderWidth, layout.renderHeight) = frameSize(clips);
  layout.frameDuration = frameDurationAt(mergedFrameRate(clips));
  Composition composition;
  MediaTime cursor;
  for (const Asset& clip : clips) {
    const VideoTrack& track = clip.firstVideoTrack();
    const MediaTime length = MediaTime::fromSeconds(clip.durationSec());
    composition.video.push_back({clip.file(), track.streamIndex, {MediaTime{}, length}, cursor});
    if (!clip.audioTracks().empty()) {
      if (!composition.mainAudio) composition.mainAudio.emplace();
      composition.mainAudio->push_back(
          {clip.file(), clip.audioTracks().front().streamIndex, {MediaTime{}, length}, cursor});
    }
    layout.instructions.push_back(
        {{cursor, length}, fitting(track, layout.renderWidth, layout.renderHeight), {}});
    cursor.value += length.value;
  }
  return {std::move(composition), std::move(layout)};
}

void reencode(const std::vector<Asset>& clips, const std::filesystem::path& output,
              const std::function<void(double)>& progress, std::stop_token stop,
              const Encoding& encoding) {
  const auto [composition, layout] = endToEnd(clips);
  VideoEncoding video;
  video.encoderNames = encoding.videoEncoders;
  video.width = layout.renderWidth;
  video.height = layout.renderHeight;
  video.frameRate = mergedFrameRate(clips);
  video.crf = encoding.crf;
  video.preset = encoding.preset;
  try {
    CompositionWriter::write(composition, layout, std::nullopt, output, video, false, progress,
                             std::move(stop));
  } catch (const EncoderUnavailableError&) {
    throw ClipMergerError::cannotCreateSession();
  }
}

std::optional<Timestamp> birthTime(const std::filesystem::path& file) {
  struct statx status {};
  if (statx(AT_FDCWD, file.c_str(), 0, STATX_BTIME, &status) != 0) return std::nullopt;
  if ((status.stx_mask & STATX_BTIME) == 0) return std::nullopt;  // the file system keeps none
  return Timestamp(std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::seconds(status.stx_btime.tv_sec) +
      std::chrono::nanoseconds(status.stx_btime.tv_nsec)));
}

}  // namespace

std::optional<Timestamp> shootingTime(const std::filesystem::path& clip) {
  try {
    const Asset asset = Asset::open(clip);
    if (asset.creationTimeText())
      if (const auto recorded = parseIso8601(*asset.creationTimeText())) return recorded;
  } catch (const std::exception&) {
    // Not a readable movie: the merge will say so; for ordering, the file system may know.
  }
  return birthTime(clip);
}

std::vector<std::filesystem::path> sortedByCreationDate(std::vector<std::filesystem::path> clips) {
  std::vector<std::pair<std::optional<Timestamp>, std::filesystem::path>> dated;
  for (std::filesystem::path& clip : clips) dated.emplace_back(shootingTime(clip), std::move(clip));
  // std::optional orders "none" before any time: the distant past.
  std::stable_sort(dated.begin(), dated.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::filesystem::path> sorted;
  for (auto& [time, clip] : dated) sorted.push_back(std::move(clip));
  return sorted;
}

void merge(const std::vector<std::filesystem::path>& clips, const std::filesystem::path& output,
           const std::function<void(double)>& progress, std::stop_token stop,
           const Encoding& encoding) {
  if (clips.empty()) throw ClipMergerError::noClips();
  const std::vector<Asset> assets = openClips(clips);
  if (canJoinWithoutReencoding(assets)) {
    try {
      OutputFile joined(output);
      ProgressThrottle throttle(progress);
      joinWithoutReencoding(assets, joined, [&](double fraction) {
        throwIfCancelled(stop);
        throttle(fraction);
      });
      throwIfCancelled(stop);
      joined.commit();
      throttle(1.0);
      return;
    } catch (const StreamJoinRefused&) {
      // The streams do not line up after all: encoded again below.
    }
  }
  reencode(assets, output, progress, stop, encoding);
}

}  // namespace ClipMerger
}  // namespace brisklet
