#include "analysis/FrameSampler.h"

#include <cmath>

namespace brisklet {

FrameStream::FrameStream(ImageGenerator generator, std::vector<double> timesSec,
                         std::optional<cv::Size> decodedPicturesSize)
    : producer_(
          [this, decodedPicturesSize](std::stop_token stop, ImageGenerator movedGenerator,
                                      std::vector<double> movedTimes) {
            produce(std::move(stop), std::move(movedGenerator), std::move(movedTimes),
                    decodedPicturesSize);
          },
          std::move(generator), std::move(timesSec)) {}

FrameStream::~FrameStream() {
  producer_.request_stop();
  // jthread joins on destruction, after the producer noticed the stop at its next frame.
}

void FrameStream::produce(std::stop_token stop, ImageGenerator generator,
                          std::vector<double> timesSec,
                          std::optional<cv::Size> decodedPicturesSize) {
  std::vector<TimedPicture> decoded;
  std::optional<PictureShrinker> shrink;
  if (decodedPicturesSize) {
    shrink.emplace(*decodedPicturesSize);
    generator.observeDecodedPictures([&](const AVFrame& picture, double timeSec) {
      decoded.push_back({timeSec, (*shrink)(picture)});
    });
  }
  try {
    generator.images(timesSec, [&](GeneratedImage result) {
      if (stop.stop_requested()) return false;
      if (!result.image) return true;  // no picture at that time: skipped without a word
      {
        const std::lock_guard lock(mutex_);
        queue_.push_back(
            SampledFrame{result.requestedTimeSec, std::move(*result.image), std::move(decoded)});
        decoded.clear();
      }
      arrived_.notify_one();
      return true;
    });
  } catch (const std::exception&) {
    // The decoder gave up altogether; the frames delivered so far stand and the stream ends.
  }
  {
    const std::lock_guard lock(mutex_);
    finished_ = true;
  }
  arrived_.notify_all();
}

std::optional<SampledFrame> FrameStream::next() {
  std::unique_lock lock(mutex_);
  arrived_.wait(lock, [this] { return !queue_.empty() || finished_; });
  if (queue_.empty()) return std::nullopt;
  SampledFrame frame = std::move(queue_.front());
  queue_.pop_front();
  return frame;
}

namespace FrameSampler {

std::vector<double> sampleTimes(double durationSec, double fps) {
  std::vector<double> times;
  if (!(durationSec > 0) || !(fps > 0) || !std::isfinite(durationSec)) return times;
  const double step = 1.0 / fps;
  for (long index = 0;; ++index) {
    const double time = static_cast<double>(index) * step;
    if (!(time < durationSec)) break;
    times.push_back(time);
  }
  return times;
}

std::unique_ptr<FrameStream> frames(ImageGenerator generator, std::vector<double> timesSec,
                                    std::optional<cv::Size> decodedPicturesSize) {
  return std::make_unique<FrameStream>(std::move(generator), std::move(timesSec),
                                       decodedPicturesSize);
}

}  // namespace FrameSampler

}  // namespace brisklet
