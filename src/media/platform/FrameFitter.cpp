#include "media/platform/FrameFitter.h"

#include <algorithm>
#include <cmath>
#include <string>

extern "C" {
#include <libavutil/imgutils.h>
}

#include "media/platform/MediaError.h"

namespace brisklet {
namespace {

std::string turning(int rotationDegrees) {
  switch (rotationDegrees) {
    case 90: return "transpose=clock,";
    case 180: return "hflip,vflip,";
    case 270: return "transpose=cclock,";
    default: return "";
  }
}

// Cuts off what lies outside the output, then pads what the picture leaves uncovered.
std::string turnAndScale(const FramePlacement& placement) {
  return turning(placement.rotationDegrees) + "scale=" + std::to_string(placement.width) + ":" +
         std::to_string(placement.height) + ":out_range=tv,format=yuv420p";
}

std::string cropAndPad(const FramePlacement& placement) {
  const int cropX = std::max(0, -placement.x);
  const int cropY = std::max(0, -placement.y);
  const int left = std::max(0, placement.x);
  const int top = std::max(0, placement.y);
  const int width = std::min(placement.width - cropX, placement.outputWidth - left);
  const int height = std::min(placement.height - cropY, placement.outputHeight - top);
  std::string filters;
  if (width < placement.width || height < placement.height)
    filters += ",crop=" + std::to_string(width) + ":" + std::to_string(height) + ":" +
               std::to_string(cropX) + ":" + std::to_string(cropY);
  if (width < placement.outputWidth || height < placement.outputHeight)
    filters += ",pad=" + std::to_string(placement.outputWidth) + ":" +
               std::to_string(placement.outputHeight) + ":" + std::to_string(left) + ":" +
               std::to_string(top) + ":color=black";
  return filters;
}

}  // namespace

FramePlacement placementOf(const AffineTransform& layer, int naturalWidth, int naturalHeight,
                           int outputWidth, int outputHeight) {
  FramePlacement placement;
  if (std::abs(layer.a) >= std::abs(layer.b))
    placement.rotationDegrees = layer.a >= 0 ? 0 : 180;
  else
    placement.rotationDegrees = layer.b > 0 ? 90 : 270;
  const Box box = boundingBox(layer, naturalWidth, naturalHeight);
  placement.width = std::max(2, 2 * static_cast<int>(std::lround(box.width / 2)));
  placement.height = std::max(2, 2 * static_cast<int>(std::lround(box.height / 2)));
  placement.x = static_cast<int>(std::lround(box.x));
  placement.y = static_cast<int>(std::lround(box.y));
  placement.outputWidth = outputWidth;
  placement.outputHeight = outputHeight;
  return placement;
}

FrameFitter::FrameFitter(const AVFrame& sample, AVRational timeBase,
                         const FramePlacement& placement)
    : chain_(sample, timeBase, turnAndScale(placement) + cropAndPad(placement) + ",setsar=1",
             "A picture could not be scaled") {}

const AVFrame& FrameFitter::place(const AVFrame& frame) { return chain_.apply(frame); }

MovingCrop::MovingCrop(const AVFrame& sample, AVRational timeBase, const FramePlacement& placement)
    : chain_(sample, timeBase, turnAndScale(placement) + ",setsar=1",
             "A picture could not be scaled"),
      placement_(placement),
      window_(av_frame_alloc()) {
  if (!window_) throw MediaError("Out of memory while rendering.");
  window_->format = AV_PIX_FMT_YUV420P;
  window_->width = placement.outputWidth;
  window_->height = placement.outputHeight;
  window_->sample_aspect_ratio = {1, 1};
  if (av_frame_get_buffer(window_.get(), 0) < 0) throw MediaError("Out of memory while rendering.");
}

void MovingCrop::scale(const AVFrame& frame) { scaled_ = &chain_.apply(frame); }

const AVFrame& MovingCrop::window(int x, int y) {
  const AVFrame& scaled = *scaled_;
  const int left = std::clamp(-x, 0, std::max(0, scaled.width - placement_.outputWidth)) & ~1;
  const int top = std::clamp(-y, 0, std::max(0, scaled.height - placement_.outputHeight)) & ~1;
  if (av_frame_make_writable(window_.get()) < 0) throw MediaError("Out of memory while rendering.");
  for (int plane = 0; plane < 3; ++plane) {
    const int shift = plane == 0 ? 0 : 1;
    av_image_copy_plane(
        window_->data[plane], window_->linesize[plane],
        scaled.data[plane] + (top >> shift) * scaled.linesize[plane] + (left >> shift),
        scaled.linesize[plane], (std::min(window_->width, scaled.width) + shift) >> shift,
        (std::min(window_->height, scaled.height) + shift) >> shift);
  }
  window_->pts = scaled.pts;
  return *window_;
}

}  // namespace brisklet
