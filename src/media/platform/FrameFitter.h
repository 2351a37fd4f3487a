#pragma once

#include "media/platform/Composition.h"
#include "media/platform/FFmpegHandles.h"
#include "media/platform/FilterChain.h"

namespace brisklet {

// Where a decoded picture goes in an output frame: turned upright by `rotationDegrees`
// (clockwise), scaled to `width` x `height` and placed with its top left corner at `x`, `y` of
// an `outputWidth` x `outputHeight` frame; what falls outside is cut off, and the uncovered
// parts are black.
struct FramePlacement {
  int rotationDegrees = 0;
  int width = 0;
  int height = 0;
  int x = 0;
  int y = 0;
  int outputWidth = 0;
  int outputHeight = 0;

  bool operator==(const FramePlacement&) const = default;
};

// The placement a layer transform (a turn by a multiple of 90 degrees, a uniform scale and a
// shift) gives a picture of natural size `naturalWidth` x `naturalHeight`.
FramePlacement placementOf(const AffineTransform& layer, int naturalWidth, int naturalHeight,
                           int outputWidth, int outputHeight);

// Turns, scales and places decoded frames with FFmpeg's filters; every output frame is 8-bit
// 4:2:0 YUV in limited range.
class FrameFitter {
 public:
  // The frames to come are like `sample` (size, pixel format, pixel aspect) and timed in
  // `timeBase`.
  FrameFitter(const AVFrame& sample, AVRational timeBase, const FramePlacement& placement);

  // The placed picture of `frame`, valid until the next call. Throws MediaError when FFmpeg
  // refuses the frame.
  const AVFrame& place(const AVFrame& frame);

 private:
  FilterChain chain_;
};

// A crop window that moves over the picture: decoded frames are turned and scaled whole with
// FFmpeg's filters, once each, and every output frame is then copied from the scaled picture at
// the position asked for, so a new position needs no new filters.
class MovingCrop {
 public:
  // As FrameFitter's, for a placement whose picture covers the output (a crop; x and y are
  // given per window).
  MovingCrop(const AVFrame& sample, AVRational timeBase, const FramePlacement& placement);

  // Turns and scales `frame`; the windows to come are cut from it. Throws MediaError when FFmpeg
  // refuses the frame.
  void scale(const AVFrame& frame);
  // The output frame of the last scaled picture placed at `x`, `y` (held so that the picture
  // covers the output, and to even pixels, as a crop of 4:2:0 pictures is), valid until the next
  // call.
  const AVFrame& window(int x, int y);

 private:
  FilterChain chain_;
  FramePlacement placement_;
  const AVFrame* scaled_ = nullptr;
  ffmpeg::Frame window_;
};

}  // namespace brisklet
