#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "analysis/CutRefiner.h"

namespace brisklet {
namespace {

// A 320 × 180 scene of shapes, seen through a window `shift` pixels along: a moving camera.
cv::Mat view(int seed, int shift = 0) {
  cv::Mat wide(180, 480, CV_8UC3);
  cv::RNG random(static_cast<uint64_t>(seed));
  wide.setTo(cv::Scalar(random.uniform(0, 255), random.uniform(0, 255), random.uniform(0, 255)));
  for (int shape = 0; shape < 40; ++shape) {
    const cv::Point centre(random.uniform(0, 480), random.uniform(0, 180));
    cv::circle(wide, centre, random.uniform(5, 40),
               cv::Scalar(random.uniform(0, 255), random.uniform(0, 255), random.uniform(0, 255)),
               cv::FILLED);
  }
  return wide(cv::Rect(shift, 0, 320, 180)).clone();
}

// 21 pictures at 30 per second from 10 s on, made by `picture(index)`.
template <typename Make>
std::vector<TimedPicture> run(Make picture) {
  std::vector<TimedPicture> pictures;
  for (int index = 0; index < 21; ++index) pictures.push_back({10 + index / 30.0, picture(index)});
  return pictures;
}

TEST(CutRefiner, FindsTheFirstPictureOfANewShotWhileTheCameraMoves) {
  const auto cutAt13 = run([](int index) { return index < 13 ? view(1, 4 * index) : view(2, 4 * index); });
  ASSERT_TRUE(CutRefiner::standoutStep(cutAt13));
  EXPECT_DOUBLE_EQ(*CutRefiner::standoutStep(cutAt13), 10 + 13 / 30.0);
}

TEST(CutRefiner, AChangeSpreadOverManyPicturesIsNoCut) {
  const auto fade = run([](int index) {
    cv::Mat dimmed;
    view(1).convertTo(dimmed, -1, 1.0 - index / 20.0);
    return dimmed;
  });
  EXPECT_FALSE(CutRefiner::standoutStep(fade)) << "a fade to black";

  const auto dissolve = run([](int index) {
    cv::Mat mixed;
    cv::addWeighted(view(1), 1.0 - index / 20.0, view(2), index / 20.0, 0, mixed);
    return mixed;
  });
  EXPECT_FALSE(CutRefiner::standoutStep(dissolve)) << "a dissolve";

  const auto handComingIn = run([](int index) {
    cv::Mat picture = view(1);
    cv::rectangle(picture, cv::Rect(0, 40, index * 8, 100), cv::Scalar(120, 150, 200), cv::FILLED);
    return picture;
  });
  EXPECT_FALSE(CutRefiner::standoutStep(handComingIn)) << "a hand coming into the frame";

  EXPECT_FALSE(CutRefiner::standoutStep(run([](int) { return view(1); }))) << "nothing changes";
  EXPECT_FALSE(CutRefiner::standoutStep({})) << "no pictures";
}

}  // namespace
}  // namespace brisklet
