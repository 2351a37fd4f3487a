#include "media/platform/FilterChain.h"

#include <algorithm>

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

}  // namespace

class FilterChain::Graph {
 public:
  Graph(const AVFrame& sample, AVRational timeBase, const std::string& chain, std::string failure)
      : failure_(std::move(failure)), graph_(avfilter_graph_alloc()), filtered_(av_frame_alloc()) {
    if (!graph_ || !filtered_) refuse(AVERROR(ENOMEM));
    const AVRational aspect =
        sample.sample_aspect_ratio.num > 0 ? sample.sample_aspect_ratio : AVRational{1, 1};
    const std::string sourceArguments =
        "video_size=" + std::to_string(sample.width) + "x" + std::to_string(sample.height) +
        ":pix_fmt=" + std::to_string(sample.format) + ":time_base=" + std::to_string(timeBase.num) +
        "/" + std::to_string(std::max(1, timeBase.den)) +
        ":pixel_aspect=" + std::to_string(aspect.num) + "/" + std::to_string(aspect.den);
    int result = avfilter_graph_create_filter(&source_, avfilter_get_by_name("buffer"), "in",
                                              sourceArguments.c_str(), nullptr, graph_.get());
    if (result < 0) refuse(result);
    result = avfilter_graph_create_filter(&sink_, avfilter_get_by_name("buffersink"), "out",
                                          nullptr, nullptr, graph_.get());
    if (result < 0) refuse(result);

    std::unique_ptr<AVFilterInOut, FilterInOutDeleter> outputs(avfilter_inout_alloc());
    std::unique_ptr<AVFilterInOut, FilterInOutDeleter> inputs(avfilter_inout_alloc());
    if (!outputs || !inputs) refuse(AVERROR(ENOMEM));
    outputs->name = av_strdup("in");
    outputs->filter_ctx = source_;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = sink_;
    AVFilterInOut* openInputs = inputs.release();
    AVFilterInOut* openOutputs = outputs.release();
    result =
        avfilter_graph_parse_ptr(graph_.get(), chain.c_str(), &openInputs, &openOutputs, nullptr);
    avfilter_inout_free(&openInputs);
    avfilter_inout_free(&openOutputs);
    if (result < 0) refuse(result);
    result = avfilter_graph_config(graph_.get(), nullptr);
    if (result < 0) refuse(result);
  }

  const AVFrame& apply(const AVFrame& frame) {
    int result = av_buffersrc_write_frame(source_, &frame);
    if (result < 0) refuse(result);
    av_frame_unref(filtered_.get());
    result = av_buffersink_get_frame(sink_, filtered_.get());
    if (result < 0) refuse(result);
    return *filtered_;
  }

 private:
  [[noreturn]] void refuse(int code) const {
    throw MediaError(failure_ + ": " + describeAVError(code) + ".");
  }

  std::string failure_;
  std::unique_ptr<AVFilterGraph, FilterGraphDeleter> graph_;
  ffmpeg::Frame filtered_;
  AVFilterContext* source_ = nullptr;
  AVFilterContext* sink_ = nullptr;
};

FilterChain::FilterChain(const AVFrame& sample, AVRational timeBase, const std::string& chain,
                         std::string failure)
    : graph_(std::make_unique<Graph>(sample, timeBase, chain, std::move(failure))) {}
FilterChain::FilterChain(FilterChain&&) noexcept = default;
FilterChain& FilterChain::operator=(FilterChain&&) noexcept = default;
FilterChain::~FilterChain() = default;

const AVFrame& FilterChain::apply(const AVFrame& frame) { return graph_->apply(frame); }

}  // namespace brisklet
