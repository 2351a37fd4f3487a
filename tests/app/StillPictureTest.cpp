#include "app/StillPicture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/imgcodecs.hpp>
#include <random>

#include "media/SegmentTimeMapping.h"
#include "platform/Bookmark.h"
#include "support/MediaGenerator.h"
#include "support/Projects.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

constexpr double kFps = 30;

class StillPictureTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;
  ProjectStore store{folder / "Projects"};
  Project project;

  StillPictureTest() {
    const auto video = testing::makeNumberedVideo(folder / "numbered.mp4", 20);
    project = makeProject("Numbers", makeBookmark(video), 20.0);
    project.editPlan = EditPlan{.segments = {testing::segment(1.0, 5.0), testing::segment(5.0, 8.0, false),
                                             testing::segment(8.0, 14.3), testing::segment(14.3, 19.0)}};
    store.save(project);
  }

  int shownAt(double timeSec, bool onSourceAxis) {
    const auto png = folder / "still.png";
    writeStill(project, store, timeSec, onSourceAxis, png);
    const cv::Mat image = cv::imread(png.string(), cv::IMREAD_GRAYSCALE);
    EXPECT_FALSE(image.empty()) << png;
    return image.empty() ? -1 : testing::frameNumberOf(image);
  }
};

TEST_F(StillPictureTest, EveryMomentShowsExactlyItsOwnFrameOnBothAxes) {
  const std::vector<SegmentTimeMapping> mappings = {
      {Uuid::random(), 1.0, 0.0, 4.0}, {Uuid::random(), 8.0, 4.0, 6.3}, {Uuid::random(), 14.3, 10.3, 4.7}};
  std::mt19937 random(7);
  for (const auto& [aspect, transition] :
       {std::pair{"original", "none"}, std::pair{"9:16", "dipToBlack"}}) {
    project.aspectRatioRaw = aspect;
    project.transitionStyleRaw = transition;
    const bool dips = std::string(transition) == "dipToBlack";
    for (int trial = 0; trial < 50; ++trial) {
      // Output axis: a moment away from frame edges (and from the dips, which darken the blocks).
      double output = std::uniform_real_distribution<double>(0, 15.0)(random);
      const double fraction = output * kFps - std::floor(output * kFps);
      if (fraction < 0.02 || fraction > 0.98) continue;
      if (dips && (std::fabs(output - 4.0) < 0.6 || std::fabs(output - 10.3) < 0.6 || output < 0.6 ||
                   output > 14.4))
        continue;
      const double source = *sourceTime(mappings, output);
      EXPECT_EQ(shownAt(output, false), static_cast<int>(std::floor(source * kFps + 1e-6)))
          << aspect << " output " << output;

      // Source axis: inside a kept segment, its own frame; in the dropped stretch, the next kept
      // segment's first frame.
      const double asked = std::uniform_real_distribution<double>(1.0, 19.0)(random);
      const double askedFraction = asked * kFps - std::floor(asked * kFps);
      if (askedFraction < 0.02 || askedFraction > 0.98) continue;
      // With dips, a dropped moment lands where the next segment rises out of black.
      if (dips && (std::fabs(asked - 14.3) < 0.6 || (asked > 4.4 && asked < 8.6) || asked < 1.6 ||
                   asked > 18.4))
        continue;
      const int expected = asked >= 5.0 && asked < 8.0 ? static_cast<int>(std::ceil(8.0 * kFps))
                                                      : static_cast<int>(std::floor(asked * kFps + 1e-6));
      EXPECT_EQ(shownAt(asked, true), expected) << aspect << " source " << asked;
    }
  }
}

TEST_F(StillPictureTest, TheEndShowsTheLastFrameAndBadDestinationsAreRefused) {
  EXPECT_EQ(shownAt(15.0, false), 569) << "the frame before source 19.0";
  EXPECT_EQ(shownAt(99.0, false), 569);
  EXPECT_EQ(shownAt(19.5, true), 569);
  EXPECT_THROW(writeStill(project, store, 1.0, false, folder / "numbered.mp4"), std::runtime_error);
  EXPECT_THROW(writeStill(project, store, 1.0, false, folder / "still.jpg"), std::runtime_error);
  EXPECT_TRUE(std::filesystem::exists(folder / "numbered.mp4"));
}

}  // namespace
}  // namespace brisklet
