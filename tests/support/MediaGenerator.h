#pragma once

#include <filesystem>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace brisklet::testing {

// Runs the ffmpeg command line (quietly, overwriting) to make a test input; throws with its
// output when it fails.
void runFfmpeg(const std::vector<std::string>& arguments);

// A voice sample a clone can be made from: a few seconds of a voiced tone, as a WAV.
std::filesystem::path makeVoiceSample(const std::filesystem::path& file, double seconds = 4);

// A movie's sound as the ffmpeg command line measures it (its ebur128 filter): integrated
// loudness in LUFS and true peak in dBTP.
struct MeasuredLoudness {
  double integratedLufs = 0;
  double truePeakDb = 0;
};
MeasuredLoudness ffmpegLoudness(const std::filesystem::path& movie);

// A movie's sound decoded by the ffmpeg command line: 48 kHz interleaved stereo floats.
std::vector<float> ffmpegSound(const std::filesystem::path& movie);
// ffprobe's duration of a file (its container's), the reference for ours.
double ffprobeDurationSec(const std::filesystem::path& file);
// What a program prints on its standard output (the first element names it).
std::string commandOutput(const std::vector<std::string>& command);

// Runs a program with its arguments (the first element names it); throws with its output when it
// fails.
void runCommand(const std::vector<std::string>& command);

// A video whose grey level tells its time: 60 × t (t in seconds, up to 4.25 s), so a sampled
// picture shows which moment it came from. Size 64×48 unless given; H.264, one keyframe per second.
std::filesystem::path makeClockVideo(const std::filesystem::path& file, double durationSec,
                                     int width = 64, int height = 48, int fps = 30);

// The moment of a makeClockVideo picture, read from its grey level (±0.04 s).
double clockTimeOf(const cv::Mat& image);

// A video whose pictures carry their frame number in ten light-or-dark blocks (two across, five
// down, light for a 1 bit): `durationSec` at 30 frames a second, 72×128, long-GOP H.264 with three
// B-frames between references, so a frame-exact seek has to decode past many pictures.
std::filesystem::path makeNumberedVideo(const std::filesystem::path& file, double durationSec);

// The filters that draw makeNumberedVideo's blocks on any video, numbering the pictures as they
// arrive (modulo 1024); they go after the source in a chain.
std::string frameNumbering();

// `sdr` (BT.709) as a phone records it in high dynamic range: 10-bit HEVC in BT.2020 with the
// `transfer` "arib-std-b67" (HLG) or "smpte2084" (PQ), its white at the 203 nits of the reference
// white phones grade to, tagged in the stream and in the container.
std::filesystem::path makeHighDynamicRangeVideo(const std::filesystem::path& sdr,
                                                const std::string& transfer,
                                                const std::filesystem::path& file);

// The frame number a makeNumberedVideo picture carries (grey or BGR, any size).
int frameNumberOf(const cv::Mat& image);

// The third-party clips beside the project, or empty when they are not there.
std::filesystem::path sharedMedia(const std::string& name);

}  // namespace brisklet::testing

// Skips the test with a message when the shared clips are missing.
#define SKIP_WITHOUT_SHARED_MEDIA()                 \
  if (::brisklet::testing::sharedMedia("").empty()) \
  GTEST_SKIP() << "../shared/media is not here; the real-footage tests need its clips"
