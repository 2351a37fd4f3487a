#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "media/CompositionExporter.h"
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

INSTANTIATE_TEST_SUITE_P(Sources, EveryFrameTest, ::testing::ValuesIn(kSources),
                         [](const auto& info) {
                           std::string name;
                           for (const char letter : std::string(info.param.name))
                             if (std::isalnum(static_cast<unsigned char>(letter))) name += letter;
                           return name;
                         });

}  // namespace
}  // namespace brisklet
