#pragma once

#include <opencv2/core.hpp>
#include <vector>

#include "media/platform/Asset.h"
#include "media/platform/FFmpegHandles.h"

namespace brisklet {

struct TimedPicture {
  double timeSec = 0;  // source time at which the picture starts
  cv::Mat image;       // 8-bit BGR
};

// Shrinks decoded pictures to one small size, not turned, for comparing them with one another:
// every pixel is taken from the nearest source pixel, a few microseconds for 8-bit YUV (some 70
// through libswscale for other formats), where area averaging costs 650 at 1080p. One per thread.
class PictureShrinker {
 public:
  explicit PictureShrinker(cv::Size size) : size_(size) {}
  // Throws MediaError when the picture's format cannot be converted.
  cv::Mat operator()(const AVFrame& frame);

 private:
  cv::Size size_;
  ffmpeg::ScaleContext scaler_;
};

// Every picture of the first video track from `fromSec` through `toSec` (source time), in order,
// each shrunk to `size` and not turned: for comparing neighbouring pictures frame by frame.
// Decoding starts at the keyframe before `fromSec`; pictures before it are decoded only where
// later ones refer to them, and nothing after `toSec` is decoded. One decoding thread, so that
// several runs can go side by side. Throws MediaError when the video cannot be read.
std::vector<TimedPicture> picturesBetween(const Asset& asset, double fromSec, double toSec,
                                          cv::Size size);

}  // namespace brisklet
