#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <opencv2/imgproc.hpp>
#include <string>

#include "media/CompositionExporter.h"
#include "media/platform/FormatReader.h"
#include "media/platform/ImageGenerator.h"
#include "media/platform/PictureConverter.h"
#include "media/platform/Renderer.h"
#include "platform/AtomicFile.h"
#include "support/MediaGenerator.h"
#include "support/Projects.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

// Phone HDR comes out as a standard picture that looks as ffmpeg's own tone mapping makes it, in
// the export, the preview and the thumbnails alike.

// The reference: ffmpeg's recipe for HDR on an ordinary screen.
constexpr const char* kFfmpegToneMapping =
    "zscale=t=linear:npl=100,format=gbrpf32le,zscale=p=bt709,tonemap=tonemap=hable:desat=0,"
    "zscale=t=bt709:m=bt709:r=tv,format=yuv420p";
const cv::Size kSize(320, 180);
constexpr double kMomentSec = 0.5;

// CIEDE2000 colour difference of two CIELAB colours.
double colourDifference(const cv::Vec3f& first, const cv::Vec3f& second) {
  constexpr double kPi = 3.14159265358979323846;
  const auto radians = [&](double degrees) { return degrees * kPi / 180; };
  const auto degreesOf = [&](double b, double a) {
    if (a == 0 && b == 0) return 0.0;
    const double angle = std::atan2(b, a) * 180 / kPi;
    return angle < 0 ? angle + 360 : angle;
  };
  const auto pow7 = [](double value) { return std::pow(value, 7); };
  const double l1 = first[0], a1 = first[1], b1 = first[2];
  const double l2 = second[0], a2 = second[1], b2 = second[2];
  const double meanChroma = (std::hypot(a1, b1) + std::hypot(a2, b2)) / 2;
  const double g = 0.5 * (1 - std::sqrt(pow7(meanChroma) / (pow7(meanChroma) + pow7(25))));
  const double a1p = (1 + g) * a1, a2p = (1 + g) * a2;
  const double c1 = std::hypot(a1p, b1), c2 = std::hypot(a2p, b2);
  const double h1 = degreesOf(b1, a1p), h2 = degreesOf(b2, a2p);
  double hueStep = 0;
  if (c1 * c2 != 0) {
    hueStep = h2 - h1;
    if (hueStep > 180) hueStep -= 360;
    if (hueStep < -180) hueStep += 360;
  }
  const double lightness = l2 - l1;
  const double chroma = c2 - c1;
  const double hue = 2 * std::sqrt(c1 * c2) * std::sin(radians(hueStep / 2));
  const double meanL = (l1 + l2) / 2;
  const double meanC = (c1 + c2) / 2;
  double meanH = h1 + h2;
  if (c1 * c2 != 0) {
    if (std::fabs(h1 - h2) <= 180)
      meanH = (h1 + h2) / 2;
    else
      meanH = (h1 + h2 < 360 ? h1 + h2 + 360 : h1 + h2 - 360) / 2;
  }
  const double t = 1 - 0.17 * std::cos(radians(meanH - 30)) + 0.24 * std::cos(radians(2 * meanH)) +
                   0.32 * std::cos(radians(3 * meanH + 6)) -
                   0.20 * std::cos(radians(4 * meanH - 63));
  const double turn = 30 * std::exp(-std::pow((meanH - 275) / 25, 2));
  const double rc = 2 * std::sqrt(pow7(meanC) / (pow7(meanC) + pow7(25)));
  const double sl = 1 + 0.015 * std::pow(meanL - 50, 2) / std::sqrt(20 + std::pow(meanL - 50, 2));
  const double sc = 1 + 0.045 * meanC;
  const double sh = 1 + 0.015 * meanC * t;
  const double rt = -std::sin(radians(2 * turn)) * rc;
  return std::sqrt(std::pow(lightness / sl, 2) + std::pow(chroma / sc, 2) + std::pow(hue / sh, 2) +
                   rt * (chroma / sc) * (hue / sh));
}

// The mean CIEDE2000 difference over the colour bars, the top half of both pictures.
double barsDifference(const cv::Mat& ours, const cv::Mat& reference) {
  const auto lab = [](const cv::Mat& bgr) {
    cv::Mat scaled, converted;
    bgr(cv::Rect(0, 0, bgr.cols, bgr.rows / 2)).convertTo(scaled, CV_32FC3, 1.0 / 255);
    cv::cvtColor(scaled, converted, cv::COLOR_BGR2Lab);
    return converted;
  };
  const cv::Mat first = lab(ours), second = lab(reference);
  double sum = 0;
  for (int y = 0; y < first.rows; ++y)
    for (int x = 0; x < first.cols; ++x)
      sum += colourDifference(first.at<cv::Vec3f>(y, x), second.at<cv::Vec3f>(y, x));
  return sum / static_cast<double>(first.total());
}

// One picture of `movie` at kMomentSec as ffmpeg decodes it, through `filters`, in BGR.
cv::Mat ffmpegPicture(const std::filesystem::path& movie, const std::string& filters,
                      const std::filesystem::path& scratch) {
  const auto raw = scratch / "picture.bgr";
  testing::runFfmpeg({"-ss", std::to_string(kMomentSec), "-i", movie.string(), "-frames:v", "1",
                      "-vf", filters + ",scale=in_color_matrix=bt709:in_range=tv,format=bgr24",
                      "-f", "rawvideo", raw.string()});
  std::string bytes = readFile(raw);
  if (bytes.size() != static_cast<size_t>(kSize.area()) * 3) return {};
  return cv::Mat(kSize, CV_8UC3, bytes.data()).clone();
}

class HighDynamicRangeTest : public ::testing::TestWithParam<const char*> {
 protected:
  testing::TemporaryFolder folder;

  // Colour bars over a grey ramp from black to white, in SDR.
  std::filesystem::path barsAndRamp() {
    const auto file = folder / "sdr.mp4";
    testing::runFfmpeg(
        {"-f",
         "lavfi",
         "-i",
         "smptehdbars=s=320x90:r=30:d=1",
         "-f",
         "lavfi",
         "-i",
         "color=black:s=320x90:r=30:d=1",
         "-filter_complex",
         "[1]format=yuv420p,geq=lum='16+219*X/W':cb=128:cr=128[ramp];[0]format=yuv420p[bars];"
         "[bars][ramp]vstack",
         "-c:v",
         "libx264",
         "-crf",
         "5",
         "-colorspace",
         "bt709",
         "-color_primaries",
         "bt709",
         "-color_trc",
         "bt709",
         file.string()});
    return file;
  }
};

TEST_P(HighDynamicRangeTest, ExportPreviewAndThumbnailAreToneMappedAlike) {
  const auto source =
      testing::makeHighDynamicRangeVideo(barsAndRamp(), GetParam(), folder / "phone.mp4");
  const Asset asset = Asset::open(source);
  const cv::Mat reference = ffmpegPicture(source, kFfmpegToneMapping, folder.path());
  ASSERT_FALSE(reference.empty());

  EditPlan plan;
  plan.segments.push_back(testing::segment(0, 1));
  const auto movie = folder / "export.mp4";
  CompositionExporter::exportMovie(plan, asset, {}, movie, [](double) {});
  EXPECT_EQ(
      testing::commandOutput({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                              "stream=codec_name,pix_fmt,color_primaries,color_transfer,"
                              "color_space",
                              "-of", "csv=p=0", movie.string()}),
      "h264,yuv420p,bt709,bt709,bt709\n");
  const cv::Mat exported = ffmpegPicture(movie, "null", folder.path());
  ASSERT_FALSE(exported.empty());
  EXPECT_LE(barsDifference(exported, reference), 5.0);
  // Far nearer than the same pictures squeezed to 8 bits as they were, which an HLG picture
  // resembles at first sight.
  const cv::Mat squeezed = ffmpegPicture(source, "null", folder.path());
  EXPECT_LT(3 * barsDifference(exported, reference), barsDifference(squeezed, reference));
  // The ramp still climbs from black to white, step by step.
  cv::Mat grey;
  cv::cvtColor(exported(cv::Rect(0, 100, kSize.width, 70)), grey, cv::COLOR_BGR2GRAY);
  double previous = -1;
  for (int x = 4; x < kSize.width; x += 16) {
    const double level = cv::mean(grey.col(x))[0];
    EXPECT_GT(level, previous) << "at column " << x;
    previous = level;
  }

  ImageGenerator thumbnails(asset, ImageGeneratorSettings{.maximumWidth = kSize.width,
                                                          .maximumHeight = kSize.height,
                                                          .toleranceBeforeSec = 0.02,
                                                          .toleranceAfterSec = 0.02});
  EXPECT_LE(barsDifference(thumbnails.image(kMomentSec), reference), 5.0) << "thumbnail";

  CompositionBuilder::Inputs wide;
  wide.aspect = AspectRatio::wide;
  const CompositionResult preview = CompositionBuilder::build(plan, asset, wide);
  VideoRenderer renderer(preview.composition, preview.videoComposition, 0,
                         PictureBox{kSize.width, kSize.height});
  renderer.seek(kMomentSec);
  const std::optional<RenderedPicture> shown = renderer.next();
  ASSERT_TRUE(shown);
  PictureConverter convert;
  convert.setOriginalSize(preview.videoComposition->renderWidth,
                          preview.videoComposition->renderHeight);
  EXPECT_LE(barsDifference(convert(*shown->frame, kSize), reference), 5.0) << "preview";
}

INSTANTIATE_TEST_SUITE_P(Transfers, HighDynamicRangeTest,
                         ::testing::Values("arib-std-b67", "smpte2084"), [](const auto& info) {
                           return std::string(info.param) == "smpte2084" ? "PQ" : "HLG";
                         });

// Decoded pictures, one decoder reading them as they are and one as the app does.
struct TwoDecodings {
  ffmpeg::Frame plain{av_frame_alloc()};
  ffmpeg::Frame ours{av_frame_alloc()};
};

TwoDecodings firstPictureBothWays(const std::filesystem::path& file) {
  TwoDecodings decoded;
  ffmpeg::StreamDecoder plain(file, 0), ours(file, 0);
  while (avcodec_receive_frame(&plain.codec(), decoded.plain.get()) != 0) plain.feedPacket();
  while (ours.receiveFrame(*decoded.ours) != 0) ours.feedPacket();
  return decoded;
}

TEST(ToneMapping, OnlyHighDynamicRangePicturesAreTouched) {
  testing::TemporaryFolder folder;
  const auto sdr = folder / "sdr10.mp4";
  testing::runFfmpeg({"-f", "lavfi", "-i", "testsrc2=s=160x90:r=30:d=1", "-pix_fmt", "yuv420p10le",
                      "-c:v", "libx265", "-x265-params", "log-level=error", "-color_trc", "bt709",
                      sdr.string()});
  const TwoDecodings standard = firstPictureBothWays(sdr);
  EXPECT_EQ(standard.ours->format, AV_PIX_FMT_YUV420P10LE) << "ten bits stay ten bits";
  ASSERT_EQ(standard.ours->format, standard.plain->format);
  for (int plane = 0; plane < 3; ++plane) {
    const int rows = plane == 0 ? 90 : 45;
    for (int y = 0; y < rows; ++y)
      ASSERT_EQ(std::memcmp(standard.ours->data[plane] + y * standard.ours->linesize[plane],
                            standard.plain->data[plane] + y * standard.plain->linesize[plane],
                            (plane == 0 ? 160 : 80) * 2),
                0)
          << "plane " << plane << ", row " << y;
  }

  const TwoDecodings hlg = firstPictureBothWays(
      testing::makeHighDynamicRangeVideo(sdr, "arib-std-b67", folder / "hlg.mp4"));
  EXPECT_EQ(hlg.ours->format, AV_PIX_FMT_YUV420P);
  EXPECT_EQ(hlg.ours->color_trc, AVCOL_TRC_BT709);
  EXPECT_EQ(hlg.ours->color_primaries, AVCOL_PRI_BT709);
  EXPECT_EQ(hlg.ours->colorspace, AVCOL_SPC_BT709);
  EXPECT_EQ(hlg.ours->best_effort_timestamp, hlg.plain->best_effort_timestamp);
}

}  // namespace
}  // namespace brisklet
