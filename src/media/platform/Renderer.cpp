#include "media/platform/Renderer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <stdexcept>
#include <vector>

#include "media/platform/Asset.h"
#include "media/platform/FrameFitter.h"
#include "media/platform/MediaError.h"
#include "media/platform/PcmReader.h"
#include "media/platform/TruePeakLimiter.h"
#include "media/platform/VideoFrameReader.h"
#include "platform/Cancellation.h"
#include "platform/FileNames.h"
#include "platform/TimeText.h"

extern "C" {
#include <libavutil/imgutils.h>
}

namespace brisklet {
namespace {

// A picture this close after an output frame's time still counts as on time: source and output
// times are rounded on different grids.
constexpr double kFrameTimeSlackSec = 0.0005;
// A source picture this far ahead of the one held is reached faster by seeking than decoding.
constexpr double kDecodeAheadSec = 1.0;
// The picture read past one stretch lies at most a frame after the next stretch's start.
constexpr double kCarriedPictureSlackSec = 0.1;
// A source whose picture stops this much before a stretch needs it is damaged (a half-written
// file whose header promises more), not merely a picture track a little shorter than its sound.
constexpr double kLongestMissingPictureSec = 1.0;
// Black pictures after the last one, where a narration line outlasts the picture, come this often.
constexpr double kBlackTailFrameSec = 1.0 / 30;

[[noreturn]] void failDamaged(const std::filesystem::path& file, double pictureEndSec,
                              double neededSec) {
  throw MediaError("The file " + quotedFileName(file) + " is damaged: its picture ends at " +
                   formatMinutesSeconds(pictureEndSec) + " of " + formatMinutesSeconds(neededSec) +
                   ".");
}

// The first of `ranges` (sorted by start) holding `seconds`, or null.
template <typename Item, typename Range>
const Item* firstHolding(const std::vector<Item>& items, Range range, double seconds) {
  for (const Item& item : items) {
    const TimeRange span = range(item);
    if (span.start.seconds() <= seconds + 1e-9 && seconds < span.end().seconds() - 1e-9)
      return &item;
  }
  return nullptr;
}

// Fades a 4:2:0 picture towards black: opacity 0 is black, 1 leaves it as it is.
void dim(AVFrame& frame, double opacity) {
  const int weight = static_cast<int>(std::lround(std::clamp(opacity, 0.0, 1.0) * 256));
  for (int plane = 0; plane < 3; ++plane) {
    const int black = plane == 0 ? 16 : 128;
    const int width = plane == 0 ? frame.width : (frame.width + 1) / 2;
    const int height = plane == 0 ? frame.height : (frame.height + 1) / 2;
    for (int y = 0; y < height; ++y) {
      uint8_t* row = frame.data[plane] + static_cast<std::ptrdiff_t>(y) * frame.linesize[plane];
      for (int x = 0; x < width; ++x) row[x] = static_cast<uint8_t>(black + ((row[x] - black) * weight >> 8));
    }
  }
}

}  // namespace

class VideoRenderer::Pictures {
 public:
  Pictures(const Composition& composition, const std::optional<VideoComposition>& videoComposition,
           double startSec, const std::optional<PictureBox>& fitInto)
      : composition_(composition),
        videoComposition_(videoComposition),
        totalSec_(composition.duration().seconds()),
        pictureEndSec_(composition.pictureDuration().seconds()),
        startSec_(std::max(0.0, startSec)),
        held_(av_frame_alloc()),
        ahead_(av_frame_alloc()),
        output_(av_frame_alloc()) {
    if (!held_ || !ahead_ || !output_) throw MediaError("Out of memory while rendering.");
    if (videoComposition_) {
      const double frameSec = videoComposition_->frameDuration.seconds();
      nextFrame_ = static_cast<std::int64_t>(std::ceil(startSec_ / frameSec - 1e-9));
      const int width = videoComposition_->renderWidth;
      const int height = videoComposition_->renderHeight;
      if (fitInto && fitInto->width > 0 && fitInto->height > 0)
        scale_ = std::min({1.0, static_cast<double>(fitInto->width) / width,
                           static_cast<double>(fitInto->height) / height});
      outputWidth_ = std::max(2, static_cast<int>(width * scale_) / 2 * 2);
      outputHeight_ = std::max(2, static_cast<int>(height * scale_) / 2 * 2);
    }
  }

  std::optional<RenderedPicture> next(const std::stop_token& stop) {
    stop_ = stop;
    return videoComposition_ ? nextComposed() : nextPassedThrough();
  }

  void seek(double outputSec) {
    if (!videoComposition_) throw std::logic_error("VideoRenderer::seek needs a video composition");
    const double frameSec = videoComposition_->frameDuration.seconds();
    // At or past the end the edit's last frame is shown, as a paused player shows it.
    const double lastFrameSec =
        std::max(0.0, (std::ceil(totalSec_ / frameSec - 1e-9) - 1) * frameSec);
    const double shownSec = std::clamp(outputSec, 0.0, lastFrameSec);
    seekSec_ = shownSec;
    nextFrame_ = static_cast<std::int64_t>(std::floor(shownSec / frameSec + 1e-9)) + 1;
  }

 private:
  // Opens `file` for decoding unless it is the one open.
  void use(const std::filesystem::path& file) {
    if (reader_ && file == file_) return;
    asset_.emplace(Asset::open(file));
    reader_.emplace(*asset_);
    file_ = file;
    holding_ = aheadPresent_ = ended_ = false;
    fitter_.reset();
  }

  void seekSource(double sourceSec) {
    reader_->seek(sourceSec, true);
    holding_ = aheadPresent_ = ended_ = false;
  }

  // The latest source picture due by `sourceSec` (the first one when none is due yet).
  const AVFrame* pictureAt(double sourceSec) {
    // Past the last picture there is nothing a seek could find.
    if (holding_ && (sourceSec < heldTimeSec_ - kFrameTimeSlackSec ||
                     (!ended_ && sourceSec - heldTimeSec_ > kDecodeAheadSec)))
      seekSource(sourceSec);
    else if (!holding_ && !aheadPresent_ && !ended_ && sourceSec > kDecodeAheadSec)
      seekSource(sourceSec);
    while (!ended_) {
      if (!aheadPresent_) {
        throwIfCancelled(stop_);
        const AVFrame* decoded = reader_->next();
        if (decoded == nullptr) {
          ended_ = true;
          break;
        }
        av_frame_unref(ahead_.get());
        if (av_frame_ref(ahead_.get(), decoded) < 0) throw MediaError("Out of memory while rendering.");
        aheadTimeSec_ = reader_->timeSec();
        aheadPresent_ = true;
      }
      if (holding_ && aheadTimeSec_ > sourceSec + kFrameTimeSlackSec) break;
      std::swap(held_, ahead_);
      heldTimeSec_ = aheadTimeSec_;
      holding_ = true;
      aheadPresent_ = false;
      ++heldGeneration_;
    }
    return holding_ ? held_.get() : nullptr;
  }

  // `picture` laid out by `placement`; a picture placed before is not placed again.
  const AVFrame& place(const AVFrame& picture, const FramePlacement& placement) {
    if (!fitter_ || placement != fitterPlacement_ || picture.width != fitterWidth_ ||
        picture.height != fitterHeight_ || picture.format != fitterFormat_) {
      fitter_.emplace(picture, reader_->timeBase(), placement);
      fitterPlacement_ = placement;
      fitterWidth_ = picture.width;
      fitterHeight_ = picture.height;
      fitterFormat_ = picture.format;
      placedGeneration_ = -1;
    }
    if (placedGeneration_ != heldGeneration_) {
      placed_ = &fitter_->place(picture);
      placedGeneration_ = heldGeneration_;
    }
    return *placed_;
  }

  const AVFrame& black(int width, int height) {
    if (!black_ || black_->width != width || black_->height != height) {
      black_.reset(av_frame_alloc());
      if (!black_) throw MediaError("Out of memory while rendering.");
      black_->format = AV_PIX_FMT_YUV420P;
      black_->width = width;
      black_->height = height;
      if (av_frame_get_buffer(black_.get(), 0) < 0) throw MediaError("Out of memory while rendering.");
      for (int plane = 0; plane < 3; ++plane) {
        const int rows = plane == 0 ? height : (height + 1) / 2;
        std::memset(black_->data[plane], plane == 0 ? 16 : 128,
                    static_cast<size_t>(black_->linesize[plane]) * rows);
      }
    }
    return *black_;
  }

  const AVFrame& composedBlack() {
    return black(outputWidth_, outputHeight_);
  }

  // Whether the source ran out of pictures well before `sourceSec`.
  bool pictureEndedBefore(double sourceSec) const {
    return ended_ && (!holding_ || sourceSec - heldTimeSec_ > kLongestMissingPictureSec);
  }

  std::optional<RenderedPicture> nextComposed() {
    if (seekSec_) {
      const double timeSec = *seekSec_;
      seekSec_.reset();
      return composedAt(timeSec);
    }
    const VideoComposition& layout = *videoComposition_;
    const MediaTime at{nextFrame_ * layout.frameDuration.value, layout.frameDuration.timescale};
    const double timeSec = at.seconds();
    if (timeSec >= totalSec_ - 1e-9) return std::nullopt;
    ++nextFrame_;
    return composedAt(timeSec);
  }

  // The laid-out picture shown at output time `timeSec`.
  RenderedPicture composedAt(double timeSec) {
    const VideoComposition& layout = *videoComposition_;
    const TrackInsert* insert = firstHolding(
        composition_.video, [](const TrackInsert& item) { return TimeRange{item.outputStart, item.source.duration}; },
        timeSec);
    const VideoInstruction* instruction = firstHolding(
        layout.instructions, [](const VideoInstruction& item) { return item.range; }, timeSec);
    if (insert == nullptr || instruction == nullptr) return RenderedPicture{&composedBlack(), timeSec};
    use(insert->file);
    const double sourceSec = insert->source.start.seconds() + timeSec - insert->outputStart.seconds();
    const AVFrame* picture = pictureAt(sourceSec);
    if (pictureEndedBefore(sourceSec))
      failDamaged(insert->file, holding_ ? heldTimeSec_ : 0, insert->source.end().seconds());
    const VideoTrack& track = asset_->firstVideoTrack();
    const AVFrame& placed =
        place(*picture, placementOf(instruction->transform.then(AffineTransform::scale(scale_)),
                                    track.naturalWidth, track.naturalHeight, outputWidth_,
                                    outputHeight_));
    const double opacity = opacityAt(instruction->opacityRamps, timeSec);
    if (opacity >= 1.0) return RenderedPicture{&placed, timeSec};
    av_frame_unref(output_.get());
    if (av_frame_ref(output_.get(), &placed) < 0 || av_frame_make_writable(output_.get()) < 0)
      throw MediaError("Out of memory while rendering.");
    dim(*output_, opacity);
    return RenderedPicture{output_.get(), timeSec};
  }

  std::optional<RenderedPicture> nextPassedThrough() {
    while (insertIndex_ < composition_.video.size()) {
      const TrackInsert& insert = composition_.video[insertIndex_];
      const double sourceStart = insert.source.start.seconds();
      const double sourceEnd = insert.source.end().seconds();
      const double outputStart = insert.outputStart.seconds();
      // Output before the requested start is skipped; so is the source before it.
      const double from = sourceStart + std::max(0.0, startSec_ - outputStart);
      if (!insertOpened_) {
        insertOpened_ = true;
        if (from >= sourceEnd) {
          ++insertIndex_;
          insertOpened_ = false;
          continue;
        }
        // Decoding on is cheaper than a seek when the stretch starts a little ahead (or at the
        // picture just read past the previous stretch).
        const bool continuing = reader_ && insert.file == file_ &&
                                from >= lastSourceSec_ - kCarriedPictureSlackSec &&
                                from - lastSourceSec_ < kDecodeAheadSec;
        use(insert.file);
        if (!continuing) {
          reader_->seek(from);
          carried_ = false;
        }
      }
      const AVFrame* decoded = nullptr;
      double sourceSec = 0;
      if (carried_) {
        decoded = held_.get();
        sourceSec = heldTimeSec_;
        carried_ = false;
      } else {
        decoded = reader_->next();
        if (decoded == nullptr) {
          const double pictureEndSec = std::max(lastSourceSec_, 0.0);
          if (sourceEnd - pictureEndSec > kLongestMissingPictureSec)
            failDamaged(insert.file, pictureEndSec, sourceEnd);
          ++insertIndex_;
          insertOpened_ = false;
          continue;
        }
        sourceSec = reader_->timeSec();
        lastSourceSec_ = sourceSec;
      }
      if (sourceSec < from - kFrameTimeSlackSec) continue;
      if (sourceSec >= sourceEnd - kFrameTimeSlackSec) {
        // The picture after this stretch may open the next one.
        if (decoded != held_.get()) {
          av_frame_unref(held_.get());
          if (av_frame_ref(held_.get(), decoded) < 0) throw MediaError("Out of memory while rendering.");
        }
        heldTimeSec_ = sourceSec;
        carried_ = true;
        ++insertIndex_;
        insertOpened_ = false;
        continue;
      }
      // Pictures keep their own timing; a picture a hair before its stretch starts it.
      const double timeSec =
          std::max({outputStart + (sourceSec - sourceStart), lastOutputSec_ + 1e-4, 0.0});
      lastOutputSec_ = timeSec;
      const VideoTrack& track = asset_->firstVideoTrack();
      FramePlacement upright;
      upright.width = upright.outputWidth = track.naturalWidth / 2 * 2;
      upright.height = upright.outputHeight = track.naturalHeight / 2 * 2;
      ++heldGeneration_;
      return RenderedPicture{&place(*decoded, upright), timeSec};
    }
    return blackAfterPicture();
  }

  // Where a narration line outlasts the picture, the output goes on in black until it ends.
  std::optional<RenderedPicture> blackAfterPicture() {
    if (composition_.video.empty()) return std::nullopt;
    for (;; ++blackFrames_) {
      const double timeSec =
          pictureEndSec_ + static_cast<double>(blackFrames_) * kBlackTailFrameSec;
      if (timeSec >= totalSec_ - 1e-9) return std::nullopt;
      if (timeSec < startSec_ - 1e-9 || timeSec <= lastOutputSec_) continue;
      ++blackFrames_;
      lastOutputSec_ = timeSec;
      if (!asset_) use(composition_.video.back().file);
      const VideoTrack& track = asset_->firstVideoTrack();
      return RenderedPicture{&black(track.naturalWidth / 2 * 2, track.naturalHeight / 2 * 2),
                             timeSec};
    }
  }

  const Composition& composition_;
  const std::optional<VideoComposition>& videoComposition_;
  const double totalSec_;
  const double pictureEndSec_;
  const double startSec_;
  std::stop_token stop_;
  // The moment asked for by seek(), rendered at exactly that time before the frames after it.
  std::optional<double> seekSec_;
  // Laid-out pictures come out at the render size times this, fitted into a preview's box.
  double scale_ = 1.0;
  int outputWidth_ = 0;
  int outputHeight_ = 0;

  std::filesystem::path file_;
  std::optional<Asset> asset_;
  std::optional<VideoFrameReader> reader_;
  ffmpeg::Frame held_;
  ffmpeg::Frame ahead_;
  double heldTimeSec_ = 0;
  double aheadTimeSec_ = 0;
  bool holding_ = false;
  bool aheadPresent_ = false;
  bool ended_ = false;
  std::int64_t heldGeneration_ = 0;

  std::optional<FrameFitter> fitter_;
  FramePlacement fitterPlacement_;
  int fitterWidth_ = 0;
  int fitterHeight_ = 0;
  int fitterFormat_ = -1;
  const AVFrame* placed_ = nullptr;
  std::int64_t placedGeneration_ = -1;
  ffmpeg::Frame output_;
  ffmpeg::Frame black_;

  std::int64_t nextFrame_ = 0;
  size_t insertIndex_ = 0;
  bool insertOpened_ = false;
  bool carried_ = false;
  double lastSourceSec_ = -1;
  double lastOutputSec_ = -1;
  std::int64_t blackFrames_ = 0;
};

VideoRenderer::VideoRenderer(const Composition& composition,
                             const std::optional<VideoComposition>& videoComposition,
                             double startSec, const std::optional<PictureBox>& fitInto)
    : pictures_(std::make_unique<Pictures>(composition, videoComposition, startSec, fitInto)) {}
VideoRenderer::VideoRenderer(VideoRenderer&&) noexcept = default;
VideoRenderer& VideoRenderer::operator=(VideoRenderer&&) noexcept = default;
VideoRenderer::~VideoRenderer() = default;

std::optional<RenderedPicture> VideoRenderer::next(const std::stop_token& stop) {
  return pictures_->next(stop);
}
void VideoRenderer::seek(double outputSec) { pictures_->seek(outputSec); }

namespace {

constexpr std::int64_t samplesOf(double seconds) {
  return static_cast<std::int64_t>(seconds * AudioRenderer::kSampleRate + (seconds < 0 ? -0.5 : 0.5));
}

// Every join crossfades over this; an edge with nothing beyond it fades over half of it.
constexpr std::int64_t kJoinFadeSamples = samplesOf(0.008);
constexpr std::int64_t kEdgeFadeSamples = kJoinFadeSamples / 2;
// The ceiling the limiter holds the mix to sits under −1 dBTP, leaving room for the AAC
// encoder's own overshoot.
constexpr double kLimiterCeiling = 0.84;  // −1.5 dBTP
constexpr double kQuarterTurn = 1.5707963267948966;

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
    const bool seamless = before.file == later.insert->file &&
                          std::llabs(samplesOf(before.source.end().seconds()) -
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
    const auto add = [&](const std::vector<TrackInsert>& inserts, const VolumeAutomation* automation) {
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
    Reading& oldest = std::min_element(track.readings.begin(), track.readings.end(),
                                       [](const Reading& a, const Reading& b) {
                                         return a.lastUse < b.lastUse;
                                       })[0];
    oldest.reader.emplace(assetOf(played.insert->file),
                          PcmFormat{kSampleRate, kChannels, PcmSampleFormat::float32},
                          played.readFromSourceSec +
                              static_cast<double>(low - played.readFrom) / kSampleRate);
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
