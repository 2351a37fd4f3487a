#include "media/CompositionBuilder.h"

#include <algorithm>
#include <cmath>
#include <span>

#include "media/CropFollowing.h"
#include "media/platform/FrameRate.h"
#include "media/platform/PcmReader.h"
#include "platform/FileNames.h"
#include "platform/TimeText.h"

namespace brisklet::CompositionBuilder {
namespace {

constexpr double kShortestSoundSec = 0.05;
constexpr double kNarrationGapSec = 0.15;
constexpr double kNoNarrationInLastSec = 0.5;
constexpr double kDuckRampSec = 0.3;
constexpr float kDuckedSourceLevel = 0.2f;
constexpr float kDuckedMusicShare = 0.3f;
constexpr double kMusicFadeOutSec = 2.0;
constexpr double kLongestMusicFadeInSec = 1.0;
constexpr double kShortestBedSec = 2.0;
constexpr double kShortestMusicSec = 1.0;
// A segment may end this far past the file's stated length (streams of a file end a little apart).
constexpr double kLongestOverrunSec = 1.0;
constexpr double kLongestDipSec = 0.3;

MediaTime at(double seconds) { return MediaTime::fromSeconds(seconds); }
TimeRange between(double fromSec, double toSec) { return {at(fromSec), at(toSec - fromSec)}; }

// `file` opened for its sound: none when no file is there or it holds no sound track, which the
// build skips. A file that is there but cannot be read fails the build with its name, so a
// damaged narration, clean sound or music never silently drops out of an export.
std::optional<Asset> soundFile(const std::optional<std::filesystem::path>& file) {
  std::error_code error;
  if (!file || !std::filesystem::is_regular_file(*file, error)) return std::nullopt;
  return openSoundFile(*file);
}

std::pair<int, int> renderSize(AspectRatio aspect, const Box& oriented) {
  switch (aspect) {
    case AspectRatio::wide: return {1920, 1080};
    case AspectRatio::vertical: return {1080, 1920};
    case AspectRatio::square: return {1080, 1080};
    case AspectRatio::portrait: return {1080, 1350};
    case AspectRatio::original: break;
  }
  return {2 * static_cast<int>(std::floor(oriented.width / 2)),
          2 * static_cast<int>(std::floor(oriented.height / 2))};
}

// Where a kept segment's runs lie among the mappings: [first, first + count).
struct MappedRuns {
  size_t first = 0;
  size_t count = 0;
};

// The shifts that make a crop of the picture follow the segment's face, on the output axis:
// none when the layout crops nothing, the segment has no face or is to be cropped centred. The
// path is planned over the whole scene, so the window glides as it would without the pauses; a
// key inside a removed pause is not shown.
std::vector<PanKey> followingFace(const Segment& segment, std::span<const SegmentTimeMapping> runs,
                                  double scaledWidth, double scaledHeight, int width, int height) {
  if (segment.centredCrop || segment.facePath.empty()) return {};
  using CropFollowing::Axis;
  // A crop cuts one side only: the picture is scaled to fill the render size.
  const Axis axis = scaledWidth > width + 1 ? Axis::horizontal : Axis::vertical;
  const double length = axis == Axis::horizontal ? scaledWidth : scaledHeight;
  const double window = axis == Axis::horizontal ? width : height;
  if (length <= window + 1) return {};
  const double share = window / length;
  const std::vector<SegmentTimeMapping> mapped(runs.begin(), runs.end());
  std::vector<PanKey> pan;
  for (const CropFollowing::WindowKey& key :
       CropFollowing::follow(segment.facePath, share, axis, segment.startSec, segment.endSec)) {
    const std::optional<double> shown = compositionTime(mapped, key.sourceSec);
    if (!shown) continue;
    const double shift = -(key.start - (1 - share) / 2) * length;
    pan.push_back(
        {*shown, axis == Axis::horizontal ? shift : 0, axis == Axis::vertical ? shift : 0});
  }
  return pan;
}

VideoComposition videoComposition(const Asset& source, const AffineTransform& preferred,
                                  const Inputs& inputs, const std::vector<const Segment*>& kept,
                                  const std::vector<MappedRuns>& keptRuns,
                                  const std::vector<SegmentTimeMapping>& mappings,
                                  MediaTime total) {
  const VideoTrack& track = source.firstVideoTrack();
  const Box oriented = boundingBox(preferred, track.naturalWidth, track.naturalHeight);
  const auto [width, height] = renderSize(inputs.aspect, oriented);
  const double scale = std::max(width / oriented.width, height / oriented.height);
  const AffineTransform layer =
      preferred.then(AffineTransform::translation(-oriented.x, -oriented.y))
          .then(AffineTransform::scale(scale))
          .then(AffineTransform::translation((width - oriented.width * scale) / 2,
                                             (height - oriented.height * scale) / 2));
  VideoComposition composition;
  composition.renderWidth = width;
  composition.renderHeight = height;
  // The source's own rhythm, so every picture is shown once and none is repeated or dropped.
  composition.frameDuration = frameDurationAt(standardFrameRate(track.framesPerSecond));
  const auto runsOf = [&](size_t index) {
    return std::span(mappings).subspan(keptRuns[index].first, keptRuns[index].count);
  };
  std::vector<std::vector<PanKey>> pans;
  for (size_t index = 0; index < kept.size(); ++index)
    pans.push_back(followingFace(*kept[index], runsOf(index), oriented.width * scale,
                                 oriented.height * scale, width, height));
  const bool follows = std::any_of(pans.begin(), pans.end(),
                                   [](const std::vector<PanKey>& pan) { return !pan.empty(); });
  const bool dips = inputs.transition == TransitionStyle::dipToBlack;
  if (!dips && !follows) {
    composition.instructions.push_back({TimeRange{MediaTime{}, total}, layer, {}});
    return composition;
  }
  // One instruction a segment: the joins where its pauses were are cuts, never dips.
  for (size_t index = 0; index < kept.size(); ++index) {
    const std::span<const SegmentTimeMapping> runs = runsOf(index);
    const double start = runs.front().compositionStartSec;
    const double end = runs.back().compositionStartSec + runs.back().durationSec;
    std::vector<OpacityRamp> dip;
    if (dips) {
      const double fade = std::min(0.25 * (end - start), kLongestDipSec);
      dip = {{between(start, start + fade), 0, 1}, {between(end - fade, end), 1, 0}};
    }
    composition.instructions.push_back(
        {between(start, end), layer, std::move(dip), std::move(pans[index])});
  }
  return composition;
}

// Lays narration lines on their segments: never before 0.15 s after the previous line, never
// starting in the last half second, never cut. A line whose text was cleared is silent, whatever
// audio it had.
std::vector<std::pair<double, double>> placeNarration(const std::vector<const Segment*>& kept,
                                                      const std::vector<MappedRuns>& keptRuns,
                                                      const std::vector<SegmentTimeMapping>& mappings,
                                                      const std::filesystem::path& folder,
                                                      double totalSec, CompositionResult& result) {
  Composition& composition = result.composition;
  std::vector<std::pair<double, double>> spans;
  double lastEnd = 0;
  for (size_t index = 0; index < kept.size(); ++index) {
    const std::optional<NarrationClip>& line = kept[index]->narration;
    if (!line || line->text.empty() || line->status == NarrationStatus::pendingAudio ||
        !line->audioFileName || !isPlainFileName(*line->audioFileName))
      continue;
    const std::optional<Asset> audio = soundFile(folder / *line->audioFileName);
    if (!audio) continue;
    // The offset counts on the output axis from where the segment's first kept run starts.
    double start = mappings[keptRuns[index].first].compositionStartSec +
                   std::max(line->startOffsetSec, 0.0);
    start = std::max(start, lastEnd + kNarrationGapSec);
    if (start >= totalSec - kNoNarrationInLastSec) continue;
    if (!composition.narration) composition.narration.emplace();
    composition.narration->push_back({audio->file(), audio->audioTracks().front().streamIndex,
                                      TimeRange{MediaTime{}, at(audio->durationSec())}, at(start)});
    spans.emplace_back(start, std::min(totalSec, start + audio->durationSec()));
    lastEnd = start + audio->durationSec();
    // The caption is the words the clip speaks, also while an edited text waits to be spoken.
    if (const std::optional<std::string> words = spokenWords(*line))
      result.captions.push_back({start, lastEnd, *words});
  }
  return spans;
}

// The music repeated from 0 to the end, the last repetition cut there.
void layMusicBed(const Asset& music, double totalSec, Composition& composition) {
  composition.music.emplace();
  const double length = music.durationSec();
  for (double cursor = 0; cursor < totalSec;) {
    const double piece = std::min(length, totalSec - cursor);
    composition.music->push_back({music.file(), music.audioTracks().front().streamIndex,
                                  TimeRange{MediaTime{}, at(piece)}, at(cursor)});
    cursor += piece;
  }
}

// `level`, down to `ducked` over 0.3 s before each span and back up over 0.3 s after it.
VolumeEnvelope duck(float level, float ducked, const std::vector<std::pair<double, double>>& spans,
                    double totalSec) {
  VolumeEnvelope envelope{level, {}};
  for (const auto& [start, end] : spans) {
    envelope.ramps.push_back({between(std::max(start - kDuckRampSec, 0.0), start), level, ducked});
    envelope.ramps.push_back({between(end, std::min(end + kDuckRampSec, totalSec)), ducked, level});
  }
  return envelope;
}

}  // namespace

std::vector<std::pair<double, double>> mergeSpans(std::vector<std::pair<double, double>> spans) {
  constexpr double kJoinWithinSec = 0.6;
  std::sort(spans.begin(), spans.end());
  std::vector<std::pair<double, double>> merged;
  for (const auto& span : spans) {
    if (!merged.empty() && span.first <= merged.back().second + kJoinWithinSec)
      merged.back().second = std::max(merged.back().second, span.second);
    else
      merged.push_back(span);
  }
  return merged;
}

CompositionResult build(const EditPlan& plan, const Asset& source, const Inputs& inputs) {
  const std::optional<Asset> clean = soundFile(inputs.cleanAudio);
  std::optional<AudioTrack> soundTrack;
  std::filesystem::path soundSource = source.file();
  double soundLimitSec = INFINITY;
  if (clean) {
    soundTrack = clean->audioTracks().front();
    soundSource = clean->file();
    soundLimitSec = clean->durationSec();
  } else if (!source.audioTracks().empty()) {
    soundTrack = source.audioTracks().front();
  }
  if (source.videoTracks().empty()) throw BriskletError(1, "The video has no video track.");
  const VideoTrack& picture = source.firstVideoTrack();

  CompositionResult result;
  Composition& composition = result.composition;
  composition.videoTransform =
      AffineTransform::rotation(picture.rotationDegrees, picture.naturalWidth, picture.naturalHeight);
  if (soundTrack) composition.mainAudio.emplace();

  // A segment whose pauses cover all of it (a record edited by hand) shows nothing.
  std::vector<const Segment*> kept;
  for (const Segment& segment : plan.segments)
    if (segment.keep && !segment.keptRuns().empty()) kept.push_back(&segment);
  std::stable_sort(kept.begin(), kept.end(),
                   [](const Segment* a, const Segment* b) { return a->startSec < b->startSec; });

  MediaTime cursor;
  std::vector<MappedRuns> keptRuns;
  for (const Segment* segment : kept) {
    // A record whose times outrun its video (edited by hand, or the source replaced by a shorter
    // file) is told as such, not exported as a movie that stops short.
    if (source.durationSec() > 0 && segment->endSec > source.durationSec() + kLongestOverrunSec)
      throw BriskletError(1, "A kept segment (" + formatMinutesSeconds(segment->startSec) +
                                 "\u2013" + formatMinutesSeconds(segment->endSec) +
                                 ") runs past the end of the video (" +
                                 formatMinutesSeconds(source.durationSec()) + ").");
    keptRuns.push_back({result.mappings.size(), 0});
    for (const SourceSpan& run : segment->keptRuns()) {
      const MediaTime start = at(run.startSec);
      const MediaTime length = at(run.durationSec());
      composition.video.push_back({source.file(), picture.streamIndex, {start, length}, cursor});
      if (composition.mainAudio) {
        const double soundEnd = std::min(run.endSec, soundLimitSec);
        if (soundEnd - run.startSec > kShortestSoundSec)
          composition.mainAudio->push_back({soundSource, soundTrack->streamIndex,
                                            between(run.startSec, soundEnd), cursor});
      }
      result.mappings.push_back({segment->id, run.startSec, cursor.seconds(), run.durationSec()});
      ++keptRuns.back().count;
      cursor.value += length.value;
    }
  }
  const double total = cursor.seconds();

  if ((inputs.aspect != AspectRatio::original || inputs.transition == TransitionStyle::dipToBlack ||
       inputs.layOutPictures) &&
      total > 0)
    result.videoComposition =
        videoComposition(source, composition.videoTransform, inputs, kept, keptRuns,
                         result.mappings, cursor);

  std::vector<std::pair<double, double>> spans;
  if (inputs.narrationDirectory)
    spans = placeNarration(kept, keptRuns, result.mappings, *inputs.narrationDirectory, total,
                           result);

  if (total > kShortestBedSec)
    if (const std::optional<Asset> music = soundFile(inputs.music);
        music && music->durationSec() > kShortestMusicSec)
      layMusicBed(*music, total, composition);

  const std::vector<std::pair<double, double>> merged = mergeSpans(spans);
  AudioMix mix;
  if (composition.mainAudio && !merged.empty())
    mix.inputs.push_back({MixedTrack::mainAudio, {duck(1.0f, kDuckedSourceLevel, merged, total)}});
  if (composition.music) {
    // Fading in, fading out and ducking are followed apart and multiplied: a line in the first
    // second or the last two still ducks the bed, and the bed still fades.
    const float level = std::clamp(inputs.musicVolume, 0.02f, 1.0f);
    const VolumeEnvelope fadeIn{0, {{between(0, std::min(0.25 * total, kLongestMusicFadeInSec)), 0, 1}}};
    const VolumeEnvelope fadeOut{1, {{between(std::max(total - kMusicFadeOutSec, 0.0), total), 1, 0}}};
    mix.inputs.push_back(
        {MixedTrack::music, {fadeIn, fadeOut, duck(level, kDuckedMusicShare * level, merged, total)}});
  }
  mix.fadeOutSec = inputs.soundFadeOutSec;
  mix.loudnessTargetLufs = inputs.loudnessTargetLufs;
  const bool sounds = (composition.mainAudio && !composition.mainAudio->empty()) ||
                      composition.narration || composition.music;
  if (sounds) result.audioMix = std::move(mix);
  return result;
}

}  // namespace brisklet::CompositionBuilder
