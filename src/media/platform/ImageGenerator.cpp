#include "media/platform/ImageGenerator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <opencv2/core.hpp>

#include "media/platform/FormatReader.h"
#include "media/platform/MediaError.h"
#include "media/platform/MediaTime.h"
#include "media/platform/PictureConverter.h"

extern "C" {
#include <libavutil/imgutils.h>
}

namespace brisklet {
namespace {

// Without an index, a target this close ahead is reached faster by decoding than by seeking.
constexpr double kDecodeAheadWithoutIndexSec = 1.0;
// Pictures shrunk this much or more are decoded without the deblocking filter: its effect is
// smaller than an output pixel, and it is a large share of H.264 decoding time.
constexpr double kSkipLoopFilterShrink = 3.0;
// A keyframe interval shorter than this share of the longest is out of the encoder's rhythm.
constexpr double kRhythmShare = 0.9;

using PacketUse = ffmpeg::StreamDecoder::PacketUse;

// The stretch of presentation time in which a frame answers a request.
struct Window {
  double earliestSec = 0;
  double latestSec = 0;
  bool isAfter(double timeSec) const { return timeSec < earliestSec - 1e-9; }
  bool holds(double timeSec) const { return !isAfter(timeSec) && timeSec <= latestSec + 1e-9; }
};

struct DecodedFrame {
  ffmpeg::Frame frame{av_frame_alloc()};
  double timeSec = 0;
  bool present = false;
};

}  // namespace

class ImageGenerator::Decoder {
 public:
  Decoder(const Asset& asset, const ImageGeneratorSettings& settings)
      : asset_(asset),
        track_(asset.firstVideoTrack()),
        settings_(settings),
        decoder_(asset.file(), track_.streamIndex, settings.decodingThreads) {
    if (!previous_.frame || !current_.frame)
      throw MediaError("Out of memory while reading " + asset_.quotedName() + ".");
    outputSize_ = scaledSize();
    if (track_.naturalWidth >= kSkipLoopFilterShrink * outputSize_.width)
      decoder_.codec().skip_loop_filter = AVDISCARD_ALL;
  }

  const Asset& asset() const { return asset_; }
  void observe(PictureObserver observer) { observe_ = std::move(observer); }

  // A picture within the tolerance of `timeSec`: the nearest one when decoding on from where we
  // are, the first one reached after a seek; none when the stream has none there. `alone`: no
  // request that could decode on from this one follows, so after a seek the decoder may stop at
  // the first packet inside the tolerance and skip what comes after it.
  std::optional<cv::Mat> imageAt(double timeSec, bool alone) {
    if (!std::isfinite(timeSec)) return std::nullopt;
    const Window window = windowAround(timeSec);
    if (!needsSeek(timeSec)) return nearestOnFromHere(timeSec, window);
    if (alone) {
      if (auto image = firstAfterSeek(timeSec, window, true)) return image;
      // The packet chosen gave no picture (a damaged frame): look on, the ordinary way.
    }
    return firstAfterSeek(timeSec, window, false);
  }

  Window windowAround(double timeSec) const {
    return {timeSec - settings_.toleranceBeforeSec, timeSec + settings_.toleranceAfterSec};
  }

  // Whether the container's index has a keyframe after `afterSec` and at or before `upToSec`:
  // decoding cannot carry over such a keyframe more cheaply than a seek to it.
  bool keyframeBetween(double afterSec, double upToSec) {
    const std::optional<double> keyframe = keyframeAtOrBefore(upToSec);
    return keyframe && *keyframe > afterSec + 1e-6;
  }

 private:
  // Decodes on from the frames we hold until the newest reaches the target; the one before it
  // stays as the other candidate. Frames before the tolerance that nothing refers to are left out.
  std::optional<cv::Mat> nearestOnFromHere(double timeSec, const Window& window) {
    const auto choose = [&](const AVPacket& packet) { return useOf(packet, window); };
    while (!endOfStream_ && (!current_.present || current_.timeSec < timeSec))
      if (!decodeNextKeepingPrevious(choose)) break;
    return nearestOfHeld(timeSec, window);
  }

  // After a seek any frame within the tolerance will do, so decoding stops at the first one; a
  // keyframe inside the tolerance is the cheapest of all. With `stopAtFirstPacket` nothing is
  // handed to the decoder after the first packet inside the tolerance, which saves the frames
  // a decoder reads ahead and holds back for reordering; the decoder then needs a seek before it
  // can go on.
  std::optional<cv::Mat> firstAfterSeek(double timeSec, const Window& window,
                                        bool stopAtFirstPacket) {
    // Seeks take presentation times and land on the keyframe at or before them.
    const std::optional<double> keyframe = keyframeAtOrBefore(window.latestSec);
    double target = keyframe && *keyframe >= window.earliestSec ? window.latestSec
                                                                : window.earliestSec;
    for (double backOff = 1.0;; backOff *= 2) {
      positionAt(target);
      bool chosen = false;
      const auto choose = [&](const AVPacket& packet) {
        if (chosen) return PacketUse::endHere;
        const std::optional<double> time = packetTime(packet);
        chosen = stopAtFirstPacket && time && window.holds(*time);
        return useOf(packet, window);
      };
      if (!decodeNextKeepingPrevious(choose)) return std::nullopt;
      // A first frame after the tolerance means the seek landed late, as seeks in some containers
      // (MPEG program streams, files without an index) do: back off further, down to the start.
      if (current_.timeSec > window.latestSec + 1e-6 && target > 0) {
        target -= backOff;
        continue;
      }
      while (!endOfStream_ && current_.timeSec < timeSec && !window.holds(current_.timeSec))
        if (!decodeNextKeepingPrevious(choose)) break;
      return nearestOfHeld(timeSec, window);
    }
  }

  // Decodes the next frame into current_, keeping the one before as previous_.
  bool decodeNextKeepingPrevious(const ffmpeg::StreamDecoder::PacketChooser& choose) {
    std::swap(previous_, current_);
    if (decodeNext(current_, choose)) return true;
    // The older frame's buffer was handed to the decoder and is gone; the newest stays.
    std::swap(previous_, current_);
    previous_.present = false;
    return false;
  }

  std::optional<cv::Mat> nearestOfHeld(double timeSec, const Window& window) {
    const DecodedFrame* best = nullptr;
    double bestDistance = INFINITY;
    for (const DecodedFrame* candidate : {&previous_, &current_}) {
      const double distance = std::fabs(candidate->timeSec - timeSec);
      if (candidate->present && window.holds(candidate->timeSec) && distance < bestDistance) {
        best = candidate;
        bestDistance = distance;
      }
    }
    if (best == nullptr) return std::nullopt;
    return toImage(*best->frame);
  }

  // A packet before the tolerance is decoded only when later frames refer to it.
  PacketUse useOf(const AVPacket& packet, const Window& window) {
    const std::optional<double> time = packetTime(packet);
    return time && window.isAfter(*time) ? PacketUse::decodeIfReferenced : PacketUse::decode;
  }

  std::optional<double> packetTime(const AVPacket& packet) {
    if (packet.pts == AV_NOPTS_VALUE) return std::nullopt;
    return streamTimestampToSeconds(packet.pts, decoder_.stream().time_base,
                                    asset_.presentationStartSec());
  }

  bool needsSeek(double timeSec) {
    if (!current_.present && !previous_.present) {
      // A decoder that has read nothing yet stands at the start: near it, decoding is the way.
      return !(atStart_ && timeSec - settings_.toleranceBeforeSec < kDecodeAheadWithoutIndexSec);
    }
    const double newest = current_.present ? current_.timeSec : previous_.timeSec;
    const double oldest = previous_.present ? previous_.timeSec : current_.timeSec;
    if (timeSec < oldest) return true;  // behind what we hold
    if (timeSec <= newest) return false;
    if (stoppedEarly_) return true;  // the decoder was told no more packets come
    if (endOfStream_) return false;
    const double latest = timeSec + settings_.toleranceAfterSec;
    // Decoding on would pass through a keyframe that lies ahead of us and not after the latest
    // acceptable frame; jumping to it skips everything before it.
    if (const auto keyframe = keyframeAtOrBefore(latest); keyframe && *keyframe > newest + 1e-6)
      return !(settings_.decodesThroughSceneChanges && outOfRhythm(*keyframe) &&
               timeSec - newest <= kDecodeAheadWithoutIndexSec);
    if (indexReaches(latest)) return false;  // no keyframe between us and the target
    // Some containers index keyframes only as they are read: a far target is sought.
    return timeSec - newest > kDecodeAheadWithoutIndexSec;
  }

  bool indexReaches(double timeSec) {
    const int entries = avformat_index_get_entries_count(&decoder_.stream());
    if (entries == 0) return false;
    const AVIndexEntry* last = avformat_index_get_entry(&decoder_.stream(), entries - 1);
    return last != nullptr && streamTimestampToSeconds(last->timestamp, decoder_.stream().time_base,
                                                       asset_.presentationStartSec()) >= timeSec;
  }

  // The time of the keyframe at or before `timeSec` in the container's index, when it has one.
  // Indexes hold decoding times, which run a few frames ahead of presentation times in streams
  // with B-frames: good for deciding, not for seeking.
  // Whether the keyframe at `keyframeSec` comes sooner after the one before it than the longest
  // interval between keyframes in the index: an encoder keeps its rhythm unless a scene changes.
  bool outOfRhythm(double keyframeSec) {
    if (!keyframeTimes_) {
      keyframeTimes_.emplace();
      const int entries = avformat_index_get_entries_count(&decoder_.stream());
      for (int index = 0; index < entries; ++index) {
        const AVIndexEntry* entry = avformat_index_get_entry(&decoder_.stream(), index);
        if (entry != nullptr && (entry->flags & AVINDEX_KEYFRAME))
          keyframeTimes_->push_back(streamTimestampToSeconds(
              entry->timestamp, decoder_.stream().time_base, asset_.presentationStartSec()));
      }
      std::sort(keyframeTimes_->begin(), keyframeTimes_->end());
      for (size_t index = 1; index < keyframeTimes_->size(); ++index)
        longestKeyframeIntervalSec_ = std::max(longestKeyframeIntervalSec_,
                                               (*keyframeTimes_)[index] - (*keyframeTimes_)[index - 1]);
    }
    const auto at = std::lower_bound(keyframeTimes_->begin(), keyframeTimes_->end(), keyframeSec - 1e-6);
    if (at == keyframeTimes_->begin() || at == keyframeTimes_->end()) return false;
    return *at - *std::prev(at) < kRhythmShare * longestKeyframeIntervalSec_;
  }

  std::optional<double> keyframeAtOrBefore(double timeSec) {
    const int64_t timestamp =
        toStreamTimestamp(MediaTime::fromSeconds(timeSec), decoder_.stream().time_base,
                          asset_.presentationStartSec());
    const AVIndexEntry* entry = avformat_index_get_entry_from_timestamp(
        &decoder_.stream(), timestamp, AVSEEK_FLAG_BACKWARD);
    if (entry == nullptr) return std::nullopt;
    return streamTimestampToSeconds(entry->timestamp, decoder_.stream().time_base,
                                    asset_.presentationStartSec());
  }

  // Puts the reader at the keyframe at or before `timeSec`, or at the start of the file.
  void positionAt(double timeSec) {
    if (timeSec <= 0) {
      seekToStart();
      return;
    }
    const int64_t timestamp = toStreamTimestamp(
        MediaTime::fromSeconds(timeSec), decoder_.stream().time_base, asset_.presentationStartSec());
    // A failed seek leaves the position where it was; the caller checks where it landed.
    av_seek_frame(&decoder_.format(), track_.streamIndex, timestamp, AVSEEK_FLAG_BACKWARD);
    resetDecoder();
  }

  void seekToStart() {
    AVFormatContext& format = decoder_.format();
    const int64_t start = format.start_time != AV_NOPTS_VALUE ? format.start_time : 0;
    avformat_seek_file(&format, -1, INT64_MIN, start, start, 0);
    resetDecoder();
    atStart_ = true;
  }

  void resetDecoder() {
    avcodec_flush_buffers(&decoder_.codec());
    previous_.present = current_.present = false;
    endOfStream_ = false;
    stoppedEarly_ = false;
    draining_ = false;
    atStart_ = false;
  }

  // Decodes the next frame into `target`, handing over packets as `choose` says. False when the
  // decoder has nothing more to give.
  bool decodeNext(DecodedFrame& target, const ffmpeg::StreamDecoder::PacketChooser& choose) {
    for (;;) {
      const int received = decoder_.receiveFrame(*target.frame);
      if (received == 0) {
        const int64_t timestamp = ffmpeg::presentationTimestamp(*target.frame);
        if (timestamp == AV_NOPTS_VALUE) continue;  // a frame that cannot be placed is skipped
        target.timeSec = streamTimestampToSeconds(timestamp, decoder_.stream().time_base,
                                                  asset_.presentationStartSec());
        target.present = true;
        atStart_ = false;
        if (observe_) observe_(*target.frame, target.timeSec);
        return true;
      }
      if (received == AVERROR_EOF) {
        endOfStream_ = true;
        return false;
      }
      // EAGAIN: the decoder wants input. Any other error is a broken frame, which the decoder
      // recovers from at the next keyframe; either way it gets the next packet.
      if (draining_) {
        endOfStream_ = true;
        return false;
      }
      draining_ = !decoder_.feedPacket([&](const AVPacket& packet) {
        const PacketUse use = choose(packet);
        stoppedEarly_ = use == PacketUse::endHere;
        return use;
      });
    }
  }

  // The picture's size before turning, so that after turning it fits the bounding box.
  cv::Size scaledSize() const {
    const bool turned =
        settings_.appliesPreferredTrackTransform && track_.rotationDegrees % 180 != 0;
    const double displayWidth = turned ? track_.naturalHeight : track_.naturalWidth;
    const double displayHeight = turned ? track_.naturalWidth : track_.naturalHeight;
    double scale = 1.0;
    if (settings_.maximumWidth > 0) scale = std::min(scale, settings_.maximumWidth / displayWidth);
    if (settings_.maximumHeight > 0)
      scale = std::min(scale, settings_.maximumHeight / displayHeight);
    const int width = std::max(1, static_cast<int>(std::lround(track_.naturalWidth * scale)));
    const int height = std::max(1, static_cast<int>(std::lround(track_.naturalHeight * scale)));
    return {width, height};
  }

  cv::Mat toImage(const AVFrame& frame) {
    cv::Mat image;
    try {
      image = convert_(frame, outputSize_);
    } catch (const MediaError&) {
      throw MediaError("The video of " + asset_.quotedName() + " cannot be converted.");
    }
    if (!settings_.appliesPreferredTrackTransform) return image;
    switch (track_.rotationDegrees) {
      case 90:
        cv::rotate(image, image, cv::ROTATE_90_CLOCKWISE);
        break;
      case 180:
        cv::rotate(image, image, cv::ROTATE_180);
        break;
      case 270:
        cv::rotate(image, image, cv::ROTATE_90_COUNTERCLOCKWISE);
        break;
      default:
        break;
    }
    return image;
  }

  const Asset asset_;
  const VideoTrack track_;
  const ImageGeneratorSettings settings_;
  ffmpeg::StreamDecoder decoder_;
  PictureConverter convert_;
  cv::Size outputSize_;
  DecodedFrame previous_;
  DecodedFrame current_;
  bool endOfStream_ = false;
  bool stoppedEarly_ = false;  // we stopped handing over packets before the file's end
  PictureObserver observe_;
  std::optional<std::vector<double>> keyframeTimes_;  // from the index, read on first use
  double longestKeyframeIntervalSec_ = 0;
  bool draining_ = false;
  bool atStart_ = true;  // nothing read since the file was opened or rewound
};

ImageGenerator::ImageGenerator(const Asset& asset, const ImageGeneratorSettings& settings)
    : decoder_(std::make_unique<Decoder>(asset, settings)) {}
ImageGenerator::ImageGenerator(ImageGenerator&&) noexcept = default;
ImageGenerator& ImageGenerator::operator=(ImageGenerator&&) noexcept = default;
ImageGenerator::~ImageGenerator() = default;

cv::Mat ImageGenerator::image(double timeSec) {
  // A caller asking one picture at a time is taken to go on the way it came: a step that
  // crossed a keyframe will likely cross the next one too.
  const double latest = decoder_->windowAround(timeSec).latestSec;
  const bool alone = !previousLatestSec_ || *previousLatestSec_ > latest ||
                     decoder_->keyframeBetween(*previousLatestSec_, latest);
  previousLatestSec_ = latest;
  std::optional<cv::Mat> image = decoder_->imageAt(timeSec, alone);
  if (!image) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", timeSec);
    throw MediaError("The video " + decoder_->asset().quotedName() + " has no picture at " +
                     seconds + " s.");
  }
  return std::move(*image);
}

void ImageGenerator::observeDecodedPictures(PictureObserver observe) {
  decoder_->observe(std::move(observe));
}

void ImageGenerator::images(const std::vector<double>& timesSec,
                            const std::function<bool(GeneratedImage)>& deliver) {
  std::vector<size_t> order(timesSec.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return timesSec[a] < timesSec[b]; });
  for (size_t position = 0; position < order.size(); ++position) {
    const size_t index = order[position];
    GeneratedImage result;
    result.requestedTimeSec = timesSec[index];
    try {
      const bool last = position + 1 == order.size();
      const bool alone =
          last || decoder_->keyframeBetween(decoder_->windowAround(timesSec[index]).latestSec,
                                            decoder_->windowAround(timesSec[order[position + 1]]).latestSec);
      result.image = decoder_->imageAt(timesSec[index], alone);
      if (!result.image) result.error = "no picture within the tolerance";
    } catch (const std::exception& error) {
      result.error = error.what();
    }
    if (!deliver(std::move(result))) return;
  }
}

}  // namespace brisklet
