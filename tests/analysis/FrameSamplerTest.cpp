#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "analysis/FrameSampler.h"
#include "support/MediaGenerator.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

// Any frame within the sampler's ±0.1 s tolerance is a right answer; the clock reads to ±0.04 s.
constexpr double kWithinTolerance = 0.14;

using ::testing::ElementsAre;

TEST(FrameSampler, SampleTimesAreIndexTimesStepStrictlyBeforeTheEnd) {
  EXPECT_TRUE(FrameSampler::sampleTimes(0, 2).empty());
  EXPECT_TRUE(FrameSampler::sampleTimes(10, -2).empty());
  EXPECT_TRUE(FrameSampler::sampleTimes(-1, 2).empty());
  EXPECT_TRUE(FrameSampler::sampleTimes(std::nan(""), 2).empty());
  EXPECT_THAT(FrameSampler::sampleTimes(0.4, 2), ElementsAre(0.0));
  EXPECT_THAT(FrameSampler::sampleTimes(1.0, 2), ElementsAre(0.0, 0.5));
  const auto tenSeconds = FrameSampler::sampleTimes(10.0, 2);
  ASSERT_EQ(tenSeconds.size(), 20u);
  EXPECT_EQ(tenSeconds.back(), 9.5);
  // Products, not sums: 0.1 added 300 times drifts, 300 × 0.1 does not.
  const auto dense = FrameSampler::sampleTimes(30.0, 10);
  ASSERT_EQ(dense.size(), 300u);
  EXPECT_EQ(dense[299], 299 * 0.1);
}

ImageGenerator samplingGenerator(const std::filesystem::path& file) {
  return ImageGenerator(Asset::open(file), FrameSampler::kSamplingSettings);
}

TEST(FrameSampler, StreamsTheFrameOfEveryTimeInsideTheVideoAndSkipsTheRest) {
  testing::TemporaryFolder folder;
  const auto video = testing::makeClockVideo(folder / "clock.mp4", 3.0);
  std::vector<double> times = FrameSampler::sampleTimes(3.0, 2);
  times.push_back(7.0);  // past the end
  auto stream = FrameSampler::frames(samplingGenerator(video), times);
  std::vector<double> delivered;
  while (std::optional<SampledFrame> frame = stream->next()) {
    delivered.push_back(frame->timeSec);
    EXPECT_NEAR(testing::clockTimeOf(frame->image), frame->timeSec, kWithinTolerance);
  }
  EXPECT_THAT(delivered, ElementsAre(0.0, 0.5, 1.0, 1.5, 2.0, 2.5));
  EXPECT_FALSE(stream->next().has_value()) << "the end stays the end";
}

TEST(FrameSampler, AnEmptyListGivesAnEmptyStreamAndLeavingEarlyStopsTheProducer) {
  testing::TemporaryFolder folder;
  const auto video = testing::makeClockVideo(folder / "long.mp4", 40.0, 64, 48, 30);
  EXPECT_FALSE(FrameSampler::frames(samplingGenerator(video), {})->next().has_value());

  auto stream = FrameSampler::frames(samplingGenerator(video), FrameSampler::sampleTimes(40.0, 2));
  ASSERT_TRUE(stream->next().has_value());
  stream.reset();  // must return promptly: the producer stops at its next frame
}

}  // namespace
}  // namespace brisklet
