#pragma once

#include <opencv2/core.hpp>
#include <optional>
#include <vector>

#include "model/EditPlan.h"

namespace brisklet::QualityScorer {

// A grey picture for measuring: levels 0…1, row by row, top row first.
struct LumaBitmap {
  int width = 0;
  int height = 0;
  std::vector<double> pixels;
};

// Side of the square grey copy that sharpness and exposure are measured on.
inline constexpr int kMeasuringSide = 128;

// One keyframe's aesthetics: overall −1…1 and whether it is a utility picture (a document, a
// screenshot, a whiteboard) rather than a memorable one.
struct Aesthetics {
  double overallScore = 0;
  bool isUtility = false;
};

// One keyframe's entry in the aggregation: the score mapped to 0…1.
struct AestheticsEntry {
  double score = 0;
  bool isUtility = false;
};

// The part of a keyframe that is picture: without the bars a letterbox or pillarbox adds (rows,
// or columns, of one constant colour on both of two opposite sides, as ffmpeg's cropdetect finds
// them), which would read as crushed blacks and flat, unsharp picture. The whole image when it
// has no such bars, or when nearly all of it is one colour (a black frame is not all bars).
cv::Rect activeArea(const cv::Mat& image);

// `image` (8-bit BGR or grey) stretched onto a side × side square of grey levels; none for an
// empty image, an empty bitmap for side 0.
std::optional<LumaBitmap> lumaBitmap(const cv::Mat& image, int side);

// Population variance of the 4-neighbour Laplacian over the interior pixels; 0 without any.
double laplacianVariance(const LumaBitmap& bitmap);
// 0 (a variance of 1e-5 or less) … 1 (0.003 or more), on a log scale.
double blurScore(double laplacianVariance);
// 1 for a well exposed picture, less for crushed blacks, clipped whites or a dark or bright mean.
double exposureScore(const LumaBitmap& bitmap);

// How far the later picture moved against the earlier one, as a fraction of the later one's
// width; none when the two cannot be compared (different sizes, empty).
std::optional<double> translationMagnitude(const cv::Mat& earlier, const cv::Mat& later);
// 1 for a still camera, 0 for a mean shift of 8 % of the width or more; 1 without measures.
double stabilityScore(const std::vector<double>& magnitudes);

// Our aesthetics estimate of one keyframe; none for an empty image.
std::optional<Aesthetics> aesthetics(const cv::Mat& image);
// The aggregation's entry for an estimate: the overall score mapped from −1…1 to 0…1.
AestheticsEntry aestheticsEntry(const Aesthetics& aesthetics);

// The scene's scores: the worst keyframe's sharpness, the mean exposure and aesthetics, the
// stability, and a weighted composite of the components that were measured.
QualityScores aggregate(const std::vector<double>& blurScores,
                        const std::vector<double>& exposureScores, std::optional<double> stability,
                        const std::vector<AestheticsEntry>& aesthetics);

}  // namespace brisklet::QualityScorer
