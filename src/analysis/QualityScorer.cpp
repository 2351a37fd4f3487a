#include "analysis/QualityScorer.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <opencv2/imgproc.hpp>

#include "analysis/GreyImage.h"

namespace brisklet::QualityScorer {
namespace {

// log10(300): the span of variances between a score of 0 and of 1.
constexpr double kBlurLogSpan = 2.4771212547196626;
// A mean shift of this fraction of the width between keyframes scores 0 for stability.
constexpr double kUnstableShift = 0.08;

struct Weighted {
  double value;
  double weight;
};

double mean(const std::vector<double>& values) {
  return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

cv::Mat greyFloat(const cv::Mat& image) {
  cv::Mat result;
  greyImage(image).convertTo(result, CV_32F);
  return result;
}

// A line of pixels whose levels stay within this of one another, in every channel, is flat:
// bars carry a little compression noise.
constexpr float kFlatRange = 12;
// A flat line within this of a bar's colour continues the bar.
constexpr float kSameBarColour = 12;
// Bars thinner than this share of the side are left: they may be the picture's own dark edge.
constexpr double kThinnestBar = 0.01;
// The picture between the bars must keep at least this share of the side; otherwise the frame is
// simply flat (black, a wall), not boxed.
constexpr double kSmallestPicture = 0.2;

// The lines of an image across one axis (its rows, or its columns), each line's lowest, highest
// and mean level per channel, one line a row of `count` × channels.
struct Lines {
  cv::Mat low, high, mean;
  int count = 0;
  int channels = 0;

  bool flat(int line, const float* colour) const {
    for (int channel = 0; channel < channels; ++channel)
      if (high.at<float>(line, channel) - low.at<float>(line, channel) > kFlatRange ||
          std::abs(mean.at<float>(line, channel) - colour[channel]) > kSameBarColour)
        return false;
    return true;
  }
  const float* colour(int line) const { return mean.ptr<float>(line); }
};

// `across` 1: the rows of `image`; 0: its columns.
Lines linesOf(const cv::Mat& image, int across) {
  Lines lines;
  lines.channels = image.channels();
  lines.count = across == 1 ? image.rows : image.cols;
  const auto reduced = [&](int operation) {
    cv::Mat values, levels;
    // OpenCV finds extremes only in the image's own depth; averages straight into floats.
    cv::reduce(image, values, across, operation, operation == cv::REDUCE_AVG ? CV_32F : -1);
    values.convertTo(levels, CV_32F);
    return levels.reshape(1, lines.count);
  };
  lines.low = reduced(cv::REDUCE_MIN);
  lines.high = reduced(cv::REDUCE_MAX);
  lines.mean = reduced(cv::REDUCE_AVG);
  return lines;
}

// How many lines at each end are one flat colour, the same at both ends; {0, 0} when the two
// ends are not such bars.
std::pair<int, int> barsOf(const Lines& lines) {
  const int last = lines.count - 1;
  if (last < 1 || !lines.flat(0, lines.colour(0)) || !lines.flat(last, lines.colour(0)))
    return {0, 0};
  int first = 0, second = 0;
  while (first < lines.count && lines.flat(first, lines.colour(0))) ++first;
  while (second < lines.count && lines.flat(last - second, lines.colour(last))) ++second;
  const int thinnest = std::max(2, static_cast<int>(std::ceil(kThinnestBar * lines.count)));
  if (first < thinnest || second < thinnest ||
      lines.count - first - second < kSmallestPicture * lines.count)
    return {0, 0};
  return {first, second};
}

}  // namespace

cv::Rect activeArea(const cv::Mat& image) {
  cv::Rect area(0, 0, image.cols, image.rows);
  if (image.empty()) return area;
  const auto [top, bottom] = barsOf(linesOf(image, 1));
  area.y = top;
  area.height -= top + bottom;
  const auto [left, right] = barsOf(linesOf(image(area), 0));
  area.x = left;
  area.width -= left + right;
  return area;
}

std::optional<LumaBitmap> lumaBitmap(const cv::Mat& image, int side) {
  if (image.empty() || side < 0 || side > 1 << 15) return std::nullopt;
  LumaBitmap bitmap;
  bitmap.width = side;
  bitmap.height = side;
  if (side == 0) return bitmap;
  cv::Mat square;
  cv::resize(greyImage(image), square, cv::Size(side, side), 0, 0, cv::INTER_LINEAR);
  bitmap.pixels.reserve(static_cast<size_t>(side) * static_cast<size_t>(side));
  for (int row = 0; row < side; ++row) {
    const auto* levels = square.ptr<std::uint8_t>(row);
    for (int column = 0; column < side; ++column) bitmap.pixels.push_back(levels[column] / 255.0);
  }
  return bitmap;
}

double laplacianVariance(const LumaBitmap& bitmap) {
  if (bitmap.width < 3 || bitmap.height < 3) return 0.0;
  const auto at = [&](int row, int column) {
    return bitmap.pixels[static_cast<size_t>(row) * static_cast<size_t>(bitmap.width) +
                         static_cast<size_t>(column)];
  };
  double sum = 0;
  double sumOfSquares = 0;
  for (int row = 1; row < bitmap.height - 1; ++row) {
    for (int column = 1; column < bitmap.width - 1; ++column) {
      const double response = at(row - 1, column) + at(row + 1, column) + at(row, column - 1) +
                              at(row, column + 1) - 4 * at(row, column);
      sum += response;
      sumOfSquares += response * response;
    }
  }
  const double count = static_cast<double>(bitmap.width - 2) * (bitmap.height - 2);
  const double average = sum / count;
  return std::max(0.0, sumOfSquares / count - average * average);
}

double blurScore(double variance) {
  return std::clamp((std::log10(std::max(variance, 1e-8)) + 5.0) / kBlurLogSpan, 0.0, 1.0);
}

double exposureScore(const LumaBitmap& bitmap) {
  if (bitmap.pixels.empty()) return 0.0;
  const double count = static_cast<double>(bitmap.pixels.size());
  const double dark =
      std::count_if(bitmap.pixels.begin(), bitmap.pixels.end(), [](double p) { return p < 0.02; }) /
      count;
  const double bright =
      std::count_if(bitmap.pixels.begin(), bitmap.pixels.end(), [](double p) { return p > 0.98; }) /
      count;
  const double average = mean(bitmap.pixels);
  double penalty = 3 * std::max(0.0, dark - 0.05) + 3 * std::max(0.0, bright - 0.05);
  if (average < 0.25) penalty += 2 * (0.25 - average);
  if (average > 0.75) penalty += 2 * (average - 0.75);
  return std::clamp(1 - penalty, 0.0, 1.0);
}

std::optional<double> translationMagnitude(const cv::Mat& earlier, const cv::Mat& later) {
  if (earlier.empty() || later.empty() || earlier.size() != later.size()) return std::nullopt;
  if (earlier.cols < 2 || earlier.rows < 2) return std::nullopt;
  const cv::Mat from = greyFloat(earlier);
  const cv::Mat to = greyFloat(later);
  // The window keeps the picture's borders from reading as a shift of zero.
  cv::Mat window;
  cv::createHanningWindow(window, from.size(), CV_32F);
  const cv::Point2d shift = cv::phaseCorrelate(from, to, window);
  if (!std::isfinite(shift.x) || !std::isfinite(shift.y)) return std::nullopt;
  return std::hypot(shift.x, shift.y) / std::max(later.cols, 1);
}

double stabilityScore(const std::vector<double>& magnitudes) {
  if (magnitudes.empty()) return 1.0;
  return std::clamp(1 - mean(magnitudes) / kUnstableShift, 0.0, 1.0);
}

AestheticsEntry aestheticsEntry(const Aesthetics& aesthetics) {
  return {.score = std::clamp((aesthetics.overallScore + 1) * 0.5, 0.0, 1.0),
          .isUtility = aesthetics.isUtility};
}

QualityScores aggregate(const std::vector<double>& blurScores,
                        const std::vector<double>& exposureScores, std::optional<double> stability,
                        const std::vector<AestheticsEntry>& aesthetics) {
  QualityScores scores;
  scores.blur = blurScores.empty() ? 0.5 : *std::min_element(blurScores.begin(), blurScores.end());
  scores.exposure = exposureScores.empty() ? 0.5 : mean(exposureScores);
  scores.shake = stability.value_or(0.5);
  std::vector<double> aestheticsScores;
  for (const AestheticsEntry& entry : aesthetics) aestheticsScores.push_back(entry.score);
  scores.aesthetics = aestheticsScores.empty() ? 0.5 : mean(aestheticsScores);
  scores.isUtility = !aesthetics.empty() && std::all_of(aesthetics.begin(), aesthetics.end(),
                                                        [](const auto& e) { return e.isUtility; });

  std::vector<Weighted> present{{scores.blur, 0.3}, {scores.exposure, 0.2}};
  if (stability) present.push_back({scores.shake, 0.2});
  if (!aesthetics.empty()) present.push_back({scores.aesthetics, 0.3});
  double weightedSum = 0;
  double weights = 0;
  for (const Weighted& component : present) {
    weightedSum += component.value * component.weight;
    weights += component.weight;
  }
  scores.composite = weightedSum / weights;
  return scores;
}

}  // namespace brisklet::QualityScorer
