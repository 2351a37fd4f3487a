#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "media/platform/ImageGenerator.h"
#include "media/platform/MediaError.h"
#include "support/MediaGenerator.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

// Any frame within the ±0.1 s tolerance is a right answer; the clock reads to ±0.04 s.
constexpr double kWithinTolerance = 0.14;

class ImageGeneratorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new testing::TemporaryFolder;
    testing::makeClockVideo(*folder_ / "clock.mp4", 4.0, 64, 48, 30);
    testing::makeClockVideo(*folder_ / "sparse.mp4", 4.0, 64, 48, 2);
    testing::runFfmpeg({"-i", (*folder_ / "clock.mp4").string(), "-c", "copy", "-metadata:s:v:0",
                        "rotate=90", (*folder_ / "turned.mp4").string()});
  }
  static void TearDownTestSuite() { delete folder_; }
  static Asset asset(const char* name) { return Asset::open(*folder_ / name); }
  static testing::TemporaryFolder* folder_;
};
testing::TemporaryFolder* ImageGeneratorTest::folder_ = nullptr;

ImageGeneratorSettings settings(int maximumSide, double toleranceSec) {
  return {.maximumWidth = maximumSide,
          .maximumHeight = maximumSide,
          .toleranceBeforeSec = toleranceSec,
          .toleranceAfterSec = toleranceSec,
          .appliesPreferredTrackTransform = true};
}

TEST_F(ImageGeneratorTest, GivesThePictureOfTheRequestedMomentInAnyOrder) {
  ImageGenerator generator(asset("clock.mp4"), settings(320, 0.1));
  // Forward, backward across keyframes, and repeated.
  for (const double timeSec : {0.0, 0.5, 1.7, 3.9, 0.2, 2.5, 2.5, 1.0}) {
    const cv::Mat image = generator.image(timeSec);
    EXPECT_NEAR(testing::clockTimeOf(image), timeSec, kWithinTolerance) << "at " << timeSec;
  }
}

TEST_F(ImageGeneratorTest, FitsTheBoundingBoxWithoutEnlarging) {
  EXPECT_EQ(ImageGenerator(asset("clock.mp4"), settings(32, 0.1)).image(1).size(),
            cv::Size(32, 24));
  EXPECT_EQ(ImageGenerator(asset("clock.mp4"), settings(320, 0.1)).image(1).size(),
            cv::Size(64, 48));
  ImageGeneratorSettings tall = settings(0, 0.1);
  tall.maximumHeight = 12;
  EXPECT_EQ(ImageGenerator(asset("clock.mp4"), tall).image(1).size(), cv::Size(16, 12));
}

TEST_F(ImageGeneratorTest, TurnsPicturesUprightUnlessAskedNotTo) {
  EXPECT_EQ(ImageGenerator(asset("turned.mp4"), settings(32, 0.1)).image(1).size(),
            cv::Size(24, 32));
  ImageGeneratorSettings asStored = settings(32, 0.1);
  asStored.appliesPreferredTrackTransform = false;
  EXPECT_EQ(ImageGenerator(asset("turned.mp4"), asStored).image(1).size(), cv::Size(32, 24));
}

TEST_F(ImageGeneratorTest, AMomentWithoutAFrameWithinTheToleranceHasNoPicture) {
  // Frames every 0.5 s: 0.25 s from any frame is outside a 0.1 s tolerance.
  ImageGenerator sparse(asset("sparse.mp4"), settings(64, 0.1));
  EXPECT_NEAR(testing::clockTimeOf(sparse.image(1.05)), 1.0, kWithinTolerance);
  EXPECT_THAT([&] { sparse.image(1.25); },
              ::testing::ThrowsMessage<MediaError>(::testing::HasSubstr("\u201Csparse.mp4\u201D")));
  ImageGenerator clock(asset("clock.mp4"), settings(64, 0.1));
  EXPECT_THROW(clock.image(4.5), MediaError) << "past the end";
  EXPECT_THROW(clock.image(-1.0), MediaError);
  EXPECT_THROW(clock.image(std::nan("")), MediaError);
  EXPECT_NEAR(testing::clockTimeOf(clock.image(3.95)), 3.95, kWithinTolerance)
      << "still answers after misses";
}

TEST(ImageGenerator, AfterASeekAKeyframeWithinTheToleranceIsTheAnswer) {
  // Keyframes every second and B-frames, so the container's index (decoding times) and the
  // pictures (presentation times) disagree by a few frames.
  testing::TemporaryFolder folder;
  testing::runFfmpeg({"-f", "lavfi", "-i",
                      "color=black:s=64x48:r=30:d=4.5,format=rgb24,geq=r='T*50':g='T*50':b='T*50'",
                      "-c:v", "libx264", "-preset", "veryfast", "-bf", "2", "-g", "30",
                      "-sc_threshold", "0", "-pix_fmt", "yuv420p", (folder / "gop.mp4").string()});
  ImageGenerator generator(Asset::open(folder / "gop.mp4"), settings(64, 0.5));
  // 3.4 s accepts 2.9…3.9 s: the keyframe at 3.0 s is the one picture needing no other.
  EXPECT_NEAR(testing::clockTimeOf(generator.image(3.4)) * 60 / 50, 3.0, 0.04);

  // Far-apart requests stop decoding at their picture; whatever comes next, near or far, ahead
  // or behind, still gets its own moment.
  ImageGenerator tight(Asset::open(folder / "gop.mp4"), settings(64, 0.1));
  const double withinTolerance = 0.1 + 0.04 * 60 / 50;  // this clock runs at 50 grey levels a second
  for (const double timeSec : {2.5, 2.6, 2.7, 0.4, 3.6, 3.55, 1.5})
    EXPECT_NEAR(testing::clockTimeOf(tight.image(timeSec)) * 60 / 50, timeSec, withinTolerance)
        << "at " << timeSec;
  std::vector<double> answered;
  tight.images({4.2, 0.5, 2.45, 2.5}, [&](GeneratedImage result) {
    EXPECT_TRUE(result.image) << result.error;
    if (result.image) {
      EXPECT_NEAR(testing::clockTimeOf(*result.image) * 60 / 50, result.requestedTimeSec,
                  withinTolerance);
    }
    answered.push_back(result.requestedTimeSec);
    return true;
  });
  EXPECT_THAT(answered, ::testing::ElementsAre(0.5, 2.45, 2.5, 4.2));
}

TEST_F(ImageGeneratorTest, StreamsEveryTimeInAscendingOrderAndStopsWhenAsked) {
  ImageGenerator generator(asset("clock.mp4"), settings(64, 0.1));
  std::vector<double> delivered;
  int pictures = 0;
  generator.images({3.0, 0.5, 9.0, 1.5}, [&](GeneratedImage result) {
    delivered.push_back(result.requestedTimeSec);
    if (result.image) {
      ++pictures;
      EXPECT_NEAR(testing::clockTimeOf(*result.image), result.requestedTimeSec, kWithinTolerance);
    } else {
      EXPECT_FALSE(result.error.empty());
    }
    return true;
  });
  EXPECT_THAT(delivered, ::testing::ElementsAre(0.5, 1.5, 3.0, 9.0));
  EXPECT_EQ(pictures, 3);

  int calls = 0;
  generator.images({0.0, 1.0, 2.0, 3.0}, [&](GeneratedImage) { return ++calls < 2; });
  EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace brisklet
