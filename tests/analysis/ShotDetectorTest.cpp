#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <opencv2/imgproc.hpp>

#include "analysis/ShotDetector.h"

namespace brisklet {
namespace {

using ShotDetector::FrameDistance;
using ::testing::ElementsAre;

// Distances every 0.5 s with the given values at the given times, `base` elsewhere.
std::vector<FrameDistance> series(int count, double base,
                                  const std::vector<std::pair<double, double>>& spikes) {
  std::vector<FrameDistance> distances;
  for (int index = 1; index <= count; ++index) {
    FrameDistance step{.timeSec = index * 0.5, .distance = base};
    for (const auto& [time, value] : spikes)
      if (time == step.timeSec) step.distance = value;
    distances.push_back(step);
  }
  return distances;
}

TEST(ShotDetectorCutRule, NeedsThreeDistances) {
  EXPECT_TRUE(ShotDetector::boundaries({}).empty());
  EXPECT_TRUE(ShotDetector::boundaries(series(2, 0.01, {{1.0, 0.9}})).empty());
  EXPECT_THAT(ShotDetector::boundaries(series(3, 0.01, {{1.0, 0.9}})), ElementsAre(1.0));
}

TEST(ShotDetectorCutRule, ASpikeMustStandAboveTheLocalMedianAndTheFloor) {
  EXPECT_THAT(ShotDetector::boundaries(series(20, 0.1, {{5.0, 0.5}})), ElementsAre(5.0));
  EXPECT_TRUE(ShotDetector::boundaries(series(20, 0.01, {{5.0, 0.3}})).empty());
  // Equal to the threshold (2.5 × 0.2) is not above it.
  EXPECT_TRUE(ShotDetector::boundaries(series(20, 0.2, {{5.0, 0.5}})).empty());
  EXPECT_THAT(ShotDetector::boundaries(series(20, 0.2, {{5.0, 0.5001}})), ElementsAre(5.0));
  // The first distance is its own median: never a cut.
  EXPECT_TRUE(ShotDetector::boundaries(series(20, 0.01, {{0.5, 2.0}})).empty());
}

TEST(ShotDetectorCutRule, TheMedianLooksTwelveBackAndTakesTheUpperMiddle) {
  // Twelve busy distances then a quiet stretch: the spike at 9.0 sees only quiet ones before it
  // once the busy ones have left the window.
  std::vector<FrameDistance> distances = series(24, 0.3, {});
  for (size_t index = 0; index < 12; ++index) distances[index].distance = 0.1;
  distances[12].distance = 0.4;  // 6.5 s: above 2.5 × 0.1 and 0.35
  EXPECT_THAT(ShotDetector::boundaries(distances), ElementsAre(6.5));
  // Window {0.1, 0.3}: the upper middle is 0.3, so 0.7 (> 0.25, < 0.75) is no cut.
  EXPECT_TRUE(ShotDetector::boundaries({{0.5, 0.1}, {1.0, 0.3}, {1.5, 0.7}, {2.0, 0.3}}).empty());
}

TEST(ShotDetectorCutRule, CutsWithinOneAndAHalfSecondsOfTheLastAcceptedAreDropped) {
  EXPECT_THAT(ShotDetector::boundaries(series(30, 0.05, {{5.0, 0.9}, {5.5, 0.9}, {6.0, 0.9}})),
              ElementsAre(5.0));
  EXPECT_THAT(
      ShotDetector::boundaries(series(30, 0.05, {{5.0, 0.9}, {5.5, 0.9}, {6.0, 0.9}, {6.5, 0.9}})),
      ElementsAre(5.0, 6.5));
}

// A closer look that finds the new shot's first picture at the given sample times' candidates.
ShotDetector::Look findsPictures(std::map<double, double> firstPictureAtSample) {
  return [firstPictureAtSample](const ShotDetector::Candidate& candidate) -> std::optional<double> {
    const auto found = firstPictureAtSample.find(candidate.timeSec);
    if (found == firstPictureAtSample.end()) return std::nullopt;
    return found->second;
  };
}

TEST(ShotDetectorCutRule, ACloserLookPlacesCutsAndSettlesThoseNearTheFloor) {
  const auto nearTheFloor = series(20, 0.05, {{5.0, 0.3}});
  EXPECT_TRUE(ShotDetector::boundaries(nearTheFloor, findsPictures({})).empty())
      << "a change spread over several pictures near the floor (a hand coming in)";
  EXPECT_THAT(ShotDetector::boundaries(nearTheFloor, findsPictures({{5.0, 4.7667}})),
              ElementsAre(4.7667))
      << "one picture changes: a cut, at that picture";
  EXPECT_TRUE(ShotDetector::boundaries(series(20, 0.05, {{5.0, 0.24}}), findsPictures({{5.0, 4.8}}))
                  .empty())
      << "below the candidate floor nothing is looked at";

  const auto clear = series(20, 0.05, {{7.0, 0.9}, {9.0, 0.9}});
  EXPECT_THAT(ShotDetector::boundaries(clear, findsPictures({{7.0, 6.6333}})),
              ElementsAre(6.6333, 9.0))
      << "a clear cut stays at its sample where no single picture stands out (a dissolve)";
}

TEST(ShotDetectorCutRule, BlackBetweenTwoShotsIsOneTransition) {
  // A cut into black at 4.5, black until a fade out of it at 7.0 and on at 7.5; a dissolve at
  // 10.0; a fade into black at 13.0 that lasts to the end.
  auto distances = series(30, 0.05, {{4.5, 0.9}, {7.0, 0.9}, {7.5, 0.6}, {10.0, 0.6}, {13.0, 0.9}});
  for (FrameDistance& step : distances)
    step.black = (step.timeSec >= 4.5 && step.timeSec < 7.0) || step.timeSec >= 13.0;
  EXPECT_THAT(ShotDetector::boundaries(distances, findsPictures({{4.5, 4.4}})),
              ElementsAre(4.4, 10.0))
      << "the fade out of the dip belongs to the cut into it, the closing fade is the end";
  EXPECT_THAT(ShotDetector::boundaries(distances, findsPictures({{4.5, 4.4}, {13.0, 12.8}})),
              ElementsAre(4.4, 10.0, 12.8))
      << "a hard cut into black is a cut, even at the end";
}

cv::Mat scene(int seed) {
  cv::Mat image(180, 320, CV_8UC3);
  cv::RNG random(static_cast<uint64_t>(seed));
  image.setTo(cv::Scalar(random.uniform(0, 255), random.uniform(0, 255), random.uniform(0, 255)));
  for (int shape = 0; shape < 25; ++shape) {
    const cv::Point centre(random.uniform(0, 320), random.uniform(0, 180));
    const cv::Scalar colour(random.uniform(0, 255), random.uniform(0, 255), random.uniform(0, 255));
    if (shape % 2 == 0)
      cv::circle(image, centre, random.uniform(5, 40), colour, cv::FILLED);
    else
      cv::line(image, centre, centre + cv::Point(random.uniform(-90, 90), random.uniform(-60, 60)),
               colour, random.uniform(1, 6));
  }
  return image;
}

double distanceBetween(const cv::Mat& earlier, const cv::Mat& later) {
  return ShotDetector::distance(*ShotDetector::featurePrint(earlier),
                                *ShotDetector::featurePrint(later));
}

TEST(ShotDetectorEmbedding, SameSceneIsNearAndAnotherSceneIsFar) {
  const cv::Mat first = scene(1);
  EXPECT_EQ(distanceBetween(first, first), 0.0);

  cv::Mat noisy(first.size(), first.type());
  cv::randn(noisy, cv::Scalar::all(0), cv::Scalar::all(6));
  noisy += first;
  EXPECT_LT(distanceBetween(first, noisy), 0.1);

  // The camera moved by 5 % of the width and the light dimmed by a tenth.
  cv::Mat moved;
  const cv::Mat shift = (cv::Mat_<double>(2, 3) << 1, 0, 16, 0, 1, 4);
  cv::warpAffine(first, moved, shift, first.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
  moved.convertTo(moved, -1, 0.9);
  EXPECT_LT(distanceBetween(first, moved), 0.3);

  for (int seed = 2; seed < 8; ++seed) EXPECT_GT(distanceBetween(first, scene(seed)), 0.5);
}

// `picture` shrunk onto a black picture of its own size, off centre: a 4:3 clip in a wide day,
// or a phone's picture pillarboxed.
cv::Mat boxed(const cv::Mat& picture) {
  cv::Mat canvas = cv::Mat::zeros(picture.size(), picture.type());
  cv::resize(picture, canvas(cv::Rect(20, 30, 200, 112)), {200, 112}, 0, 0, cv::INTER_AREA);
  return canvas;
}

TEST(ShotDetectorEmbedding, BarsAroundThePictureDoNotHideItsCuts) {
  for (int seed = 2; seed < 8; ++seed) {
    const double plain = distanceBetween(scene(1), scene(seed));
    EXPECT_NEAR(distanceBetween(boxed(scene(1)), boxed(scene(seed))), plain, 0.1 * plain);
  }
  EXPECT_LT(distanceBetween(boxed(scene(1)), scene(1)), 0.1) << "only the bars differ";
  const cv::Mat black = cv::Mat::zeros(180, 320, CV_8UC3);
  EXPECT_TRUE(ShotDetector::featurePrint(black)->black) << "a fade's floor is no bar";
}

TEST(ShotDetectorEmbedding, GreyAndColourPicturesAndUnprintableOnes) {
  const cv::Mat colour = scene(3);
  cv::Mat grey;
  cv::cvtColor(colour, grey, cv::COLOR_BGR2GRAY);
  ASSERT_TRUE(ShotDetector::featurePrint(grey));
  EXPECT_EQ(ShotDetector::featurePrint(grey)->values.size(),
            ShotDetector::featurePrint(colour)->values.size());
  EXPECT_FALSE(ShotDetector::featurePrint(cv::Mat()));
  EXPECT_FALSE(ShotDetector::featurePrint(cv::Mat(10, 10, CV_32FC3)));
  // A flat black picture still prints, and lies far from a lively one.
  const cv::Mat black = cv::Mat::zeros(180, 320, CV_8UC3);
  EXPECT_GT(distanceBetween(black, colour), 0.5);
}

TEST(ShotDetectorEmbedding, AnUnprintableFrameLeavesNoTraceInTheSeries) {
  ShotDetector::DistanceSeries series;
  ShotDetector::addFrame(series, scene(1), 0.0);
  EXPECT_TRUE(series.distances.empty());
  ShotDetector::addFrame(series, cv::Mat(), 0.5);
  ShotDetector::addFrame(series, scene(2), 1.0);
  ASSERT_EQ(series.distances.size(), 1u);
  EXPECT_EQ(series.distances[0].timeSec, 1.0);
  EXPECT_DOUBLE_EQ(series.distances[0].distance, distanceBetween(scene(1), scene(2)));
  ShotDetector::addFrame(series, scene(2), 1.5);
  ASSERT_EQ(series.distances.size(), 2u);
  EXPECT_EQ(series.distances[1].distance, 0.0);
}

TEST(ShotDetectorEmbedding, PiecesPrintedApartJoinIntoTheSeriesOfTheWhole) {
  const std::vector<int> seeds = {1, 1, 2, 3, 3, 4, 5};
  ShotDetector::DistanceSeries whole;
  for (size_t index = 0; index < seeds.size(); ++index)
    ShotDetector::addFrame(whole, scene(seeds[index]), 0.5 * static_cast<double>(index));

  // Cut between the second and third frame, with an empty piece and a one-frame piece.
  std::vector<ShotDetector::DistanceSeries> pieces(4);
  for (size_t index = 0; index < seeds.size(); ++index) {
    const size_t piece = index < 2 ? 0 : index == 2 ? 2 : 3;
    ShotDetector::addFrame(pieces[piece], scene(seeds[index]), 0.5 * static_cast<double>(index));
  }
  const ShotDetector::DistanceSeries joined = ShotDetector::joined(std::move(pieces));
  EXPECT_EQ(joined.distances, whole.distances);
  ASSERT_EQ(joined.distances.size(), seeds.size() - 1);
  EXPECT_GT(joined.distances[1].distance, 0.5) << "the step across the seam is there";
  EXPECT_EQ(joined.firstTimeSec, 0.0);

  EXPECT_TRUE(ShotDetector::joined({}).distances.empty());
}

}  // namespace
}  // namespace brisklet
