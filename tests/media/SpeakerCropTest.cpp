#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>
#include <string>
#include <vector>

#include "analysis/AnalysisPipeline.h"
#include "media/CompositionExporter.h"
#include "media/CropFollowing.h"
#include "platform/AtomicFile.h"
#include "support/MediaGenerator.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

// A 9:16 export of a wide talking-head shot keeps the speaker in the picture: the crop follows
// the face, glides slowly, and holds still while the face does. Checked on real talkers set at
// the left third of a 1920x1080 picture, with faces found by the test at three times the
// analysis's resolution, and the window measured in the exported pictures themselves.

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
// The share of the source's width a 9:16 window of a 16:9 picture shows, in source pixels.
constexpr double kWindowWidth = kHeight * 9.0 / 16.0;
// The exported window's pictures and the source's, at a quarter of the source's size.
constexpr int kQuarter = 4;
const cv::Size kSourceQuarter(kWidth / kQuarter, kHeight / kQuarter);
const cv::Size kWindowQuarter(152, kHeight / kQuarter);

struct Talker {
  const char* file;
  double scale;
  int left;
  int top;
};

// Boxed as a wide picture of a talker is: bars on both sides (and above and below).
const Talker kTalkers[] = {{"grid_swwp2s.mpg", 2.5, 190, 180},
                           {"short_hamilton_clip.mp4", 2.5, 40, 90}};

// Every picture of `movie` as grey `size` pictures, in order.
std::vector<cv::Mat> greyPictures(const std::filesystem::path& movie, cv::Size size,
                                  const std::filesystem::path& scratch) {
  const auto raw = scratch / "pictures.gray";
  testing::runFfmpeg(
      {"-i", movie.string(), "-fps_mode", "passthrough", "-vf",
       "scale=" + std::to_string(size.width) + ":" + std::to_string(size.height) + ":flags=area",
       "-f", "rawvideo", "-pix_fmt", "gray", raw.string()});
  const std::string bytes = readFile(raw);
  std::vector<cv::Mat> pictures;
  for (size_t at = 0; at + size.area() <= bytes.size(); at += size.area())
    pictures.push_back(cv::Mat(size, CV_8UC1, const_cast<char*>(bytes.data() + at)).clone());
  return pictures;
}

// The faces of a grey picture at half the source's size, in source pixels. A find needs more
// neighbours than the analysis asks for: a logo or an ear is no face to frame.
std::vector<cv::Rect> facesIn(cv::CascadeClassifier& detector, const cv::Mat& half) {
  std::vector<cv::Rect> found;
  detector.detectMultiScale(half, found, 1.1, 6, 0, {30, 30});
  for (cv::Rect& face : found)
    face = cv::Rect(face.x * 2, face.y * 2, face.width * 2, face.height * 2);
  return found;
}

bool holds(const TimeRange& range, double seconds) {
  return seconds >= range.start.seconds() && seconds < range.end().seconds();
}

// Where the window of `composition` starts at output time `seconds`, in source pixels.
double windowLeftAt(const VideoComposition& composition, double seconds) {
  const auto holding =
      std::find_if(composition.instructions.begin(), composition.instructions.end(),
                   [&](const VideoInstruction& each) { return holds(each.range, seconds); });
  EXPECT_NE(holding, composition.instructions.end());
  const double shiftX = holding->transform.then(panAt(holding->pan, seconds)).tx;
  return -shiftX * kHeight / composition.renderHeight;
}

// Where the exported window shows the source picture from, in source pixels.
double measuredWindowLeft(const cv::Mat& sourceQuarter, const cv::Mat& windowQuarter) {
  cv::Mat scores;
  cv::matchTemplate(sourceQuarter, windowQuarter, scores, cv::TM_SQDIFF);
  cv::Point best;
  cv::minMaxLoc(scores, nullptr, nullptr, &best, nullptr);
  return best.x * kQuarter;
}

class SpeakerCropTest : public ::testing::TestWithParam<Talker> {
 protected:
  testing::TemporaryFolder folder;

  std::filesystem::path padded(const Talker& talker) {
    const auto file = folder / "wide.mp4";
    testing::runFfmpeg({"-i", testing::sharedMedia(talker.file).string(), "-an", "-vf",
                        "scale=iw*" + std::to_string(talker.scale) +
                            ":-2,pad=" + std::to_string(kWidth) + ":" + std::to_string(kHeight) +
                            ":" + std::to_string(talker.left) + ":" + std::to_string(talker.top) +
                            ":black,setpts=PTS-STARTPTS",
                        "-c:v", "libx264", "-preset", "ultrafast", "-crf", "16", file.string()});
    return file;
  }
};

TEST_P(SpeakerCropTest, TheVerticalCropFollowsTheFaceSmoothly) {
  const Talker& talker = GetParam();
  if (testing::sharedMedia(talker.file).empty()) GTEST_SKIP() << "no shared media";
  const auto source = padded(talker);
  EditPlan plan;
  plan.segments = AnalysisPipeline::analyzeOnDevice(source, [](const auto&) {}, {}).segments;
  for (Segment& segment : plan.segments) segment.keep = true;
  ASSERT_TRUE(std::any_of(plan.segments.begin(), plan.segments.end(), [](const Segment& segment) {
    return !segment.facePath.empty();
  })) << "the analysis found the talker";

  const Asset asset = Asset::open(source);
  CompositionBuilder::Inputs inputs;
  inputs.aspect = AspectRatio::vertical;
  const VideoComposition layout = *CompositionBuilder::build(plan, asset, inputs).videoComposition;
  const auto movie = folder / "vertical.mp4";
  CompositionExporter::exportMovie(
      plan, asset, inputs, movie, [](double) {}, {},
      CompositionExporter::Encoding{18, "ultrafast"});

  const std::vector<cv::Mat> sources = greyPictures(source, kSourceQuarter, folder.path());
  const std::vector<cv::Mat> halves =
      greyPictures(source, {kWidth / 2, kHeight / 2}, folder.path());
  const std::vector<cv::Mat> windows = greyPictures(movie, kWindowQuarter, folder.path());
  ASSERT_EQ(windows.size(), sources.size()) << "every picture once";
  cv::CascadeClassifier faces(
      "/usr/share/opencv4/haarcascades/haarcascade_frontalface_default.xml");
  ASSERT_FALSE(faces.empty());

  const double frameSec = layout.frameDuration.seconds();
  // At most the glide's speed over the whole scaled picture, per output frame.
  const double longestStep = CropFollowing::kGlideSharePerSec * kWidth * frameSec + 1e-6;
  int facesChecked = 0;
  int facesFramed = 0;
  int facesCentred = 0;
  double lowest = INFINITY, highest = -INFINITY;
  for (size_t frame = 0; frame < sources.size(); ++frame) {
    const double seconds = (static_cast<double>(frame) + 0.5) * frameSec;
    const double left = windowLeftAt(layout, seconds);
    lowest = std::min(lowest, left);
    highest = std::max(highest, left);
    if (frame > 0) {
      const double previousSec = seconds - frameSec;
      const bool sameScene =
          std::find_if(layout.instructions.begin(), layout.instructions.end(),
                       [&](const VideoInstruction& each) {
                         return holds(each.range, seconds) && holds(each.range, previousSec);
                       }) != layout.instructions.end();
      if (sameScene) {
        EXPECT_LE(std::abs(left - windowLeftAt(layout, previousSec)), longestStep)
            << "frame " << frame;
      }
    }
    if (frame % 5 != 0) continue;
    EXPECT_NEAR(measuredWindowLeft(sources[frame], windows[frame]), left, 2.0 * kQuarter)
        << "the export shows the window at frame " << frame;
    // Where a shot holds several people (a pianist beside the singer, an audience), the crop
    // frames one of them whole.
    const std::vector<cv::Rect> seen = facesIn(faces, halves[frame]);
    if (seen.empty()) continue;
    ++facesChecked;
    const auto framesOne = [&](double windowLeft) {
      return std::any_of(seen.begin(), seen.end(), [&](const cv::Rect& face) {
        return face.x >= windowLeft - 2 && face.x + face.width <= windowLeft + kWindowWidth + 2;
      });
    };
    facesFramed += framesOne(left);
    facesCentred += framesOne((kWidth - kWindowWidth) / 2);
  }
  EXPECT_GE(facesChecked, static_cast<int>(sources.size()) / 10);
  EXPECT_EQ(facesFramed, facesChecked)
      << facesFramed << " of " << facesChecked << " pictures with faces frame one whole";
  EXPECT_GT(facesFramed, facesCentred) << "a centred crop frames " << facesCentred;
  if (std::string(talker.file) == "grid_swwp2s.mpg") {
    EXPECT_LT(highest - lowest, 1.0) << "a talker who holds still is framed by a still window";
    EXPECT_LT(highest + kWindowWidth / 2, kWidth / 2.0) << "framed off the centre";
  }
}

INSTANTIATE_TEST_SUITE_P(RealTalkers, SpeakerCropTest, ::testing::ValuesIn(kTalkers),
                         [](const auto& info) {
                           return std::string(info.param.file).substr(0, 4) == "grid"
                                      ? std::string("Grid")
                                      : std::string("Hamilton");
                         });

// A picture with no face in it is cut at the centre, as it always was.
TEST(SpeakerCrop, APictureWithoutAFaceIsCroppedAtTheCentre) {
  testing::TemporaryFolder folder;
  const auto source = folder / "pattern.mp4";
  testing::runFfmpeg({"-f", "lavfi", "-i", "testsrc2=s=1920x1080:r=25:d=3", "-c:v", "libx264",
                      "-preset", "ultrafast", source.string()});
  EditPlan plan;
  plan.segments = AnalysisPipeline::analyzeOnDevice(source, [](const auto&) {}, {}).segments;
  for (const Segment& segment : plan.segments) EXPECT_TRUE(segment.facePath.empty());
  CompositionBuilder::Inputs inputs;
  inputs.aspect = AspectRatio::vertical;
  const VideoComposition layout =
      *CompositionBuilder::build(plan, Asset::open(source), inputs).videoComposition;
  ASSERT_EQ(layout.instructions.size(), 1u);
  EXPECT_TRUE(layout.instructions[0].pan.empty());
  EXPECT_NEAR(windowLeftAt(layout, 1.0), (kWidth - kWindowWidth) / 2, 1e-6);
}

}  // namespace
}  // namespace brisklet
