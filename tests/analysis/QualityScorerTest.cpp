#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "analysis/QualityScorer.h"

namespace brisklet {
namespace {

using QualityScorer::AestheticsEntry;
using QualityScorer::LumaBitmap;

LumaBitmap uniform(double level, int side = 128) {
  return LumaBitmap{side, side, std::vector<double>(static_cast<size_t>(side * side), level)};
}

// A keyframe-sized picture with crisp edges; with `texture`, fine grain between them.
cv::Mat photograph(int seed = 1, bool texture = true) {
  cv::Mat image(432, 768, CV_8UC3, cv::Scalar::all(128));
  cv::RNG random(static_cast<uint64_t>(seed));
  if (texture) {
    cv::randu(image, cv::Scalar::all(60), cv::Scalar::all(190));
    cv::GaussianBlur(image, image, cv::Size(), 1.0);
  }
  for (int shape = 0; shape < (texture ? 40 : 8); ++shape) {
    const cv::Point corner(random.uniform(0, 768), random.uniform(0, 432));
    cv::rectangle(
        image, corner, corner + cv::Point(random.uniform(10, 200), random.uniform(10, 120)),
        cv::Scalar(random.uniform(0, 255), random.uniform(0, 255), random.uniform(0, 255)),
        shape % 3 == 0 ? cv::FILLED : 3);
  }
  return image;
}

double blurOf(const cv::Mat& image) {
  return QualityScorer::blurScore(
      QualityScorer::laplacianVariance(*QualityScorer::lumaBitmap(image, 128)));
}

double exposureOf(const cv::Mat& image) {
  return QualityScorer::exposureScore(*QualityScorer::lumaBitmap(image, 128));
}

TEST(QualityScorer, TheActivePictureLeavesOutBarsOnTwoOppositeSides) {
  const cv::Mat picture = photograph();
  const auto boxed = [&](int top, int bottom, int left, int right, cv::Scalar colour) {
    cv::Mat framed;
    cv::copyMakeBorder(picture, framed, top, bottom, left, right, cv::BORDER_CONSTANT, colour);
    return framed;
  };
  const cv::Scalar black(16, 16, 16), grey(90, 90, 90);
  EXPECT_EQ(QualityScorer::activeArea(picture), cv::Rect(0, 0, 768, 432));
  EXPECT_EQ(QualityScorer::activeArea(boxed(100, 100, 0, 0, black)), cv::Rect(0, 100, 768, 432))
      << "letterbox";
  EXPECT_EQ(QualityScorer::activeArea(boxed(0, 0, 150, 150, grey)), cv::Rect(150, 0, 768, 432))
      << "pillarbox of any constant colour";
  EXPECT_EQ(QualityScorer::activeArea(boxed(40, 40, 60, 60, black)), cv::Rect(60, 40, 768, 432))
      << "both";
  EXPECT_EQ(QualityScorer::activeArea(boxed(100, 0, 0, 0, black)), cv::Rect(0, 0, 768, 532))
      << "a flat band on one side only is picture (a sky, a wall)";
  EXPECT_EQ(QualityScorer::activeArea(boxed(100, 100, 0, 0, black)(cv::Rect(0, 0, 768, 250))),
            cv::Rect(0, 0, 768, 250))
      << "nor are bands of different colours";
  const cv::Mat night(432, 768, CV_8UC3, black);
  EXPECT_EQ(QualityScorer::activeArea(night), cv::Rect(0, 0, 768, 432)) << "a black frame is black";
}

TEST(QualityScorer, LumaBitmapIsAStretchedGreySquare) {
  cv::Mat wide(90, 400, CV_8UC3, cv::Scalar(255, 255, 255));
  wide.colRange(0, 200).setTo(cv::Scalar(0, 0, 0));
  const auto bitmap = QualityScorer::lumaBitmap(wide, 128);
  ASSERT_TRUE(bitmap);
  EXPECT_EQ(bitmap->width, 128);
  EXPECT_EQ(bitmap->height, 128);
  ASSERT_EQ(bitmap->pixels.size(), 128u * 128u);
  EXPECT_EQ(bitmap->pixels[0], 0.0);                // left half black
  EXPECT_EQ(bitmap->pixels[127], 1.0);              // right half white
  EXPECT_EQ(bitmap->pixels[127 * 128 + 127], 1.0);  // stretched over every row
  EXPECT_FALSE(QualityScorer::lumaBitmap(cv::Mat(), 128));
  EXPECT_TRUE(QualityScorer::lumaBitmap(wide, 0)->pixels.empty());
}

TEST(QualityScorer, SharpnessSeparatesASharpPictureFromItsBlurredCopy) {
  // Sharpness is measured on a 128-px square of 8-bit levels, so blur counts at that scale: σ = 3
  // there, σ = 18 on a 768-px keyframe. (Rounding to 8 bits alone gives smooth gradients a score
  // near 0.17, so pictures blurred beyond use are the ones that score below 0.15.)
  cv::Mat sharp;
  cv::resize(photograph(1, false), sharp, cv::Size(128, 128), 0, 0, cv::INTER_AREA);
  for (const auto& [picture, sigma] :
       {std::pair{sharp, 3.0}, std::pair{photograph(1, false), 18.0}}) {
    cv::Mat blurred;
    cv::GaussianBlur(picture, blurred, cv::Size(), sigma);
    EXPECT_GT(blurOf(picture), 0.5);
    EXPECT_LT(blurOf(blurred), 0.15) << "σ " << sigma;
  }
  // A flat picture has no Laplacian response at all.
  EXPECT_EQ(QualityScorer::laplacianVariance(uniform(0.5)), 0.0);
  EXPECT_EQ(QualityScorer::blurScore(0.0), 0.0);
  EXPECT_EQ(QualityScorer::blurScore(1e-5), 0.0);
  EXPECT_DOUBLE_EQ(QualityScorer::blurScore(0.003), 1.0);
  EXPECT_EQ(QualityScorer::laplacianVariance(uniform(0.5, 2)), 0.0);  // no interior pixels
}

TEST(QualityScorer, ExposurePunishesCrushedAndClippedPictures) {
  EXPECT_EQ(exposureOf(cv::Mat::zeros(90, 160, CV_8UC3)), 0.0);
  EXPECT_EQ(exposureOf(cv::Mat(90, 160, CV_8UC3, cv::Scalar::all(255))), 0.0);
  EXPECT_EQ(QualityScorer::exposureScore(LumaBitmap{}), 0.0);
  // 4 % clipped white, mean 0.5: the first 5 % are free.
  LumaBitmap bitmap = uniform(0.48, 100);
  std::fill(bitmap.pixels.begin(), bitmap.pixels.begin() + 400, 1.0);
  EXPECT_EQ(QualityScorer::exposureScore(bitmap), 1.0);
  // A dark mean costs twice its distance from 0.25.
  EXPECT_NEAR(QualityScorer::exposureScore(uniform(0.15)), 0.8, 1e-9);
  EXPECT_GT(exposureOf(photograph()), 0.9);
}

TEST(QualityScorer, TranslationIsMeasuredToTheNearestPixel) {
  const cv::Mat earlier = photograph(4);
  cv::Mat later;
  const cv::Mat shift = (cv::Mat_<double>(2, 3) << 1, 0, 12, 0, 1, -5);
  cv::warpAffine(earlier, later, shift, earlier.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
  const auto magnitude = QualityScorer::translationMagnitude(earlier, later);
  ASSERT_TRUE(magnitude);
  EXPECT_NEAR(*magnitude * 768, 13.0, 1.0);  // √(12² + 5²)
  EXPECT_NEAR(*QualityScorer::translationMagnitude(earlier, earlier), 0.0, 1.0 / 768);
  EXPECT_FALSE(QualityScorer::translationMagnitude(earlier, cv::Mat()));
  EXPECT_FALSE(QualityScorer::translationMagnitude(earlier, photograph().colRange(0, 700)));

  EXPECT_EQ(QualityScorer::stabilityScore({}), 1.0);
  EXPECT_DOUBLE_EQ(QualityScorer::stabilityScore({0.02, 0.06}), 0.5);
  EXPECT_EQ(QualityScorer::stabilityScore({0.08}), 0.0);
}

TEST(QualityScorer, AggregateFallsBackAndLeavesMissingComponentsOut) {
  const QualityScores nothing = QualityScorer::aggregate({}, {}, std::nullopt, {});
  EXPECT_EQ(nothing.blur, 0.5);
  EXPECT_EQ(nothing.exposure, 0.5);
  EXPECT_EQ(nothing.shake, 0.5);
  EXPECT_EQ(nothing.aesthetics, 0.5);
  EXPECT_DOUBLE_EQ(nothing.composite, 0.5);
  EXPECT_FALSE(nothing.isUtility);

  // One keyframe: no stability, so only sharpness, exposure and aesthetics weigh.
  const QualityScores single = QualityScorer::aggregate({1.0}, {0.0}, std::nullopt, {{0.5, false}});
  EXPECT_DOUBLE_EQ(single.composite, (0.3 * 1.0 + 0.2 * 0.0 + 0.3 * 0.5) / 0.8);

  const QualityScores full = QualityScorer::aggregate({0.9, 0.2, 0.6}, {1.0, 0.5, 0.0}, 0.8,
                                                      {{0.7, true}, {0.4, true}, {1.0, false}});
  EXPECT_EQ(full.blur, 0.2);  // the worst keyframe
  EXPECT_DOUBLE_EQ(full.exposure, 0.5);
  EXPECT_EQ(full.shake, 0.8);
  EXPECT_DOUBLE_EQ(full.aesthetics, 0.7);
  EXPECT_FALSE(full.isUtility);  // one keyframe is a real picture
  EXPECT_DOUBLE_EQ(full.composite, 0.3 * 0.2 + 0.2 * 0.5 + 0.2 * 0.8 + 0.3 * 0.7);
  EXPECT_TRUE(QualityScorer::aggregate({}, {}, std::nullopt, {{0.2, true}, {0.3, true}}).isUtility);
}

TEST(QualityScorer, AestheticsTellsDocumentsFromScenes) {
  cv::Mat page(432, 768, CV_8UC3, cv::Scalar::all(245));
  for (int line = 0; line < 12; ++line)
    cv::putText(page, "Quarterly figures and notes, line " + std::to_string(line),
                cv::Point(30, 40 + line * 32), cv::FONT_HERSHEY_SIMPLEX, 0.8, cv::Scalar::all(20),
                2);
  const auto document = QualityScorer::aesthetics(page);
  ASSERT_TRUE(document);
  EXPECT_TRUE(document->isUtility);

  const auto scene = QualityScorer::aesthetics(photograph());
  ASSERT_TRUE(scene);
  EXPECT_FALSE(scene->isUtility);
  EXPECT_GT(scene->overallScore, document->overallScore);
  for (const auto& estimate : {*document, *scene}) {
    EXPECT_GE(estimate.overallScore, -1.0);
    EXPECT_LE(estimate.overallScore, 1.0);
  }
  EXPECT_FALSE(QualityScorer::aesthetics(cv::Mat()));
  const AestheticsEntry entry = QualityScorer::aestheticsEntry({-0.2, true});
  EXPECT_DOUBLE_EQ(entry.score, 0.4);
  EXPECT_TRUE(entry.isUtility);
}

}  // namespace
}  // namespace brisklet
