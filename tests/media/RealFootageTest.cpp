#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/core.hpp>

#include "analysis/FrameSampler.h"
#include "media/WaveformExtractor.h"
#include "platform/AtomicFile.h"
#include "support/MediaGenerator.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

// What each clip of ../shared/media shows: displayed size after rotation and pixel aspect.
struct Clip {
  const char* name;
  int displayWidth;
  int displayHeight;
  bool hasSound;
};

const std::vector<Clip> kClips = {
    {"testvideo.mp4", 1280, 720, false},
    {"goldeneye-vfr-drop3.mp4", 1280, 544, false},
    {"issue-134-rotate.mp4", 544, 1280, true},
    {"issue-195-aspect-ratio.mp4", 1024, 576, true},
    {"counter.mp4", 1920, 1080, false},
    {"iphone_rotated.mov", 320, 568, true},
    {"short_hamilton_clip.mp4", 640, 360, true},
    {"bottle-detection.mp4", 640, 360, false},
    {"gopro_karma.mp4", 854, 480, true},
    {"train.mov", 1440, 1080, true},
    {"fire2.mp4", 1280, 720, true},
    {"grid_swwp2s.mpg", 360, 288, true},
};

TEST(RealFootage, SampledFramesAreUprightWithTheDisplayedShapeAndCoverTheClip) {
  SKIP_WITHOUT_SHARED_MEDIA();
  for (const Clip& clip : kClips) {
    SCOPED_TRACE(clip.name);
    const Asset asset = Asset::open(testing::sharedMedia(clip.name));
    const VideoTrack& video = asset.firstVideoTrack();
    EXPECT_EQ(video.displayWidth(), clip.displayWidth);
    EXPECT_EQ(video.displayHeight(), clip.displayHeight);

    const std::vector<double> times = FrameSampler::sampleTimes(asset.durationSec(), 2.0);
    ASSERT_FALSE(times.empty());
    EXPECT_GT(times.back() + 0.5, asset.durationSec() - 1e-9) << "the samples reach the end";
    auto stream =
        FrameSampler::frames(ImageGenerator(asset, FrameSampler::kSamplingSettings), times);
    // Times before the first picture (sound may start earlier) have none.
    const auto withinPicture = std::count_if(
        times.begin(), times.end(), [&](double time) { return time >= video.startSec - 0.1; });
    size_t frames = 0;
    const double displayedAspect = static_cast<double>(clip.displayWidth) / clip.displayHeight;
    while (std::optional<SampledFrame> frame = stream->next()) {
      ++frames;
      EXPECT_EQ(std::max(frame->image.cols, frame->image.rows), 320) << "at " << frame->timeSec;
      EXPECT_NEAR(static_cast<double>(frame->image.cols) / frame->image.rows, displayedAspect,
                  0.02);
    }
    EXPECT_EQ(frames, static_cast<size_t>(withinPicture)) << "every time within the stream";
  }
}

TEST(RealFootage, WaveformsHaveTenValuesPerSecondOfSound) {
  SKIP_WITHOUT_SHARED_MEDIA();
  for (const Clip& clip : kClips) {
    SCOPED_TRACE(clip.name);
    const Asset asset = Asset::open(testing::sharedMedia(clip.name));
    const std::vector<float> envelope = WaveformExtractor::rmsEnvelope(asset, 10);
    if (!clip.hasSound) {
      EXPECT_TRUE(envelope.empty());
      continue;
    }
    EXPECT_NEAR(static_cast<double>(envelope.size()), asset.durationSec() * 10, 1.5);
    EXPECT_GT(*std::max_element(envelope.begin(), envelope.end()), 0.0f) << "something is heard";
  }
}

// ffmpeg's own picture of a moment, turned upright the way ffmpeg turns it by default.
cv::Mat ffmpegPicture(const std::filesystem::path& clip, double timeSec, cv::Size size,
                      const std::filesystem::path& scratch) {
  const auto raw = scratch / "reference.bgr";
  testing::runFfmpeg({"-ss", std::to_string(timeSec), "-i", clip.string(), "-frames:v", "1", "-vf",
                      "scale=" + std::to_string(size.width) + ":" + std::to_string(size.height),
                      "-f", "rawvideo", "-pix_fmt", "bgr24", raw.string()});
  const std::string bytes = readFile(raw);
  if (bytes.size() != static_cast<size_t>(size.area()) * 3) return {};
  return cv::Mat(size, CV_8UC3, const_cast<char*>(bytes.data())).clone();
}

TEST(RealFootage, PicturesTurnTheWayTheirDisplayMatrixSays) {
  SKIP_WITHOUT_SHARED_MEDIA();
  testing::TemporaryFolder scratch;
  for (const char* name : {"issue-134-rotate.mp4", "iphone_rotated.mov", "fire2.mp4"}) {
    SCOPED_TRACE(name);
    const Asset asset = Asset::open(testing::sharedMedia(name));
    ImageGenerator generator(asset, ImageGeneratorSettings{.maximumWidth = 160,
                                                           .maximumHeight = 160,
                                                           .toleranceBeforeSec = 0.1,
                                                           .toleranceAfterSec = 0.1});
    const double timeSec = 1.0;
    const cv::Mat ours = generator.image(timeSec);
    const cv::Mat reference =
        ffmpegPicture(testing::sharedMedia(name), timeSec, ours.size(), scratch.path());
    ASSERT_FALSE(reference.empty());
    cv::Mat turnedAround;
    cv::rotate(ours, turnedAround, cv::ROTATE_180);
    const double difference = cv::norm(ours, reference, cv::NORM_L1) / ours.total();
    const double differenceIfWrong = cv::norm(turnedAround, reference, cv::NORM_L1) / ours.total();
    EXPECT_LT(difference * 2, differenceIfWrong)
        << "ours " << difference << ", turned " << differenceIfWrong;
  }
}

}  // namespace
}  // namespace brisklet
