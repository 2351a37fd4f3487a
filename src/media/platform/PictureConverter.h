#pragma once

#include <opencv2/core.hpp>

#include "media/platform/FFmpegHandles.h"

namespace brisklet {

// Turns decoded pictures into BGR images (OpenCV's order) of a chosen size, honouring each
// picture's colour matrix and range. A picture that names no matrix is read as players read one:
// BT.709 when it is high definition (1280×720 or more), BT.601 below. Keeps its libswscale
// context from one picture to the next.
class PictureConverter {
 public:
  // Throws MediaError when libswscale cannot convert the picture's format.
  cv::Mat operator()(const AVFrame& frame, cv::Size size);
  // The pictures to come were scaled from a video of this size, which decides their matrix when
  // they name none; by default their own size does.
  void setOriginalSize(int width, int height);

 private:
  ffmpeg::ScaleContext scaler_;
  int originalWidth_ = 0;
  int originalHeight_ = 0;
};

}  // namespace brisklet
