#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <opencv2/core.hpp>
#include <optional>
#include <thread>
#include <vector>

#include "media/platform/ImageGenerator.h"
#include "media/platform/PictureRun.h"

namespace brisklet {

// One decoded sample: the requested time (not the delivered frame's) and the picture, upright
// and scaled into the generator's bounding box. When asked for, also every picture the decoder
// gave out since the previous sample (those before a sample's tolerance that nothing refers to
// are never decoded), shrunk for comparing, in presentation order.
struct SampledFrame {
  double timeSec = 0;
  cv::Mat image;
  std::vector<TimedPicture> decodedPictures;
};

// The frames of a FrameSampler::frames call, produced on a thread of their own into an unbounded
// queue (the producer never waits). Destroying the stream stops the producer; the producer
// finishing ends the stream.
class FrameStream {
 public:
  // `decodedPicturesSize`: the size of the decoded pictures handed along; none: not handed.
  FrameStream(ImageGenerator generator, std::vector<double> timesSec,
              std::optional<cv::Size> decodedPicturesSize = std::nullopt);
  FrameStream(const FrameStream&) = delete;
  FrameStream& operator=(const FrameStream&) = delete;
  ~FrameStream();

  // The next frame in delivery order, waiting for it; none once every time has been answered.
  std::optional<SampledFrame> next();

 private:
  void produce(std::stop_token stop, ImageGenerator generator, std::vector<double> timesSec,
               std::optional<cv::Size> decodedPicturesSize);

  std::mutex mutex_;
  std::condition_variable_any arrived_;
  std::deque<SampledFrame> queue_;
  bool finished_ = false;
  std::jthread producer_;  // last: it starts after, and stops before, the members it uses
};

namespace FrameSampler {

// The generator profile of the sampled stream: 320-px bounding box, ±0.1 s, upright.
inline constexpr ImageGeneratorSettings kSamplingSettings{.maximumWidth = 320,
                                                          .maximumHeight = 320,
                                                          .toleranceBeforeSec = 0.1,
                                                          .toleranceAfterSec = 0.1,
                                                          .appliesPreferredTrackTransform = true};

// i / fps for every i with i / fps < durationSec, each computed from its index so no error
// accumulates; empty when either is not positive.
std::vector<double> sampleTimes(double durationSec, double fps);

// The frames at `timesSec`. A time with no picture (past the end, undecodable) is skipped. With
// `decodedPicturesSize`, each frame also carries the pictures decoded on the way, at that size.
std::unique_ptr<FrameStream> frames(ImageGenerator generator, std::vector<double> timesSec,
                                    std::optional<cv::Size> decodedPicturesSize = std::nullopt);

}  // namespace FrameSampler

}  // namespace brisklet
