#pragma once

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace brisklet {

// The 8-bit grey version of an 8-bit BGR, BGRA or grey picture (a grey one is returned as is).
inline cv::Mat greyImage(const cv::Mat& image) {
  if (image.channels() == 1) return image;
  cv::Mat grey;
  cv::cvtColor(image, grey, image.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
  return grey;
}

}  // namespace brisklet
