#include "media/platform/ImageGenerator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <opencv2/core.hpp>

#include "media/platform/FormatReader.h"
#include "media/platform/MediaError.h"
#include "media/platform/MediaTime.h"

extern "C" {
#include <libavutil/imgutils.h>
}

namespace brisklet {
namespace {

// Without an index, a target this close ahead is reached faster by decoding than by seeking.
constexpr double kDecodeAheadWithoutIndexSec = 1.0;
// Frames that no other frame refers to are not decoded while the target is further ahead than
// this; a frame-threaded decoder returns frames a few frames after their packets go in, so the
// margin covers that delay.
constexpr double kSkipNonReferenceAheadSec = 0.15;
// Pictures shrunk this much or more are decoded without the deblocking filter: its effect is
// smaller than an output pixel, and it is a large share of H.264 decoding time.
constexpr double kSkipLoopFilterShrink = 3.0;

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
        decoder_(asset.file(), track_.streamIndex) {
    if (!previous_.frame || !current_.frame)
      throw MediaError("Out of memory while reading " + asset_.quotedName() + ".");
    outputSize_ = scaledSize();
    if (track_.naturalWidth >= kSkipLoopFilterShrink * outputSize_.width)
      decoder_.codec().skip_loop_filter = AVDISCARD_ALL;
  }

  const Asset& asset() const { return asset_; }

  // A picture within the tolerance of `timeSec`: the nearest one when decoding on from where we
  // are, the first one reached after a seek; none when the stream has none there.
  std::optional<cv::Mat> imageAt(double timeSec) {
    if (!std::isfinite(timeSec)) return std::nullopt;
    const double earliest = timeSec - settings_.toleranceBeforeSec;
    const double latest = timeSec + settings_.toleranceAfterSec;
    // After a seek any frame within the tolerance will do, so decoding stops at the first one;
    // a keyframe inside the tolerance is the cheapest of all. Decoding on from where we are
    // costs the same either way, so there the nearest frame is taken.
    bool firstWithinToleranceWillDo = false;
    if (needsSeek(timeSec)) {
      // Seeks take presentation times and land on the keyframe at or before them.
      const std::optional<double> keyframe = keyframeAtOrBefore(latest);
      seek(keyframe && *keyframe >= earliest ? latest : earliest, latest);
      firstWithinToleranceWillDo = true;
    }
    const auto within = [&](const DecodedFrame& frame) {
      return frame.present && frame.timeSec >= earliest - 1e-9 && frame.timeSec <= latest + 1e-9;
    };
    // Decode until the newest frame reaches the target; the one before it stays as the
    // other candidate.
    while (!endOfStream_ && (!current_.present || current_.timeSec < timeSec) &&
           !(firstWithinToleranceWillDo && within(current_))) {
      const bool farFromTarget =
          current_.present && earliest - current_.timeSec > kSkipNonReferenceAheadSec;
      decoder_.codec().skip_frame = farFromTarget ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
      std::swap(previous_, current_);
      if (!decodeNext(current_)) {
        // The older frame's buffer was handed to the decoder and is gone; the newest stays.
        std::swap(previous_, current_);
        previous_.present = false;
        break;
      }
    }
    const DecodedFrame* best = nullptr;
    double bestDistance = INFINITY;
    for (const DecodedFrame* candidate : {&previous_, &current_}) {
      const double distance = std::fabs(candidate->timeSec - timeSec);
      if (within(*candidate) && distance < bestDistance) {
        best = candidate;
        bestDistance = distance;
      }
    }
    if (best == nullptr) return std::nullopt;
    return toImage(*best->frame);
  }

 private:
  bool needsSeek(double timeSec) {
    if (!current_.present && !previous_.present) {
      // A decoder that has read nothing yet stands at the start: near it, decoding is the way.
      return !(atStart_ && timeSec - settings_.toleranceBeforeSec < kDecodeAheadWithoutIndexSec);
    }
    const double newest = current_.present ? current_.timeSec : previous_.timeSec;
    const double oldest = previous_.present ? previous_.timeSec : current_.timeSec;
    if (timeSec < oldest) return true;  // behind what we hold
    if (timeSec <= newest) return false;
    if (endOfStream_) return false;
    const double latest = timeSec + settings_.toleranceAfterSec;
    // Decoding on would pass through a keyframe that lies ahead of us and not after the latest
    // acceptable frame; jumping to it skips everything before it.
    if (const auto keyframe = keyframeAtOrBefore(latest); keyframe && *keyframe > newest + 1e-6)
      return true;
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

  // Seeks to the keyframe at or before `timeSec` and decodes the first frame into current_. A
  // first frame after `latestUsefulSec` means the seek landed late, as seeks in some containers
  // (MPEG program streams, files without an index) do: then it backs off further, down to the
  // start of the file.
  void seek(double timeSec, double latestUsefulSec) {
    double target = timeSec;
    for (double backOff = 1.0;; backOff *= 2) {
      if (target <= 0) {
        seekToStart();
      } else {
        const int64_t timestamp =
            toStreamTimestamp(MediaTime::fromSeconds(target), decoder_.stream().time_base,
                              asset_.presentationStartSec());
        // A failed seek leaves the position where it was; the check below catches a bad spot.
        av_seek_frame(&decoder_.format(), track_.streamIndex, timestamp, AVSEEK_FLAG_BACKWARD);
        resetDecoder();
      }
      if (!decodeNext(current_)) return;  // nothing from here on
      if (current_.timeSec <= latestUsefulSec + 1e-6 || target <= 0) return;
      target -= backOff;
    }
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
    draining_ = false;
    atStart_ = false;
  }

  // Decodes the next frame into `target`. False at the end of the stream.
  bool decodeNext(DecodedFrame& target) {
    for (;;) {
      const int received = avcodec_receive_frame(&decoder_.codec(), target.frame.get());
      if (received == 0) {
        const int64_t timestamp = target.frame->best_effort_timestamp != AV_NOPTS_VALUE
                                      ? target.frame->best_effort_timestamp
                                      : target.frame->pts;
        if (timestamp == AV_NOPTS_VALUE) continue;  // a frame that cannot be placed is skipped
        target.timeSec = streamTimestampToSeconds(timestamp, decoder_.stream().time_base,
                                                  asset_.presentationStartSec());
        target.present = true;
        atStart_ = false;
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
      draining_ = !decoder_.feedPacket();
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

  // The old "J" formats are plain YUV in full range; libswscale wants them said that way.
  static AVPixelFormat withoutFullRangeAlias(AVPixelFormat format, bool& fullRange) {
    switch (format) {
      case AV_PIX_FMT_YUVJ420P:
        fullRange = true;
        return AV_PIX_FMT_YUV420P;
      case AV_PIX_FMT_YUVJ422P:
        fullRange = true;
        return AV_PIX_FMT_YUV422P;
      case AV_PIX_FMT_YUVJ444P:
        fullRange = true;
        return AV_PIX_FMT_YUV444P;
      case AV_PIX_FMT_YUVJ440P:
        fullRange = true;
        return AV_PIX_FMT_YUV440P;
      default:
        return format;
    }
  }

  cv::Mat toImage(const AVFrame& frame) {
    bool fullRange = frame.color_range == AVCOL_RANGE_JPEG;
    const AVPixelFormat format =
        withoutFullRangeAlias(static_cast<AVPixelFormat>(frame.format), fullRange);
    scaler_.reset(sws_getCachedContext(scaler_.release(), frame.width, frame.height, format,
                                       outputSize_.width, outputSize_.height, AV_PIX_FMT_BGR24,
                                       SWS_AREA, nullptr, nullptr, nullptr));
    if (!scaler_) throw MediaError("The video of " + asset_.quotedName() + " cannot be converted.");
    const int* coefficients = sws_getCoefficients(
        frame.colorspace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : frame.colorspace);
    sws_setColorspaceDetails(scaler_.get(), coefficients, fullRange ? 1 : 0, coefficients, 1, 0,
                             1 << 16, 1 << 16);
    // libswscale's vector code may write a few bytes past the last row; a spare row takes them.
    cv::Mat padded(outputSize_.height + 1, outputSize_.width, CV_8UC3);
    cv::Mat image = padded.rowRange(0, outputSize_.height);
    uint8_t* destination[4] = {image.data, nullptr, nullptr, nullptr};
    int destinationStride[4] = {static_cast<int>(image.step), 0, 0, 0};
    sws_scale(scaler_.get(), frame.data, frame.linesize, 0, frame.height, destination,
              destinationStride);
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
  ffmpeg::ScaleContext scaler_;
  cv::Size outputSize_;
  DecodedFrame previous_;
  DecodedFrame current_;
  bool endOfStream_ = false;
  bool draining_ = false;
  bool atStart_ = true;  // nothing read since the file was opened or rewound
};

ImageGenerator::ImageGenerator(const Asset& asset, const ImageGeneratorSettings& settings)
    : decoder_(std::make_unique<Decoder>(asset, settings)) {}
ImageGenerator::ImageGenerator(ImageGenerator&&) noexcept = default;
ImageGenerator& ImageGenerator::operator=(ImageGenerator&&) noexcept = default;
ImageGenerator::~ImageGenerator() = default;

cv::Mat ImageGenerator::image(double timeSec) {
  std::optional<cv::Mat> image = decoder_->imageAt(timeSec);
  if (!image) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", timeSec);
    throw MediaError("The video " + decoder_->asset().quotedName() + " has no picture at " +
                     seconds + " s.");
  }
  return std::move(*image);
}

void ImageGenerator::images(const std::vector<double>& timesSec,
                            const std::function<bool(GeneratedImage)>& deliver) {
  std::vector<size_t> order(timesSec.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return timesSec[a] < timesSec[b]; });
  for (const size_t index : order) {
    GeneratedImage result;
    result.requestedTimeSec = timesSec[index];
    try {
      result.image = decoder_->imageAt(timesSec[index]);
      if (!result.image) result.error = "no picture within the tolerance";
    } catch (const std::exception& error) {
      result.error = error.what();
    }
    if (!deliver(std::move(result))) return;
  }
}

}  // namespace brisklet
