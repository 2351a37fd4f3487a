#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "media/CompositionExporter.h"
#include "media/platform/FrameRate.h"
#include "media/platform/Renderer.h"
#include "platform/AtomicFile.h"
#include "support/MediaGenerator.h"
#include "support/Projects.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

// Every kept source picture arrives in the export exactly once and lasts its whole length, the
// last one included, whatever the encoder's reordering, in both framings. Counted by ffmpeg and
// by GStreamer, which read a track's end differently.

constexpr int kRate = 30;
constexpr int kSourceFrames = 210;

struct Source {
  const char* name;
  std::vector<std::string> encoding;
};

const Source kSources[] = {
    {"P-only H.264", {"-c:v", "libx264", "-bf", "0", "-g", "60"}},
    {"H.264, B-frames, GOP 60", {"-c:v", "libx264", "-bf", "3", "-g", "60"}},
    {"H.264, B-frames, GOP 250", {"-c:v", "libx264", "-bf", "3", "-g", "250"}},
    {"closed-GOP HEVC",
     {"-c:v", "libx265", "-x265-params", "log-level=error:keyint=60:open-gop=0", "-tag:v", "hvc1"}},
};

// `runs` kept runs of whole frames, cut where a picture starts, with a dropped stretch between
// each two. Returns the plan and the number of source pictures it keeps.
std::pair<EditPlan, int> planOfRuns(int runs) {
  EditPlan plan;
  const int step = (kSourceFrames - 10) / runs;
  const int kept = runs == 1 ? 180 : step * 2 / 3;
  int frames = 0;
  for (int run = 0; run < runs; ++run) {
    const int first = 5 + run * step;
    const auto at = [](int frame) { return static_cast<double>(frame) / kRate; };
    plan.segments.push_back(testing::segment(at(first), at(first + kept)));
    if (run + 1 < runs)
      plan.segments.push_back(testing::segment(at(first + kept), at(first + step), false));
    frames += kept;
  }
  return {plan, frames};
}

double probed(const std::filesystem::path& movie, const std::string& stream,
              const std::string& entry) {
  return std::stod(testing::commandOutput({"ffprobe", "-v", "error", "-select_streams", stream,
                                           "-count_frames", "-show_entries", "stream=" + entry,
                                           "-of", "csv=p=0", movie.string()}));
}

// The pictures GStreamer decodes from an export (always H.264).
int gstreamerFrames(const std::filesystem::path& movie) {
  std::istringstream printed(testing::commandOutput(
      {"gst-launch-1.0", "-v", "filesrc", "location=" + movie.string(), "!", "qtdemux", "!",
       "h264parse", "!", "avdec_h264", "!", "fakesink", "silent=false"}));
  int frames = 0;
  for (std::string line; std::getline(printed, line);)
    if (line.find("fakesink0") != std::string::npos && line.find("chain") != std::string::npos)
      ++frames;
  return frames;
}

class EveryFrameTest : public ::testing::TestWithParam<Source> {
 protected:
  testing::TemporaryFolder folder;
};

TEST_P(EveryFrameTest, EveryKeptPictureIsDecodedOnceAndTheLastLastsItsLength) {
  const Source& source = GetParam();
  std::vector<std::string> making = {
      "-f",       "lavfi",
      "-i",       "testsrc2=s=160x90:r=30:d=" + std::to_string(kSourceFrames / kRate),
      "-f",       "lavfi",
      "-i",       "sine=f=440:d=7",
      "-pix_fmt", "yuv420p"};
  making.insert(making.end(), source.encoding.begin(), source.encoding.end());
  making.insert(making.end(), {"-c:a", "aac", "-shortest", (folder / "source.mp4").string()});
  testing::runFfmpeg(making);
  const Asset asset = Asset::open(folder / "source.mp4");

  for (const int runs : {1, 3, 20}) {
    const auto [plan, keptFrames] = planOfRuns(runs);
    for (const AspectRatio aspect : {AspectRatio::original, AspectRatio::wide}) {
      SCOPED_TRACE(std::string(source.name) + ", " + std::to_string(runs) + " runs, " +
                   std::string(rawValue(aspect)));
      CompositionBuilder::Inputs inputs;
      inputs.aspect = aspect;
      const auto movie = folder / "edit.mp4";
      CompositionExporter::exportMovie(
          plan, asset, inputs, movie, [](double) {}, {},
          CompositionExporter::Encoding{23, "ultrafast"});
      const double keptSec = static_cast<double>(keptFrames) / kRate;
      EXPECT_EQ(probed(movie, "v:0", "nb_read_frames"), keptFrames);
      EXPECT_EQ(gstreamerFrames(movie), keptFrames);
      const double pictureSec = probed(movie, "v:0", "duration");
      EXPECT_NEAR(pictureSec, keptSec, 0.5 / kRate);
      EXPECT_NEAR(probed(movie, "a:0", "duration"), pictureSec, 1.0 / kRate);
    }
  }
}

// The number every picture of `movie` carries, in the order they come out.
std::vector<int> frameNumbersIn(const std::filesystem::path& movie,
                                const std::filesystem::path& scratch) {
  const cv::Size size(32, 20);
  const auto raw = scratch / "frames.gray";
  testing::runFfmpeg({"-i", movie.string(), "-fps_mode", "passthrough", "-vf",
                      "scale=32:20:flags=area", "-f", "rawvideo", "-pix_fmt", "gray",
                      raw.string()});
  std::string bytes = readFile(raw);
  std::vector<int> numbers;
  for (size_t at = 0; at + size.area() <= bytes.size(); at += size.area())
    numbers.push_back(testing::frameNumberOf(cv::Mat(size, CV_8UC1, bytes.data() + at)));
  return numbers;
}

TEST(ComposedFrameRate, IsTheSourcesOwnStandardRateAndNeverRounded) {
  EXPECT_EQ(av_cmp_q(standardFrameRate(25), AVRational{25, 1}), 0);
  EXPECT_EQ(av_cmp_q(standardFrameRate(29.97), AVRational{30000, 1001}), 0);
  EXPECT_EQ(av_cmp_q(standardFrameRate(23.98), AVRational{24000, 1001}), 0);
  EXPECT_EQ(av_cmp_q(standardFrameRate(59.94), AVRational{60000, 1001}), 0);
  EXPECT_EQ(av_cmp_q(standardFrameRate(29.2), AVRational{30000, 1001}), 0) << "a phone's average";
  EXPECT_EQ(av_cmp_q(standardFrameRate(120), AVRational{60, 1}), 0) << "at most 60";
  EXPECT_EQ(av_cmp_q(standardFrameRate(0), AVRational{30, 1}), 0) << "unknown";
}

// A 16:9 export of a source at 25, 50 or 59.94 frames a second plays at that rate and shows every
// kept picture once, in order: none repeated, none of the dropped stretches let in at a cut.
TEST(ComposedFrameRate, EveryKeptPictureOfASourceAtItsOwnRateArrivesOnce) {
  testing::TemporaryFolder folder;
  for (const AVRational rate : {AVRational{25, 1}, AVRational{50, 1}, AVRational{60000, 1001}}) {
    const std::string rateText = std::to_string(rate.num) + "/" + std::to_string(rate.den);
    SCOPED_TRACE(rateText);
    const auto source = folder / "source.mp4";
    testing::runFfmpeg({"-f", "lavfi", "-i",
                        "color=black:s=192x108:r=" + rateText + ":d=4," + testing::frameNumbering(),
                        "-f", "lavfi", "-i", "sine=f=440:d=4", "-c:v", "libx264", "-bf", "3",
                        "-crf", "10", "-c:a", "aac", "-shortest", source.string()});
    const Asset asset = Asset::open(source);
    const auto at = [&](int frame) { return frame * av_q2d(av_inv_q(rate)); };
    const int frames = static_cast<int>(4 * av_q2d(rate));
    // Three kept runs cut where pictures start, dropped stretches between them.
    const std::vector<std::pair<int, int>> runs = {{frames / 20, frames * 3 / 10},
                                                   {frames * 4 / 10, frames * 6 / 10},
                                                   {frames * 7 / 10, frames * 19 / 20}};
    EditPlan plan;
    std::vector<int> kept;
    int previousEnd = 0;
    for (const auto& [first, end] : runs) {
      if (previousEnd > 0)
        plan.segments.push_back(testing::segment(at(previousEnd), at(first), false));
      plan.segments.push_back(testing::segment(at(first), at(end)));
      for (int frame = first; frame < end; ++frame) kept.push_back(frame);
      previousEnd = end;
    }
    CompositionBuilder::Inputs inputs;
    inputs.aspect = AspectRatio::wide;
    const auto movie = folder / "edit.mp4";
    CompositionExporter::exportMovie(
        plan, asset, inputs, movie, [](double) {}, {},
        CompositionExporter::Encoding{23, "ultrafast"});
    EXPECT_EQ(
        testing::commandOutput({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                                "stream=r_frame_rate", "-of", "csv=p=0", movie.string()}),
        rateText + "\n");
    EXPECT_EQ(frameNumbersIn(movie, folder.path()), kept);
  }
}

// A phone's variable-rate clip, ten minutes in one piece: every output picture is one that is on
// screen in the source within a frame of the moment it is shown, so it never drifts from the
// sound, which follows the source's clock.
TEST(ComposedFrameRate, AVariableRateClipStaysInStepWithItsSoundForTenMinutes) {
  testing::TemporaryFolder folder;
  const auto source = folder / "phone.mp4";
  // 30 a second with one picture in thirty left out and the rest shaken off their beat.
  testing::runFfmpeg({"-f", "lavfi", "-i",
                      "color=black:s=64x36:r=30:d=600,select='not(eq(mod(n,30),17))',"
                      "settb=1/90000,setpts='(T+0.006*sin(N*1.3))/TB'," +
                          testing::frameNumbering(),
                      "-fps_mode", "passthrough", "-c:v", "libx264", "-crf", "10",
                      source.string()});
  std::istringstream listed(
      testing::commandOutput({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                              "packet=pts_time", "-of", "csv=p=0", source.string()}));
  std::vector<double> starts;
  for (std::string line; std::getline(listed, line);)
    if (!line.empty()) starts.push_back(std::stod(line));
  std::sort(starts.begin(), starts.end());
  ASSERT_GT(starts.size(), 17000u);
  const double origin = starts.front();
  for (double& start : starts) start -= origin;
  double shortest = INFINITY, longest = 0;
  for (size_t index = 1; index < starts.size(); ++index) {
    shortest = std::min(shortest, starts[index] - starts[index - 1]);
    longest = std::max(longest, starts[index] - starts[index - 1]);
  }
  ASSERT_GT(longest, 2 * shortest) << "the clip is of variable rate";

  const Asset asset = Asset::open(source);
  EditPlan plan;
  plan.segments.push_back(testing::segment(0, asset.durationSec()));
  CompositionBuilder::Inputs inputs;
  inputs.aspect = AspectRatio::wide;
  const CompositionResult result = CompositionBuilder::build(plan, asset, inputs);
  ASSERT_TRUE(result.videoComposition);
  const double frameSec = result.videoComposition->frameDuration.seconds();
  EXPECT_NEAR(frameSec, 1001.0 / 30000, 1e-12) << "the standard rate nearest its average";
  VideoRenderer renderer(result.composition, result.videoComposition, 0, PictureBox{64, 36});
  int checked = 0;
  double worstSec = 0;
  while (const std::optional<RenderedPicture> picture = renderer.next({})) {
    const AVFrame& frame = *picture->frame;
    const cv::Mat luma(frame.height, frame.width, CV_8UC1, frame.data[0], frame.linesize[0]);
    const int number = testing::frameNumberOf(luma);
    // The source picture with that number nearest the moment shown (numbers run modulo 1024).
    const auto due = std::upper_bound(starts.begin(), starts.end(), picture->timeSec);
    const int dueIndex = static_cast<int>(due - starts.begin()) - 1;
    int index = dueIndex - ((dueIndex - number) % 1024 + 1024) % 1024;
    if (dueIndex - index > 512) index += 1024;
    ASSERT_GE(index, 0);
    ASSERT_LT(index + 1, static_cast<int>(starts.size()));
    // How far the moment lies outside the time that picture is on screen.
    const double offSec =
        std::max({0.0, starts[index] - picture->timeSec, picture->timeSec - starts[index + 1]});
    worstSec = std::max(worstSec, offSec);
    ++checked;
  }
  EXPECT_GT(checked, 17900);
  EXPECT_LE(worstSec, frameSec) << "picture and sound apart by more than a frame";
}

INSTANTIATE_TEST_SUITE_P(Sources, EveryFrameTest, ::testing::ValuesIn(kSources),
                         [](const auto& info) {
                           std::string name;
                           for (const char letter : std::string(info.param.name))
                             if (std::isalnum(static_cast<unsigned char>(letter))) name += letter;
                           return name;
                         });

}  // namespace
}  // namespace brisklet
