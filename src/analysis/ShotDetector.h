#pragma once

#include <functional>
#include <opencv2/core.hpp>
#include <optional>
#include <vector>

namespace brisklet::ShotDetector {

// A frame's visual fingerprint. Frames of one shot lie close together even while the camera
// moves or the light changes; frames of different shots lie far apart.
struct FeaturePrint {
  std::vector<float> values;
  bool black = false;  // the picture is (nearly) all black: a fade's floor, not a shot
};

// What the pictures between two samples showed when looked at one by one: the first picture of
// a new shot, when one step between neighbouring pictures stood out; none when the change was
// spread over several steps.
struct CloserLook {
  std::optional<double> firstPictureSec;
  bool operator==(const CloserLook&) const = default;
};

// One step between two consecutive printed frames.
struct FrameDistance {
  double timeSec = 0;  // the later frame's sample time
  double distance = 0;
  bool black = false;  // the later frame is black
  // Taken while sampling, from the pictures the decoder gave out anyway, when they settle it.
  std::optional<CloserLook> look = std::nullopt;

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
// and above 0.35; cuts closer than 1.5 s to the previous accepted one are dropped. Between 0.25
// and 0.35 it is a cut only when a closer look, frame by frame, finds one picture where the shot
// changes (see docs/shot-detection.md).
inline constexpr int kMinimumDistances = 3;
inline constexpr int kLookBack = 12;
inline constexpr double kRatio = 2.5;
inline constexpr double kAbsoluteFloor = 0.35;
inline constexpr double kCandidateFloor = 0.25;
inline constexpr double kMinimumGapSec = 1.5;
// Samples are taken twice a second.
inline constexpr double kSampleStepSec = 0.5;

// Every picture is printed at this size, stretched: prints of one video always compare like
// with like, and noise and compression blocks are averaged away.
inline const cv::Size kWorkingSize(96, 64);

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

// A distance the rule looks at: the samples either side of it, and whether it clears the floor
// on its own.
struct Candidate {
  size_t index = 0;    // of its distance
  double fromSec = 0;  // the earlier sample
  double timeSec = 0;  // the later sample
  bool aboveFloor = false;
};

// Whether the distance at `index` stands above 2.5 × the median of the 12 before it (itself when
// there are none) and above the candidate floor.
bool isCandidate(const std::vector<FrameDistance>& distances, size_t index);

// The distances that stand above 2.5 × their local median and above the candidate floor, in
// time order; none when there are fewer than three distances.
std::vector<Candidate> candidates(const std::vector<FrameDistance>& distances);

// What a closer look between a candidate's two samples finds: the source time of the first
// picture of the new shot, when one step between pictures stands out; none otherwise.
using Look = std::function<std::optional<double>(const Candidate&)>;

// The cut times, ascending. Candidates are walked in order; one less than 1.5 s (in sample time)
// after the last accepted one is dropped; one below the floor needs the look to find its
// picture. An accepted cut lies at the picture the look found, or at its sample time when the
// change was spread over several pictures (a dissolve, a whip pan) or there is no look. Black
// between two shots is one transition: a gradual change out of black that the last cut went
// into, or into black that lasts to the end (the closing fade), adds no cut.
std::vector<double> boundaries(const std::vector<FrameDistance>& distances, const Look& look = {});

}  // namespace brisklet::ShotDetector
