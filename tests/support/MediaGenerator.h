#pragma once

#include <filesystem>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace brisklet::testing {

// Runs the ffmpeg command line (quietly, overwriting) to make a test input; throws with its
// output when it fails.
void runFfmpeg(const std::vector<std::string>& arguments);

// A video whose grey level tells its time: 60 × t (t in seconds, up to 4.25 s), so a sampled
// picture shows which moment it came from. Size 64×48 unless given; H.264, one keyframe per second.
std::filesystem::path makeClockVideo(const std::filesystem::path& file, double durationSec,
                                     int width = 64, int height = 48, int fps = 30);

// The moment of a makeClockVideo picture, read from its grey level (±0.04 s).
double clockTimeOf(const cv::Mat& image);

// The third-party clips beside the project, or empty when they are not there.
std::filesystem::path sharedMedia(const std::string& name);

}  // namespace brisklet::testing

// Skips the test with a message when the shared clips are missing.
#define SKIP_WITHOUT_SHARED_MEDIA()                 \
  if (::brisklet::testing::sharedMedia("").empty()) \
  GTEST_SKIP() << "../shared/media is not here; the real-footage tests need its clips"
