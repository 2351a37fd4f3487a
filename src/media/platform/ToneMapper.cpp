#include "media/platform/ToneMapper.h"

#include "media/platform/MediaError.h"

namespace brisklet {
namespace {

// ffmpeg's own recipe for phone HDR on an ordinary screen: 100 nits of the source are white.
constexpr const char* kToStandard =
    "zscale=t=linear:npl=100,format=gbrpf32le,zscale=p=bt709,tonemap=tonemap=hable:desat=0,"
    "zscale=t=bt709:m=bt709:r=tv,format=yuv420p";

}  // namespace

bool isHighDynamicRange(int colourTransfer) {
  return colourTransfer == AVCOL_TRC_SMPTE2084 || colourTransfer == AVCOL_TRC_ARIB_STD_B67;
}

void ToneMapper::makeStandard(AVFrame& frame, AVRational timeBase) {
  if (!isHighDynamicRange(frame.color_trc)) return;
  if (!chain_ || frame.width != width_ || frame.height != height_ || frame.format != format_ ||
      frame.color_trc != transfer_) {
    chain_.emplace(frame, timeBase, kToStandard, "An HDR picture could not be tone-mapped");
    width_ = frame.width;
    height_ = frame.height;
    format_ = frame.format;
    transfer_ = frame.color_trc;
  }
  const AVFrame& standard = chain_->apply(frame);
  ffmpeg::Frame copy(av_frame_clone(&standard));
  if (!copy) throw MediaError("Out of memory while tone-mapping a picture.");
  // The decoder's timing stays with the picture whatever the filters kept of it.
  copy->pts = frame.pts;
  copy->best_effort_timestamp = frame.best_effort_timestamp;
  copy->pkt_duration = frame.pkt_duration;
  copy->key_frame = frame.key_frame;
  copy->pict_type = frame.pict_type;
  av_frame_unref(&frame);
  av_frame_move_ref(&frame, copy.get());
}

}  // namespace brisklet
