#include "media/platform/PictureConverter.h"

#include <algorithm>

#include "media/platform/MediaError.h"

namespace brisklet {
namespace {

// The old "J" formats are plain YUV in full range; libswscale wants them said that way.
AVPixelFormat withoutFullRangeAlias(AVPixelFormat format, bool& fullRange) {
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

}  // namespace

void PictureConverter::setOriginalSize(int width, int height) {
  originalWidth_ = width;
  originalHeight_ = height;
}

cv::Mat PictureConverter::operator()(const AVFrame& frame, cv::Size size) {
  bool fullRange = frame.color_range == AVCOL_RANGE_JPEG;
  const AVPixelFormat format =
      withoutFullRangeAlias(static_cast<AVPixelFormat>(frame.format), fullRange);
  scaler_.reset(sws_getCachedContext(scaler_.release(), frame.width, frame.height, format,
                                     size.width, size.height, AV_PIX_FMT_BGR24, SWS_AREA, nullptr,
                                     nullptr, nullptr));
  if (!scaler_) throw MediaError("A picture cannot be converted.");
  const int width = originalWidth_ > 0 ? originalWidth_ : frame.width;
  const int height = originalHeight_ > 0 ? originalHeight_ : frame.height;
  const bool highDefinition = std::max(width, height) >= 1280 || std::min(width, height) >= 720;
  const int* coefficients = sws_getCoefficients(
      frame.colorspace != AVCOL_SPC_UNSPECIFIED ? frame.colorspace
                                                : (highDefinition ? SWS_CS_ITU709 : SWS_CS_ITU601));
  sws_setColorspaceDetails(scaler_.get(), coefficients, fullRange ? 1 : 0, coefficients, 1, 0,
                           1 << 16, 1 << 16);
  // libswscale's vector code may write a few bytes past the last row; a spare row takes them.
  cv::Mat padded(size.height + 1, size.width, CV_8UC3);
  cv::Mat image = padded.rowRange(0, size.height);
  uint8_t* destination[4] = {image.data, nullptr, nullptr, nullptr};
  int destinationStride[4] = {static_cast<int>(image.step), 0, 0, 0};
  sws_scale(scaler_.get(), frame.data, frame.linesize, 0, frame.height, destination,
            destinationStride);
  return image;
}

}  // namespace brisklet
