#pragma once

#include <memory>
#include <opencv2/core.hpp>
#include <vector>

#include "model/EditPlan.h"

namespace brisklet {

// Finds faces in sampled pictures with OpenCV's frontal-face detector and the model Debian's
// opencv-data installs. One finder serves one thread (OpenCV's detector is not shared).
class FaceFinder {
 public:
  FaceFinder();
  ~FaceFinder();
  FaceFinder(FaceFinder&&) noexcept;
  FaceFinder& operator=(FaceFinder&&) noexcept;

  // False when the model could not be read: every picture then holds no face, and crops stay
  // centred.
  bool available() const;

  // The faces in `picture` (8-bit BGR, upright), as boxes in shares of the picture, at `timeSec`.
  // Pictures come in time order: a face turned away is looked for only within a moment after a
  // face that looked at the camera.
  std::vector<FacePosition> faces(const cv::Mat& picture, double timeSec);

 private:
  class Detector;
  std::unique_ptr<Detector> detector_;
};

namespace FaceFinding {

// The main face of a scene from every face found in its `sampleCount` samples (in time order):
// detections are linked from sample to sample into tracks, and the track with the most face area
// summed over time that is seen in at least a third of the samples (and two) wins. Empty when no
// track persists that long.
std::vector<FacePosition> mainFace(const std::vector<FacePosition>& detections, size_t sampleCount);

}  // namespace FaceFinding
}  // namespace brisklet
