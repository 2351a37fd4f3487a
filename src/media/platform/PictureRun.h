#pragma once

#include <opencv2/core.hpp>
#include <vector>

#include "media/platform/Asset.h"

namespace brisklet {

struct TimedPicture {
  double timeSec = 0;  // source time at which the picture starts
  cv::Mat image;       // 8-bit BGR
};

// Every picture of the first video track from `fromSec` through `toSec` (source time), in order,
// each shrunk to `size` and not turned: for comparing neighbouring pictures frame by frame.
// Decoding starts at the keyframe before `fromSec`; pictures before it are decoded only where
// later ones refer to them, and nothing after `toSec` is decoded. One decoding thread, so that
// several runs can go side by side. Throws MediaError when the video cannot be read.
std::vector<TimedPicture> picturesBetween(const Asset& asset, double fromSec, double toSec,
                                          cv::Size size);

}  // namespace brisklet
