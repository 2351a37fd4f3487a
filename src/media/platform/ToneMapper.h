#pragma once

#include <optional>

#include "media/platform/FFmpegHandles.h"
#include "media/platform/FilterChain.h"

namespace brisklet {

// Whether pictures of this transfer (FFmpeg's AVColorTransferCharacteristic) are high dynamic
// range: PQ or HLG, as phones record by default.
bool isHighDynamicRange(int colourTransfer);

// Makes high-dynamic-range pictures standard: linear light, highlights rolled off by Hable's
// curve, BT.2020 colours brought into BT.709, the BT.709 transfer, 8-bit 4:2:0 in limited range,
// tagged so. Ordinary pictures pass untouched. One per decoder: every picture the app shows,
// analyses or exports comes through one, so none of them can disagree.
class ToneMapper {
 public:
  // `frame` made standard in place; a standard one is left as it is. `timeBase`: of its stream.
  // Throws MediaError when FFmpeg refuses the picture.
  void makeStandard(AVFrame& frame, AVRational timeBase);

 private:
  std::optional<FilterChain> chain_;
  int width_ = 0;
  int height_ = 0;
  int format_ = -1;
  int transfer_ = -1;
};

}  // namespace brisklet
