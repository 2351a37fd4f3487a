#include "media/platform/FrameFitter.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "media/platform/MediaError.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

namespace brisklet {
namespace {

struct FilterGraphDeleter {
  void operator()(AVFilterGraph* graph) const { avfilter_graph_free(&graph); }
};
struct FilterInOutDeleter {
  void operator()(AVFilterInOut* list) const { avfilter_inout_free(&list); }
};

std::string turning(int rotationDegrees) {
  switch (rotationDegrees) {
    case 90: return "transpose=clock,";
    case 180: return "hflip,vflip,";
    case 270: return "transpose=cclock,";
    default: return "";
  }
}

// Cuts off what lies outside the output, then pads what the picture leaves uncovered.
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

[[noreturn]] void refuse(int code) {
  throw MediaError("A picture could not be scaled: " + describeAVError(code) + ".");
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

class FrameFitter::Graph {
 public:
  Graph(const AVFrame& sample, AVRational timeBase, const FramePlacement& placement)
      : graph_(avfilter_graph_alloc()), placed_(av_frame_alloc()) {
    if (!graph_ || !placed_) refuse(AVERROR(ENOMEM));
    const AVRational aspect =
        sample.sample_aspect_ratio.num > 0 ? sample.sample_aspect_ratio : AVRational{1, 1};
    const std::string sourceArguments =
        "video_size=" + std::to_string(sample.width) + "x" + std::to_string(sample.height) +
        ":pix_fmt=" + std::to_string(sample.format) +
        ":time_base=" + std::to_string(timeBase.num) + "/" +
        std::to_string(std::max(1, timeBase.den)) +
        ":pixel_aspect=" + std::to_string(aspect.num) + "/" + std::to_string(aspect.den);
    int result = avfilter_graph_create_filter(&source_, avfilter_get_by_name("buffer"), "in",
                                              sourceArguments.c_str(), nullptr, graph_.get());
    if (result < 0) refuse(result);
    result = avfilter_graph_create_filter(&sink_, avfilter_get_by_name("buffersink"), "out",
                                          nullptr, nullptr, graph_.get());
    if (result < 0) refuse(result);

    const std::string chain = turning(placement.rotationDegrees) + "scale=" +
                              std::to_string(placement.width) + ":" +
                              std::to_string(placement.height) + ":out_range=tv,format=yuv420p" +
                              cropAndPad(placement) + ",setsar=1";
    std::unique_ptr<AVFilterInOut, FilterInOutDeleter> outputs(avfilter_inout_alloc());
    std::unique_ptr<AVFilterInOut, FilterInOutDeleter> inputs(avfilter_inout_alloc());
    if (!outputs || !inputs) refuse(AVERROR(ENOMEM));
    outputs->name = av_strdup("in");
    outputs->filter_ctx = source_;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = sink_;
    AVFilterInOut* openInputs = inputs.release();
    AVFilterInOut* openOutputs = outputs.release();
    result = avfilter_graph_parse_ptr(graph_.get(), chain.c_str(), &openInputs, &openOutputs,
                                      nullptr);
    avfilter_inout_free(&openInputs);
    avfilter_inout_free(&openOutputs);
    if (result < 0) refuse(result);
    result = avfilter_graph_config(graph_.get(), nullptr);
    if (result < 0) refuse(result);
  }

  const AVFrame& place(const AVFrame& frame) {
    int result = av_buffersrc_write_frame(source_, &frame);
    if (result < 0) refuse(result);
    av_frame_unref(placed_.get());
    result = av_buffersink_get_frame(sink_, placed_.get());
    if (result < 0) refuse(result);
    return *placed_;
  }

 private:
  std::unique_ptr<AVFilterGraph, FilterGraphDeleter> graph_;
  ffmpeg::Frame placed_;
  AVFilterContext* source_ = nullptr;
  AVFilterContext* sink_ = nullptr;
};

FrameFitter::FrameFitter(const AVFrame& sample, AVRational timeBase,
                         const FramePlacement& placement)
    : graph_(std::make_unique<Graph>(sample, timeBase, placement)) {}
FrameFitter::FrameFitter(FrameFitter&&) noexcept = default;
FrameFitter& FrameFitter::operator=(FrameFitter&&) noexcept = default;
FrameFitter::~FrameFitter() = default;

const AVFrame& FrameFitter::place(const AVFrame& frame) { return graph_->place(frame); }

}  // namespace brisklet
