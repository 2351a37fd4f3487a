#pragma once

#include <memory>
#include <string>

#include "media/platform/FFmpegHandles.h"

namespace brisklet {

// A chain of libavfilter's video filters, written as ffmpeg's -vf takes it, that turns one
// picture into one picture.
class FilterChain {
 public:
  // The frames to come are like `sample` (size, pixel format, pixel aspect) and timed in
  // `timeBase`. Throws MediaError, starting with `failure`, when FFmpeg refuses the chain.
  FilterChain(const AVFrame& sample, AVRational timeBase, const std::string& chain,
              std::string failure);
  FilterChain(FilterChain&&) noexcept;
  FilterChain& operator=(FilterChain&&) noexcept;
  ~FilterChain();

  // The filtered picture of `frame`, valid until the next call. Throws MediaError when FFmpeg
  // refuses the frame.
  const AVFrame& apply(const AVFrame& frame);

 private:
  class Graph;
  std::unique_ptr<Graph> graph_;
};

}  // namespace brisklet
