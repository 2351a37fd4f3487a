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

}  // namespace brisklet
