#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "analysis/GreyImage.h"
#include "analysis/QualityScorer.h"

namespace brisklet::QualityScorer {
namespace {

// The estimate works on a small copy: what it measures survives the shrink.
constexpr int kEstimateWidth = 256;

// Hasler and Süsstrunk's colourfulness on 0…255 levels: about 0 for grey pictures, 30 for
// ordinary footage, 60 and more for vivid scenes.
double colourfulness(const cv::Mat& bgr) {
  cv::Mat channels[3];
  cv::Mat floating;
  bgr.convertTo(floating, CV_32F);
  cv::split(floating, channels);
  const cv::Mat redGreen = channels[2] - channels[1];
  const cv::Mat yellowBlue = 0.5 * (channels[2] + channels[1]) - channels[0];
  cv::Scalar rgMean, rgDeviation, ybMean, ybDeviation;
  cv::meanStdDev(redGreen, rgMean, rgDeviation);
  cv::meanStdDev(yellowBlue, ybMean, ybDeviation);
  return std::hypot(rgDeviation[0], ybDeviation[0]) + 0.3 * std::hypot(rgMean[0], ybMean[0]);
}

}  // namespace

// A small estimate standing in for a learned aesthetics model. A pleasing picture is colourful,
// has contrast, is sharp and is well exposed; those four measures, each mapped to 0…1, are
// weighted into an overall −1…1. A utility picture (a document, a screenshot, a whiteboard) is
// told by what camera footage of a scene never has: most of it perfectly flat (no sensor noise,
// no texture) and nearly colourless, yet with crisp edges (text, lines). Such pictures are
// usable but not memorable, so their overall score is lowered.
std::optional<Aesthetics> aesthetics(const cv::Mat& image) {
  if (image.empty()) return std::nullopt;
  cv::Mat small;
  const double shrink = std::min(1.0, static_cast<double>(kEstimateWidth) / image.cols);
  cv::resize(image, small, cv::Size(), shrink, shrink, cv::INTER_AREA);
  if (small.channels() == 1) cv::cvtColor(small, small, cv::COLOR_GRAY2BGR);
  if (small.channels() == 4) cv::cvtColor(small, small, cv::COLOR_BGRA2BGR);
  const cv::Mat grey = greyImage(small);

  const double colour = colourfulness(small);
  cv::Scalar greyMean, greyDeviation;
  cv::meanStdDev(grey, greyMean, greyDeviation);
  const double contrast = std::clamp(greyDeviation[0] / 64.0, 0.0, 1.0);
  const std::optional<LumaBitmap> bitmap = lumaBitmap(small, kMeasuringSide);
  const double sharpness = blurScore(laplacianVariance(*bitmap));
  const double exposure = exposureScore(*bitmap);

  cv::Mat gradientX, gradientY, magnitude;
  cv::Sobel(grey, gradientX, CV_32F, 1, 0);
  cv::Sobel(grey, gradientY, CV_32F, 0, 1);
  cv::magnitude(gradientX, gradientY, magnitude);
  const double pixels = static_cast<double>(magnitude.total());
  const double flat = cv::countNonZero(magnitude < 1.0) / pixels;
  const double crisp = cv::countNonZero(magnitude > 200.0) / pixels;
  const bool isUtility = flat > 0.45 && colour < 20 && crisp > 0.01;

  const double appeal = 0.3 * std::clamp(colour / 60.0, 0.0, 1.0) + 0.25 * contrast +
                        0.25 * sharpness + 0.2 * exposure;
  const double overall = std::clamp(2 * appeal - 1 - (isUtility ? 0.5 : 0.0), -1.0, 1.0);
  return Aesthetics{.overallScore = overall, .isUtility = isUtility};
}

}  // namespace brisklet::QualityScorer
