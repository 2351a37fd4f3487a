#include "media/platform/Renderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "media/platform/Asset.h"
#include "media/platform/FrameFitter.h"
#include "media/platform/MediaError.h"
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
      for (int x = 0; x < width; ++x)
        row[x] = static_cast<uint8_t>(black + ((row[x] - black) * weight >> 8));
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
        std::max(0.0, static_cast<double>(composedFrameCount() - 1) * frameSec);
    const double shownSec = std::clamp(outputSec, 0.0, lastFrameSec);
    seekSec_ = shownSec;
    nextFrame_ = static_cast<std::int64_t>(std::floor(shownSec / frameSec + 1e-9)) + 1;
  }

 private:
  // The output frames of a composition: those whose middle lies inside it, so the last one shows
  // the edit for at least half its length and never the picture after the edit's end.
  std::int64_t composedFrameCount() const {
    return static_cast<std::int64_t>(
        std::ceil(totalSec_ / videoComposition_->frameDuration.seconds() - 0.5 - 1e-9));
  }

  // Opens `file` for decoding unless it is the one open.
  void use(const std::filesystem::path& file) {
    if (reader_ && file == file_) return;
    asset_.emplace(Asset::open(file));
    reader_.emplace(*asset_);
    file_ = file;
    holding_ = aheadPresent_ = ended_ = false;
    fitterWidth_ = 0;
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
        if (av_frame_ref(ahead_.get(), decoded) < 0)
          throw MediaError("Out of memory while rendering.");
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

  // Whether `picture` differs in size or format from the pictures the fitters were made for;
  // if so, they are dropped and made again for it.
  bool newKindOfPicture(const AVFrame& picture) {
    if (picture.width == fitterWidth_ && picture.height == fitterHeight_ &&
        picture.format == fitterFormat_)
      return false;
    fitter_.reset();
    movingCrop_.reset();
    fitterWidth_ = picture.width;
    fitterHeight_ = picture.height;
    fitterFormat_ = picture.format;
    return true;
  }

  // `picture` laid out by `placement`; a picture placed before is not placed again.
  const AVFrame& place(const AVFrame& picture, const FramePlacement& placement) {
    if (newKindOfPicture(picture) || !fitter_ || placement != fitterPlacement_) {
      fitter_.emplace(picture, reader_->timeBase(), placement);
      fitterPlacement_ = placement;
      placedGeneration_ = -1;
    }
    if (placedGeneration_ != heldGeneration_) {
      placed_ = &fitter_->place(picture);
      placedGeneration_ = heldGeneration_;
    }
    return *placed_;
  }

  // As place, for a crop that moves: each picture is scaled once, and only the window moves.
  const AVFrame& placeMoving(const AVFrame& picture, FramePlacement placement) {
    const int x = placement.x;
    const int y = placement.y;
    placement.x = placement.y = 0;
    if (newKindOfPicture(picture) || !movingCrop_ || placement != movingPlacement_) {
      movingCrop_.emplace(picture, reader_->timeBase(), placement);
      movingPlacement_ = placement;
      scaledGeneration_ = -1;
    }
    if (scaledGeneration_ != heldGeneration_) {
      movingCrop_->scale(picture);
      scaledGeneration_ = heldGeneration_;
    }
    return movingCrop_->window(x, y);
  }

  const AVFrame& black(int width, int height) {
    if (!black_ || black_->width != width || black_->height != height) {
      black_.reset(av_frame_alloc());
      if (!black_) throw MediaError("Out of memory while rendering.");
      black_->format = AV_PIX_FMT_YUV420P;
      black_->width = width;
      black_->height = height;
      if (av_frame_get_buffer(black_.get(), 0) < 0)
        throw MediaError("Out of memory while rendering.");
      for (int plane = 0; plane < 3; ++plane) {
        const int rows = plane == 0 ? height : (height + 1) / 2;
        std::memset(black_->data[plane], plane == 0 ? 16 : 128,
                    static_cast<size_t>(black_->linesize[plane]) * rows);
      }
    }
    return *black_;
  }

  const AVFrame& composedBlack() { return black(outputWidth_, outputHeight_); }

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
    if (nextFrame_ >= composedFrameCount()) return std::nullopt;
    ++nextFrame_;
    return composedAt(timeSec);
  }

  // The laid-out picture shown at output time `timeSec`: the source picture due at the middle of
  // the output frame that holds it. Stretches start on the 1/600 s grid, which frame times at
  // NTSC rates miss by up to 0.8 ms, and by more as the stretches add up; from the
  // middle, a source at the output's rate still gives each of its pictures to one output frame.
  RenderedPicture composedAt(double timeSec) {
    const VideoComposition& layout = *videoComposition_;
    const double frameSec = layout.frameDuration.seconds();
    const auto insertAt = [&](double seconds) {
      return firstHolding(
          composition_.video,
          [](const TrackInsert& item) {
            return TimeRange{item.outputStart, item.source.duration};
          },
          seconds);
    };
    double pictureSec = (std::floor(timeSec / frameSec + 1e-9) + 0.5) * frameSec;
    const TrackInsert* insert = insertAt(pictureSec);
    if (insert == nullptr) {
      // A middle in the sliver that two roundings may leave between stretches.
      pictureSec = timeSec;
      insert = insertAt(timeSec);
    }
    const VideoInstruction* instruction = firstHolding(
        layout.instructions, [](const VideoInstruction& item) { return item.range; }, pictureSec);
    if (insert == nullptr || instruction == nullptr)
      return RenderedPicture{&composedBlack(), timeSec, frameSec};
    use(insert->file);
    const double sourceSec =
        insert->source.start.seconds() + pictureSec - insert->outputStart.seconds();
    const AVFrame* picture = pictureAt(sourceSec);
    if (pictureEndedBefore(sourceSec))
      failDamaged(insert->file, holding_ ? heldTimeSec_ : 0, insert->source.end().seconds());
    const VideoTrack& track = asset_->firstVideoTrack();
    const FramePlacement placement =
        placementOf(instruction->transform.then(panAt(instruction->pan, pictureSec))
                        .then(AffineTransform::scale(scale_)),
                    track.naturalWidth, track.naturalHeight, outputWidth_, outputHeight_);
    const AVFrame& placed =
        instruction->pan.empty() ? place(*picture, placement) : placeMoving(*picture, placement);
    const double opacity = opacityAt(instruction->opacityRamps, timeSec);
    if (opacity >= 1.0) return RenderedPicture{&placed, timeSec, frameSec};
    av_frame_unref(output_.get());
    if (av_frame_ref(output_.get(), &placed) < 0 || av_frame_make_writable(output_.get()) < 0)
      throw MediaError("Out of memory while rendering.");
    dim(*output_, opacity);
    return RenderedPicture{output_.get(), timeSec, frameSec};
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
          if (av_frame_ref(held_.get(), decoded) < 0)
            throw MediaError("Out of memory while rendering.");
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
      // The last picture of a stretch lasts up to the cut, so the stretch lasts its whole length.
      const double stretchEndSec = outputStart + (sourceEnd - sourceStart);
      const double endSec = std::min(timeSec + ownDurationSec(*decoded, track), stretchEndSec);
      const double durationSec = std::max(1e-4, endSec - timeSec);
      return RenderedPicture{&place(*decoded, upright), timeSec, durationSec};
    }
    return blackAfterPicture();
  }

  // How long `picture` lasts in its source: its packet's duration, or one frame at the track's
  // rate where the file does not say.
  double ownDurationSec(const AVFrame& picture, const VideoTrack& track) const {
    if (picture.pkt_duration > 0)
      return static_cast<double>(picture.pkt_duration) * av_q2d(reader_->timeBase());
    return track.framesPerSecond > 0 ? 1 / track.framesPerSecond : kBlackTailFrameSec;
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
                             timeSec, std::min(kBlackTailFrameSec, totalSec_ - timeSec)};
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
  std::optional<MovingCrop> movingCrop_;
  FramePlacement movingPlacement_;
  std::int64_t scaledGeneration_ = -1;
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

}  // namespace brisklet
