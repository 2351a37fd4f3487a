#pragma once

#include <opencv2/core.hpp>

#include "media/platform/FFmpegHandles.h"

namespace brisklet {

// Turns decoded pictures into BGR images (OpenCV's order) of a chosen size, honouring each
// picture's colour matrix and range. Keeps its libswscale context from one picture to the next.
class PictureConverter {
 public:
  // Throws MediaError when libswscale cannot convert the picture's format.
  cv::Mat operator()(const AVFrame& frame, cv::Size size);

 private:
  ffmpeg::ScaleContext scaler_;
};

}  // namespace brisklet
