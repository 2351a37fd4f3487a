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
constexpr double kSkipNonReferenceAheadSec = 0.3;

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
        decoder_(asset.file(), track_.streamIndex),
        stream_(&decoder_.stream()) {
    if (!previous_.frame || !current_.frame)
      throw MediaError("Out of memory while reading " + asset_.quotedName() + ".");
    outputSize_ = scaledSize();
  }

  const Asset& asset() const { return asset_; }

  // The picture nearest `timeSec` within the tolerance, or none.
  std::optional<cv::Mat> imageAt(double timeSec) {
    if (!std::isfinite(timeSec)) return std::nullopt;
    if (needsSeek(timeSec)) seek(timeSec - settings_.toleranceBeforeSec);
    // Decode until the newest frame reaches the target; the one before it stays as the
    // other candidate.
    while (!endOfStream_ && (!current_.present || current_.timeSec < timeSec)) {
      const bool farFromTarget =
          current_.present && timeSec - settings_.toleranceBeforeSec - current_.timeSec > kSkipNonReferenceAheadSec;
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
      if (!candidate->present) continue;
      const double distance = candidate->timeSec - timeSec;
      const bool within = distance >= -settings_.toleranceBeforeSec - 1e-9 &&
                          distance <= settings_.toleranceAfterSec + 1e-9;
      if (within && std::fabs(distance) < bestDistance) {
        best = candidate;
        bestDistance = std::fabs(distance);
      }
    }
    if (best == nullptr) return std::nullopt;
    return toImage(*best->frame);
  }

 private:
  bool needsSeek(double timeSec) const {
    if (!current_.present && !previous_.present) {
      // A decoder that has read nothing yet stands at the start: near it, decoding is the way.
      return !(atStart_ && timeSec - settings_.toleranceBeforeSec < kDecodeAheadWithoutIndexSec);
    }
    const double newest = current_.present ? current_.timeSec : previous_.timeSec;
    const double oldest = previous_.present ? previous_.timeSec : current_.timeSec;
    if (timeSec < oldest) return true;  // behind what we hold
    if (timeSec <= newest) return false;
    if (endOfStream_) return false;
    const std::optional<double> keyframe = keyframeAtOrBefore(timeSec - settings_.toleranceBeforeSec);
    if (keyframe) return *keyframe > newest;  // a keyframe lies between us and the target
    return timeSec - newest > kDecodeAheadWithoutIndexSec;
  }

  std::optional<double> keyframeAtOrBefore(double timeSec) const {
    const int64_t timestamp = toStreamTimestamp(MediaTime::fromSeconds(timeSec), stream_->time_base,
                                                asset_.presentationStartSec());
    const AVIndexEntry* entry = avformat_index_get_entry_from_timestamp(
        stream_, timestamp, AVSEEK_FLAG_BACKWARD);
    if (entry == nullptr) return std::nullopt;
    return streamTimestampToSeconds(entry->timestamp, stream_->time_base,
                                    asset_.presentationStartSec());
  }

  // Positions the decoder so that its first frame is at or before `timeSec`. Some containers
  // (MPEG program streams, files without an index) seek only roughly and may land late; then it
  // backs off further, down to the start of the file. The first frame is left in current_.
  void seek(double timeSec) {
    double target = timeSec;
    for (double backOff = 1.0;; backOff *= 2) {
      if (target <= 0) {
        seekToStart();
      } else {
        const int64_t timestamp = toStreamTimestamp(MediaTime::fromSeconds(target),
                                                    stream_->time_base, asset_.presentationStartSec());
        // A failed seek leaves the position where it was; the check below catches a bad spot.
        av_seek_frame(&decoder_.format(), track_.streamIndex, timestamp, AVSEEK_FLAG_BACKWARD);
        resetDecoder();
      }
      if (!decodeNext(current_)) return;  // nothing from here on
      if (current_.timeSec <= timeSec + 1e-6 || target <= 0) return;
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
        target.timeSec = streamTimestampToSeconds(timestamp, stream_->time_base,
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
    const bool turned = settings_.appliesPreferredTrackTransform && track_.rotationDegrees % 180 != 0;
    const double displayWidth = turned ? track_.naturalHeight : track_.naturalWidth;
    const double displayHeight = turned ? track_.naturalWidth : track_.naturalHeight;
    double scale = 1.0;
    if (settings_.maximumWidth > 0) scale = std::min(scale, settings_.maximumWidth / displayWidth);
    if (settings_.maximumHeight > 0) scale = std::min(scale, settings_.maximumHeight / displayHeight);
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
    const AVPixelFormat format = withoutFullRangeAlias(static_cast<AVPixelFormat>(frame.format), fullRange);
    scaler_.reset(sws_getCachedContext(scaler_.release(), frame.width, frame.height, format,
                                       outputSize_.width, outputSize_.height, AV_PIX_FMT_BGR24,
                                       SWS_AREA, nullptr, nullptr, nullptr));
    if (!scaler_) throw MediaError("The video of " + asset_.quotedName() + " cannot be converted.");
    const int* coefficients = sws_getCoefficients(
        frame.colorspace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : frame.colorspace);
    sws_setColorspaceDetails(scaler_.get(), coefficients, fullRange ? 1 : 0, coefficients, 1, 0,
                             1 << 16, 1 << 16);
    cv::Mat image(outputSize_, CV_8UC3);
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
  AVStream* stream_;
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
