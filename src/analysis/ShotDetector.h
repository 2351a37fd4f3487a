#pragma once

#include <opencv2/core.hpp>
#include <optional>
#include <vector>

namespace brisklet::ShotDetector {

// A frame's visual fingerprint. Frames of one shot lie close together even while the camera
// moves or the light changes; frames of different shots lie far apart.
struct FeaturePrint {
  std::vector<float> values;
};

// One step between two consecutive printed frames.
struct FrameDistance {
  double timeSec = 0;  // the later frame's sample time
  double distance = 0;

  bool operator==(const FrameDistance&) const = default;
};

// The distances of a sampled stream, built one frame at a time; only the first and the last
// print are held, the first so that series of consecutive pieces can be joined.
struct DistanceSeries {
  std::optional<FeaturePrint> firstPrint;
  double firstTimeSec = 0;
  std::optional<FeaturePrint> previousPrint;
  std::vector<FrameDistance> distances;
};

// The cut rule: a distance is a cut when it stands above 2.5 × the median of the 12 before it
// and above 0.35; cuts closer than 1.5 s to the previous accepted one are dropped.
inline constexpr int kMinimumDistances = 3;
inline constexpr int kLookBack = 12;
inline constexpr double kRatio = 2.5;
inline constexpr double kAbsoluteFloor = 0.35;
inline constexpr double kMinimumGapSec = 1.5;

// The print of an 8-bit BGR (or grey) picture; none for an empty one.
std::optional<FeaturePrint> featurePrint(const cv::Mat& image);

// 0 for identical prints; about 0.1 within a moving shot, 0.6 and more across a cut. Prints of
// different lengths are as far apart as can be.
double distance(const FeaturePrint& earlier, const FeaturePrint& later);

// Prints `image` and appends its distance from the previous print. A picture that cannot be
// printed leaves no trace, not even a gap in the chain of prints.
void addFrame(DistanceSeries& series, const cv::Mat& image, double timeSec);

// The series of consecutive pieces of one sampled stream, printed separately, as one: the step
// from each piece's last print to the next piece's first is put between their distances.
DistanceSeries joined(std::vector<DistanceSeries> pieces);

// The cut times, ascending.
std::vector<double> boundaries(const std::vector<FrameDistance>& distances);

}  // namespace brisklet::ShotDetector
