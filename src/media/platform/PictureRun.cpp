#include "media/platform/PictureRun.h"

#include <opencv2/imgproc.hpp>

#include "media/platform/FormatReader.h"
#include "media/platform/MediaError.h"
#include "media/platform/MediaTime.h"

extern "C" {
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace brisklet {
namespace {

// Timestamps of neighbouring pictures are this much apart at the very least.
constexpr double kTimeSlackSec = 0.001;
// Pictures shown before `toSec` may be sent after later ones they refer to (B-frames): packets
// this far past it are still read, only the referenced ones decoded.
constexpr double kReorderSec = 0.3;

}  // namespace

cv::Mat PictureShrinker::operator()(const AVFrame& frame) {
  // 8-bit planar YUV, what cameras and phones record: each output pixel gathered straight from
  // the nearest source sample, a few microseconds for any size.
  const auto* format = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
  if (format != nullptr && !(format->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) &&
      format->nb_components >= 3 && format->comp[0].depth == 8 && format->comp[1].plane == 1 &&
      format->comp[2].plane == 2 && frame.width > 0 && frame.height > 0) {
    cv::Mat yuv(size_, CV_8UC3);
    for (int row = 0; row < size_.height; ++row) {
      const int y = row * frame.height / size_.height;
      const int chromaY = y >> format->log2_chroma_h;
      const uint8_t* luma = frame.data[0] + static_cast<std::ptrdiff_t>(y) * frame.linesize[0];
      const uint8_t* u = frame.data[1] + static_cast<std::ptrdiff_t>(chromaY) * frame.linesize[1];
      const uint8_t* v = frame.data[2] + static_cast<std::ptrdiff_t>(chromaY) * frame.linesize[2];
      auto* out = yuv.ptr<cv::Vec3b>(row);
      for (int column = 0; column < size_.width; ++column) {
        const int x = column * frame.width / size_.width;
        const int chromaX = x >> format->log2_chroma_w;
        out[column] = cv::Vec3b(luma[x], v[chromaX], u[chromaX]);
      }
    }
    cv::Mat image;
    cv::cvtColor(yuv, image, cv::COLOR_YCrCb2BGR);
    return image;
  }
  scaler_.reset(sws_getCachedContext(scaler_.release(), frame.width, frame.height,
                                     static_cast<AVPixelFormat>(frame.format), size_.width,
                                     size_.height, AV_PIX_FMT_BGR24, SWS_POINT, nullptr, nullptr,
                                     nullptr));
  if (!scaler_) throw MediaError("A picture could not be converted for comparing.");
  // libswscale's vector code may write a few bytes past the last row; a spare row takes them.
  cv::Mat padded(size_.height + 1, size_.width, CV_8UC3);
  cv::Mat image = padded.rowRange(0, size_.height);
  uint8_t* destination[4] = {image.data, nullptr, nullptr, nullptr};
  int stride[4] = {static_cast<int>(image.step), 0, 0, 0};
  sws_scale(scaler_.get(), frame.data, frame.linesize, 0, frame.height, destination, stride);
  return image.clone();
}

std::vector<TimedPicture> picturesBetween(const Asset& asset, double fromSec, double toSec,
                                          cv::Size size) {
  const int streamIndex = asset.firstVideoTrack().streamIndex;
  ffmpeg::StreamDecoder decoder(asset.file(), streamIndex, 1);
  const AVRational timeBase = decoder.stream().time_base;
  const double origin = asset.presentationStartSec();
  const std::int64_t target =
      toStreamTimestamp(MediaTime::fromSeconds(std::max(0.0, fromSec)), timeBase, origin);
  if (av_seek_frame(&decoder.format(), streamIndex, target, AVSEEK_FLAG_BACKWARD) < 0)
    av_seek_frame(&decoder.format(), streamIndex, target, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);

  const auto secondsOf = [&](std::int64_t timestamp) {
    return streamTimestampToSeconds(timestamp, timeBase, origin);
  };
  const auto choose = [&](const AVPacket& packet) {
    if (packet.pts == AV_NOPTS_VALUE) return ffmpeg::StreamDecoder::PacketUse::decode;
    const double time = secondsOf(packet.pts);
    if (time > toSec + kReorderSec) return ffmpeg::StreamDecoder::PacketUse::endHere;
    const bool wanted = time >= fromSec - kTimeSlackSec && time <= toSec + kTimeSlackSec;
    return wanted ? ffmpeg::StreamDecoder::PacketUse::decode
                  : ffmpeg::StreamDecoder::PacketUse::decodeIfReferenced;
  };

  ffmpeg::Frame frame(av_frame_alloc());
  PictureShrinker shrink(size);
  if (!frame) throw MediaError("Out of memory while reading " + asset.quotedName() + ".");
  std::vector<TimedPicture> pictures;
  bool draining = false;
  for (;;) {
    const int received = decoder.receiveFrame(*frame);
    if (received == 0) {
      const std::int64_t timestamp = ffmpeg::presentationTimestamp(*frame);
      if (timestamp == AV_NOPTS_VALUE) continue;
      const double time = secondsOf(timestamp);
      if (time >= fromSec - kTimeSlackSec && time <= toSec + kTimeSlackSec)
        pictures.push_back({time, shrink(*frame)});
      continue;
    }
    if (received == AVERROR_EOF || (draining && received == AVERROR(EAGAIN))) break;
    if (!draining) draining = !decoder.feedPacket(choose);
  }
  return pictures;
}

}  // namespace brisklet
