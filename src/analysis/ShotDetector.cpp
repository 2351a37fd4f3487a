#include "analysis/ShotDetector.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <opencv2/imgproc.hpp>

#include "analysis/GreyImage.h"
#include "analysis/QualityScorer.h"

namespace brisklet::ShotDetector {
namespace {

// A picture whose grey levels (of 255) average under this and hardly vary is black.
constexpr double kBlackestMean = 24;
constexpr double kBlackestDeviation = 12;

// The print is two blocks, each at most of length 1 and scaled by the square root of its
// weight, so the squared distance is the weighted sum of the blocks' squared distances.
//  - colour: the hue × saturation × value histogram. It ignores where things are, so camera
//    and subject motion hardly move it; a new place or light moves it a lot.
//  - structure: gradient orientations in the four quarters of the picture. Lines and textures
//    keep their direction while the camera moves, and differ between places of the same colours.
// A coarse grid of grey levels was tried as a third block and dropped: subject motion moves it
// as much as a cut does (see docs/shot-detection.md).
constexpr int kHueBins = 12, kSaturationBins = 4, kValueBins = 4;
constexpr int kOrientationBins = 8, kStructureCells = 2;
// Mean Sobel gradient strength per pixel below which a picture counts as smooth.
constexpr double kStructureStrengthFloor = 24.0;
constexpr double kColourWeight = 0.35, kStructureWeight = 0.65;

// Appends `block` (of length 1 at most) scaled to its weight.
void appendBlock(std::vector<float>& print, const std::vector<double>& block, double weight) {
  const double scale = std::sqrt(weight);
  for (const double value : block) print.push_back(static_cast<float>(value * scale));
}

// A pixel's vote split between the two nearest bins of one axis, by its distance from their
// centres: a colour drifting across a bin border (a light change, a slow white-balance shift)
// then moves the histogram smoothly instead of in a jump.
struct SoftBin {
  int lower, upper;
  double upperShare;
};

SoftBin softBin(double level, double range, int bins, bool circular) {
  const double position = level * bins / range - 0.5;
  int lower = static_cast<int>(std::floor(position));
  const double upperShare = position - lower;
  int upper = lower + 1;
  if (circular) {
    lower = (lower + bins) % bins;
    upper = upper % bins;
  } else {
    lower = std::clamp(lower, 0, bins - 1);
    upper = std::clamp(upper, 0, bins - 1);
  }
  return {lower, upper, upperShare};
}

// Square roots of the histogram's shares (the Hellinger embedding): the L2 distance of two such
// blocks behaves like a histogram distance, no single bin dominates, and the block has length 1.
std::vector<double> colourBlock(const cv::Mat& bgr) {
  cv::Mat hsv;
  cv::cvtColor(bgr, hsv, cv::COLOR_BGR2HSV);
  std::vector<double> histogram(kHueBins * kSaturationBins * kValueBins, 0.0);
  for (int row = 0; row < hsv.rows; ++row) {
    const auto* pixel = hsv.ptr<cv::Vec3b>(row);
    for (int column = 0; column < hsv.cols; ++column) {
      const SoftBin hue = softBin(pixel[column][0], 180.0, kHueBins, true);
      const SoftBin saturation = softBin(pixel[column][1], 256.0, kSaturationBins, false);
      const SoftBin value = softBin(pixel[column][2], 256.0, kValueBins, false);
      for (const auto& [h, hShare] :
           {std::pair{hue.lower, 1 - hue.upperShare}, std::pair{hue.upper, hue.upperShare}})
        for (const auto& [s, sShare] : {std::pair{saturation.lower, 1 - saturation.upperShare},
                                        std::pair{saturation.upper, saturation.upperShare}})
          for (const auto& [v, vShare] : {std::pair{value.lower, 1 - value.upperShare},
                                          std::pair{value.upper, value.upperShare}})
            histogram[(h * kSaturationBins + s) * kValueBins + v] += hShare * sShare * vShare;
    }
  }
  const double pixels = static_cast<double>(hsv.total());
  for (double& share : histogram) share = std::sqrt(share / pixels);
  return histogram;
}

std::vector<double> structureBlock(const cv::Mat& grey) {
  cv::Mat gradientX, gradientY, magnitude, angle;
  cv::Sobel(grey, gradientX, CV_32F, 1, 0);
  cv::Sobel(grey, gradientY, CV_32F, 0, 1);
  cv::cartToPolar(gradientX, gradientY, magnitude, angle);
  std::vector<double> histogram(kStructureCells * kStructureCells * kOrientationBins, 0.0);
  for (int row = 0; row < grey.rows; ++row) {
    const int cellRow = row * kStructureCells / grey.rows;
    const float* strength = magnitude.ptr<float>(row);
    const float* direction = angle.ptr<float>(row);
    for (int column = 0; column < grey.cols; ++column) {
      const int cell = cellRow * kStructureCells + column * kStructureCells / grey.cols;
      // Orientation without sign: an edge from dark to light is the same line as light to dark.
      const double unsigned_ = std::fmod(direction[column], CV_PI);
      const int bin =
          std::min(static_cast<int>(unsigned_ / CV_PI * kOrientationBins), kOrientationBins - 1);
      histogram[cell * kOrientationBins + bin] += strength[column];
    }
  }
  // Shares of all the gradient strength, or of a floor for pictures with hardly any edges, so
  // that the orientations of compression noise on a smooth picture weigh little.
  const double total = std::max(std::accumulate(histogram.begin(), histogram.end(), 0.0),
                                kStructureStrengthFloor * static_cast<double>(grey.total()));
  for (double& share : histogram) share = std::sqrt(share / total);
  return histogram;
}

}  // namespace

std::optional<FeaturePrint> featurePrint(const cv::Mat& image) {
  if (image.empty() || image.depth() != CV_8U) return std::nullopt;
  cv::Mat small;
  // Bars that letterbox or pillarbox the picture look the same in every shot: printed with it,
  // they would hide its cuts.
  cv::resize(image(QualityScorer::activeArea(image)), small, kWorkingSize, 0, 0, cv::INTER_AREA);
  if (small.channels() == 1) cv::cvtColor(small, small, cv::COLOR_GRAY2BGR);
  if (small.channels() == 4) cv::cvtColor(small, small, cv::COLOR_BGRA2BGR);
  const cv::Mat grey = greyImage(small);
  FeaturePrint print;
  appendBlock(print.values, colourBlock(small), kColourWeight);
  appendBlock(print.values, structureBlock(grey), kStructureWeight);
  cv::Scalar mean, deviation;
  cv::meanStdDev(grey, mean, deviation);
  print.black = mean[0] < kBlackestMean && deviation[0] < kBlackestDeviation;
  return print;
}

double distance(const FeaturePrint& earlier, const FeaturePrint& later) {
  if (earlier.values.size() != later.values.size()) return 2.0;
  double sum = 0;
  for (size_t index = 0; index < earlier.values.size(); ++index) {
    const double difference = earlier.values[index] - later.values[index];
    sum += difference * difference;
  }
  return std::sqrt(sum);
}

void addFrame(DistanceSeries& series, const cv::Mat& image, double timeSec) {
  std::optional<FeaturePrint> print = featurePrint(image);
  if (!print) return;
  if (series.previousPrint) {
    series.distances.push_back({.timeSec = timeSec,
                                .distance = distance(*series.previousPrint, *print),
                                .black = print->black});
  } else {
    series.firstPrint = print;
    series.firstTimeSec = timeSec;
  }
  series.previousPrint = std::move(print);
}

DistanceSeries joined(std::vector<DistanceSeries> pieces) {
  DistanceSeries whole;
  for (DistanceSeries& piece : pieces) {
    if (!piece.firstPrint) continue;  // nothing in it could be printed
    if (whole.previousPrint) {
      whole.distances.push_back({.timeSec = piece.firstTimeSec,
                                 .distance = distance(*whole.previousPrint, *piece.firstPrint),
                                 .black = piece.firstPrint->black});
    } else {
      whole.firstPrint = std::move(piece.firstPrint);
      whole.firstTimeSec = piece.firstTimeSec;
    }
    whole.distances.insert(whole.distances.end(), piece.distances.begin(), piece.distances.end());
    whole.previousPrint = std::move(piece.previousPrint);
  }
  return whole;
}

bool isCandidate(const std::vector<FrameDistance>& distances, size_t index) {
  const size_t first = index > static_cast<size_t>(kLookBack) ? index - kLookBack : 0;
  std::vector<double> window;
  for (size_t before = first; before < index; ++before) window.push_back(distances[before].distance);
  double median = distances[index].distance;
  if (!window.empty()) {
    const auto middle = window.begin() + static_cast<std::ptrdiff_t>(window.size() / 2);
    std::nth_element(window.begin(), middle, window.end());
    median = *middle;
  }
  return distances[index].distance > std::max(kRatio * median, kCandidateFloor);
}

std::vector<Candidate> candidates(const std::vector<FrameDistance>& distances) {
  if (distances.size() < static_cast<size_t>(kMinimumDistances)) return {};
  std::vector<Candidate> found;
  for (size_t index = 0; index < distances.size(); ++index) {
    const double distance = distances[index].distance;
    if (isCandidate(distances, index))
      found.push_back({.index = index,
                       .fromSec = index > 0 ? distances[index - 1].timeSec
                                            : distances[index].timeSec - kSampleStepSec,
                       .timeSec = distances[index].timeSec,
                       .aboveFloor = distance > kAbsoluteFloor});
  }
  return found;
}

std::vector<double> boundaries(const std::vector<FrameDistance>& distances, const Look& look) {
  // Whether every sample from `first` up to (not including) `end` is black.
  const auto blackFrom = [&](size_t first, size_t end) {
    return std::all_of(distances.begin() + static_cast<std::ptrdiff_t>(first),
                       distances.begin() + static_cast<std::ptrdiff_t>(end),
                       [](const FrameDistance& step) { return step.black; });
  };
  std::vector<double> accepted;
  std::optional<size_t> lastIndex;
  for (const Candidate& candidate : candidates(distances)) {
    if (lastIndex && candidate.timeSec - distances[*lastIndex].timeSec < kMinimumGapSec) continue;
    const std::optional<double> firstPicture = look ? look(candidate) : std::nullopt;
    if (!candidate.aboveFloor && !firstPicture) continue;
    if (!firstPicture && blackFrom(candidate.index, distances.size())) continue;  // closing fade
    const bool outOfADip =
        !firstPicture && lastIndex && blackFrom(*lastIndex, candidate.index);
    // The way out of a dip belongs to the cut that went into it, and the gap counts from there.
    lastIndex = candidate.index;
    if (!outOfADip) accepted.push_back(firstPicture.value_or(candidate.timeSec));
  }
  return accepted;
}

}  // namespace brisklet::ShotDetector
