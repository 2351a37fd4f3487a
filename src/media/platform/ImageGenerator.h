#pragma once

#include <functional>
#include <memory>
#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <vector>

#include "media/platform/Asset.h"

struct AVFrame;

namespace brisklet {

struct ImageGeneratorSettings {
  // Bounding box: the picture keeps its displayed shape, is never enlarged, and its sides fit.
  int maximumWidth = 0;   // 0: no limit
  int maximumHeight = 0;  // 0: no limit
  // A frame this far before or after the requested time is accepted.
  double toleranceBeforeSec = 0;
  double toleranceAfterSec = 0;
  // Turn pictures by the track's display matrix so they show upright.
  bool appliesPreferredTrackTransform = true;
  // Threads of the decoder; 0 lets FFmpeg choose. Several generators working on pieces of one
  // video side by side do better with one each than with FFmpeg's frame threads.
  int decodingThreads = 0;
  // Decode on through a keyframe the encoder placed out of its rhythm (at a scene change,
  // typically) instead of jumping to it, so the pictures just before it are decoded too: the
  // cut between two samples can then be seen picture by picture (observeDecodedPictures).
  bool decodesThroughSceneChanges = false;
};

// One answer of ImageGenerator::images.
struct GeneratedImage {
  double requestedTimeSec = 0;
  std::optional<cv::Mat> image;  // 8-bit BGR; none when no frame lies within the tolerance
  std::string error;             // why there is no image
};

// Still pictures from the first video track: seek to the keyframe before a time, decode forward
// to a frame within the tolerance, turn and scale it. Consecutive requests in the same stretch of
// the stream keep decoding instead of seeking again (and then get the nearest frame). Not
// thread-safe: one generator per thread.
class ImageGenerator {
 public:
  // Throws MediaError when the file has no video or its video cannot be decoded.
  ImageGenerator(const Asset& asset, const ImageGeneratorSettings& settings);
  ImageGenerator(ImageGenerator&&) noexcept;
  ImageGenerator& operator=(ImageGenerator&&) noexcept;
  ~ImageGenerator();

  // The picture at `timeSec`. Throws MediaError when there is none within the tolerance.
  cv::Mat image(double timeSec);

  // Answers every time, in ascending time order (not necessarily the order given); stops early
  // when `deliver` returns false.
  void images(const std::vector<double>& timesSec,
              const std::function<bool(GeneratedImage)>& deliver);

  // Hands every picture the decoder gives out, on the way to the requested ones, to `observe`
  // with its source time, in presentation order (pictures before the tolerance that nothing
  // refers to are never decoded, so they never come). The frame is valid only during the call.
  using PictureObserver = std::function<void(const AVFrame& picture, double timeSec)>;
  void observeDecodedPictures(PictureObserver observe);

 private:
  class Decoder;
  std::unique_ptr<Decoder> decoder_;
  std::optional<double> previousLatestSec_;  // of the last image() request
};

}  // namespace brisklet
