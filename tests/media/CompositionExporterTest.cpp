#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <opencv2/imgproc.hpp>

#include "analysis/AnalysisPipeline.h"
#include "media/CompositionExporter.h"
#include "media/platform/ImageGenerator.h"
#include "media/platform/MediaError.h"
#include "media/platform/PictureRun.h"
#include "platform/AtomicFile.h"
#include "support/MediaGenerator.h"
#include "support/MovieSound.h"
#include "support/Projects.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

using testing::soundOf;
using testing::toneLevel;

using testing::segment;

using ::testing::HasSubstr;

EditPlan planOf(std::vector<Segment> segments) {
  EditPlan plan;
  plan.segments = std::move(segments);
  return plan;
}

// An AAC file whose index is whole but whose sound is noise: it opens, and nothing decodes.
std::filesystem::path undecodableSound(const std::filesystem::path& file) {
  testing::runFfmpeg({"-f", "lavfi", "-i", "sine=d=10", "-c:a", "aac", "-movflags", "+faststart",
                      file.string()});
  std::string sound = readFile(file);
  for (size_t index = sound.find("mdat") + 4; index < sound.size(); ++index)
    sound[index] = static_cast<char>(index * 7919 % 251);
  testing::writeText(file, sound);
  return file;
}

class CompositionExporterTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;
  const std::filesystem::path movie = folder / "edited.mp4";
  // Speed over quality: these tests look at timing, framing and levels.
  const CompositionExporter::Encoding quick{23, "ultrafast"};

  // The mix at its own level, as the tests of its parts measure it.
  void exportTo(const EditPlan& plan, const Asset& source, CompositionBuilder::Inputs inputs,
                const std::filesystem::path& destination) {
    inputs.loudnessTargetLufs.reset();
    CompositionExporter::exportMovie(plan, source, inputs, destination, [](double) {}, {}, quick);
  }

  static cv::Mat pictureAt(const std::filesystem::path& file, double timeSec) {
    ImageGeneratorSettings settings;
    settings.toleranceBeforeSec = settings.toleranceAfterSec = 0.02;
    return ImageGenerator(Asset::open(file), settings).image(timeSec);
  }

  static double brightness(const cv::Mat& picture) {
    cv::Mat grey;
    cv::cvtColor(picture, grey, cv::COLOR_BGR2GRAY);
    return cv::mean(grey)[0];
  }
};

TEST_F(CompositionExporterTest, KeptSegmentsPlayInSourceOrderForTheirLength) {
  const Asset clock = Asset::open(testing::makeClockVideo(folder / "clock.mp4", 4.0, 160, 90));
  const EditPlan plan = planOf({segment(2.5, 3.5), segment(1.5, 2.5, false), segment(0.5, 1.5)});
  for (const AspectRatio aspect : {AspectRatio::original, AspectRatio::wide}) {
    CompositionBuilder::Inputs inputs;
    inputs.aspect = aspect;
    exportTo(plan, clock, inputs, movie);
    const Asset written = Asset::open(movie);
    EXPECT_NEAR(written.durationSec(), 2.0, 1.0 / 30) << rawValue(aspect);
    EXPECT_NEAR(testing::clockTimeOf(pictureAt(movie, 0.2)), 0.7, 0.05) << rawValue(aspect);
    EXPECT_NEAR(testing::clockTimeOf(pictureAt(movie, 1.2)), 2.7, 0.05) << rawValue(aspect);
  }
}

TEST_F(CompositionExporterTest, EachAspectFillsItsFrameCroppedAroundTheCentre) {
  // Red on the left half, blue on the right.
  const auto halves = folder / "halves.mp4";
  testing::runFfmpeg({"-f", "lavfi", "-i", "color=red:s=80x90:r=30:d=0.5", "-f", "lavfi", "-i",
                      "color=blue:s=80x90:r=30:d=0.5", "-filter_complex", "hstack", "-c:v",
                      "libx264", "-preset", "ultrafast", "-color_primaries", "bt709",
                      "-color_trc", "bt709", "-colorspace", "bt709", halves.string()});
  const Asset source = Asset::open(halves);
  const struct {
    AspectRatio aspect;
    int width, height;
  } expected[] = {{AspectRatio::wide, 1920, 1080},
                  {AspectRatio::vertical, 1080, 1920},
                  {AspectRatio::square, 1080, 1080},
                  {AspectRatio::portrait, 1080, 1350}};
  for (const auto& [aspect, width, height] : expected) {
    CompositionBuilder::Inputs inputs;
    inputs.aspect = aspect;
    exportTo(planOf({segment(0, 0.5)}), source, inputs, movie);
    const VideoTrack track = Asset::open(movie).firstVideoTrack();
    EXPECT_EQ(track.displayWidth(), width);
    EXPECT_EQ(track.displayHeight(), height);
    EXPECT_EQ(track.colourPrimaries, 1) << "BT.709, as the source says";
    EXPECT_EQ(track.colourTransfer, 1);
    EXPECT_EQ(track.colourMatrix, 1);
    const cv::Mat picture = pictureAt(movie, 0.25);
    const cv::Scalar left = cv::mean(picture.colRange(0, 8));
    const cv::Scalar right = cv::mean(picture.colRange(picture.cols - 8, picture.cols));
    EXPECT_GT(left[2], 200) << rawValue(aspect) << ": red reaches the left edge, no bars";
    EXPECT_GT(right[0], 200) << rawValue(aspect) << ": blue reaches the right edge";
  }
}

TEST_F(CompositionExporterTest, APortraitPhoneClipStaysUpright) {
  const auto phone = testing::sharedMedia("issue-134-rotate.mp4");
  if (phone.empty()) GTEST_SKIP() << "../shared/media is not here";
  const Asset source = Asset::open(phone);
  const EditPlan plan = planOf({segment(1.0, 2.0)});

  CompositionBuilder::Inputs wide;
  wide.aspect = AspectRatio::wide;
  exportTo(plan, source, wide, movie);
  // The upright source picture, scaled to the frame's width and cut to its height.
  cv::Mat upright;
  const cv::Mat original = pictureAt(phone, 1.5);
  cv::resize(original, upright, cv::Size(1920, original.rows * 1920 / original.cols));
  const cv::Mat middle = upright.rowRange((upright.rows - 1080) / 2, (upright.rows - 1080) / 2 + 1080);
  const cv::Mat exported = pictureAt(movie, 0.5);
  ASSERT_EQ(exported.size(), middle.size());
  cv::Mat difference;
  cv::absdiff(exported, middle, difference);
  EXPECT_LT(cv::mean(difference)[0], 12) << "the same picture, upright and centred";

  exportTo(plan, source, CompositionBuilder::Inputs{}, movie);
  const VideoTrack kept = Asset::open(movie).firstVideoTrack();
  EXPECT_EQ(kept.displayWidth(), source.firstVideoTrack().displayWidth());
  EXPECT_EQ(kept.displayHeight(), source.firstVideoTrack().displayHeight());
  EXPECT_EQ(kept.rotationDegrees, source.firstVideoTrack().rotationDegrees)
      << "original framing keeps the source's turn";
}

TEST_F(CompositionExporterTest, DipToBlackFadesEverySegment) {
  const auto white = folder / "white.mp4";
  testing::runFfmpeg({"-f", "lavfi", "-i", "color=white:s=160x90:r=30:d=4", "-c:v", "libx264",
                      "-preset", "ultrafast", white.string()});
  CompositionBuilder::Inputs inputs;
  inputs.transition = TransitionStyle::dipToBlack;
  // 2 s fades over 0.3 s; 0.8 s over 0.2 s.
  exportTo(planOf({segment(0, 2), segment(3, 3.8)}), Asset::open(white), inputs, movie);
  EXPECT_LT(brightness(pictureAt(movie, 0.0)), 10);
  EXPECT_LT(brightness(pictureAt(movie, 0.1)), 180);
  EXPECT_GT(brightness(pictureAt(movie, 0.3)), 240);
  EXPECT_GT(brightness(pictureAt(movie, 1.65)), 240);
  EXPECT_LT(brightness(pictureAt(movie, 1.97)), 60);
  EXPECT_LT(brightness(pictureAt(movie, 2.0)), 10);
  EXPECT_GT(brightness(pictureAt(movie, 2.2)), 240);
  EXPECT_LT(brightness(pictureAt(movie, 2.7667)), 60);
}

TEST_F(CompositionExporterTest, NarrationDucksTheSoundAndTheBedWhichLoopsAndFades) {
  testing::runFfmpeg({"-f", "lavfi", "-i", "color=gray:s=160x90:r=30:d=8", "-f", "lavfi", "-i",
                      "aevalsrc=0.4*sin(2*PI*500*t):s=48000:d=8", "-c:v", "libx264", "-preset",
                      "ultrafast", "-c:a", "pcm_s16le", (folder / "source.mov").string()});
  std::filesystem::create_directories(folder / "narration");
  testing::runFfmpeg({"-f", "lavfi", "-i", "aevalsrc=0.4*sin(2*PI*1000*t):s=48000:d=1.5",
                      (folder / "narration" / "line.wav").string()});
  testing::runFfmpeg({"-f", "lavfi", "-i", "aevalsrc=0.4*sin(2*PI*1500*t):s=48000:d=2.5",
                      (folder / "music.wav").string()});
  Segment narrated = segment(0, 8);
  narrated.narration = NarrationClip{"Over the bridge.", false, "line.wav", 3.0, 1.5,
                                     NarrationStatus::ready};
  CompositionBuilder::Inputs inputs;
  inputs.narrationDirectory = folder / "narration";
  inputs.music = folder / "music.wav";
  inputs.musicVolume = 0.5f;
  exportTo(planOf({narrated}), Asset::open(folder / "source.mov"), inputs, movie);
  const std::vector<float> sound = soundOf(movie);

  const double source = toneLevel(sound, 500, 1.5);
  const double bed = toneLevel(sound, 1500, 1.5);
  EXPECT_NEAR(source, 0.4, 0.03) << "mono on both channels at its own level";
  EXPECT_NEAR(bed, 0.5 * 0.4, 0.02);
  EXPECT_NEAR(toneLevel(sound, 500, 3.5), 0.2 * source, 0.02 * source) << "under the line";
  EXPECT_NEAR(toneLevel(sound, 1500, 3.5), 0.3 * bed, 0.03 * bed);
  EXPECT_NEAR(toneLevel(sound, 1000, 3.5), 0.4, 0.03) << "the line at full level";
  EXPECT_NEAR(toneLevel(sound, 500, 2.825), 0.6 * source, 0.05 * source) << "halfway down";
  EXPECT_NEAR(toneLevel(sound, 500, 5.0), source, 0.05 * source) << "back after 4.5 + 0.3 s";
  // Where the bed starts over, a dip of a few milliseconds keeps the join from clicking.
  EXPECT_NEAR(toneLevel(sound, 1500, 2.45, 0.1), bed, 0.05 * bed) << "the loop has no gap";
  EXPECT_NEAR(toneLevel(sound, 1500, 0.475), 0.5 * bed, 0.06 * bed) << "fading in over 1 s";
  EXPECT_NEAR(toneLevel(sound, 1500, 6.975), 0.5 * bed, 0.06 * bed) << "fading out over 2 s";
}

TEST_F(CompositionExporterTest, CloseLinesKeepTheDuckShortCleanSoundAndShortOutputsStaySilent) {
  testing::runFfmpeg({"-f", "lavfi", "-i", "color=gray:s=160x90:r=30:d=8", "-f", "lavfi", "-i",
                      "aevalsrc=0.4*sin(2*PI*500*t):s=48000:d=8", "-c:v", "libx264", "-preset",
                      "ultrafast", "-c:a", "pcm_s16le", (folder / "source.mov").string()});
  const Asset source = Asset::open(folder / "source.mov");
  std::filesystem::create_directories(folder / "narration");
  testing::runFfmpeg({"-f", "lavfi", "-i", "aevalsrc=0.4*sin(2*PI*1000*t):s=48000:d=1",
                      (folder / "narration" / "line.wav").string()});
  const auto line = [](double startSec, double endSec, double offsetSec) {
    Segment made = segment(startSec, endSec);
    made.narration =
        NarrationClip{"And on.", false, "line.wav", offsetSec, 1.0, NarrationStatus::stale};
    return made;
  };
  CompositionBuilder::Inputs inputs;
  inputs.narrationDirectory = folder / "narration";
  // Lines at 0.5–1.5, 2.0–3.0 (0.5 s later) and 3.7–4.7 (0.7 s later).
  exportTo(planOf({line(0, 2, 0.5), line(2, 3.5, 0), line(3.5, 8, 0.2)}), source, inputs, movie);
  std::vector<float> sound = soundOf(movie);
  const double full = toneLevel(sound, 500, 6.0);
  EXPECT_NEAR(toneLevel(sound, 500, 1.725), 0.2 * full, 0.02 * full) << "0.5 s apart: ducked";
  EXPECT_NEAR(toneLevel(sound, 500, 3.325), full, 0.05 * full) << "0.7 s apart: back up";

  testing::runFfmpeg({"-f", "lavfi", "-i", "aevalsrc=0.4*sin(2*PI*700*t):s=48000:d=2",
                      (folder / "clean.wav").string()});
  testing::runFfmpeg({"-f", "lavfi", "-i", "aevalsrc=0.4*sin(2*PI*1500*t):s=48000:d=3",
                      (folder / "music.wav").string()});
  CompositionBuilder::Inputs clean;
  clean.cleanAudio = folder / "clean.wav";
  exportTo(planOf({segment(0, 4)}), source, clean, movie);
  sound = soundOf(movie);
  EXPECT_GT(toneLevel(sound, 700, 1.0), 0.2) << "the clean sound replaces the source's";
  EXPECT_LT(toneLevel(sound, 700, 3.0) + toneLevel(sound, 500, 3.0), 0.005)
      << "silent where the clean sound has ended";

  CompositionBuilder::Inputs withMusic;
  withMusic.music = folder / "music.wav";
  exportTo(planOf({segment(0, 2)}), source, withMusic, movie);
  EXPECT_LT(toneLevel(soundOf(movie), 1500, 1.0), 0.005) << "2 s is too short for a bed";
}

// A 10 s grey picture over a 500 Hz tone, and a 1 s line of 1000 Hz in "narration/line.wav".
class NarratedExportTest : public CompositionExporterTest {
 protected:
  void SetUp() override {
    testing::runFfmpeg({"-f", "lavfi", "-i", "color=gray:s=160x90:r=30:d=10", "-f", "lavfi",
                        "-i", "aevalsrc=0.4*sin(2*PI*500*t):s=48000:d=10", "-c:v", "libx264",
                        "-preset", "ultrafast", "-c:a", "pcm_s16le",
                        (folder / "source.mov").string()});
    std::filesystem::create_directories(folder / "narration");
    testing::runFfmpeg({"-f", "lavfi", "-i", "aevalsrc=0.4*sin(2*PI*1000*t):s=48000:d=1",
                        (folder / "narration" / "line.wav").string()});
    testing::runFfmpeg({"-f", "lavfi", "-i", "aevalsrc=0.4*sin(2*PI*1500*t):s=48000:d=12",
                        (folder / "music.wav").string()});
    inputs.narrationDirectory = folder / "narration";
    inputs.music = folder / "music.wav";
    inputs.musicVolume = 0.5f;
  }

  static Segment withLine(Segment segment, double offsetSec) {
    segment.narration =
        NarrationClip{"Here.", false, "line.wav", offsetSec, 1.0, NarrationStatus::ready};
    return segment;
  }

  Asset source() const { return Asset::open(folder / "source.mov"); }

  CompositionBuilder::Inputs inputs;
};

// The level of a tone around `atSec` (a 50 ms window centred there).
double toneLevelAround(const std::vector<float>& stereo, double hertz, double atSec) {
  return toneLevel(stereo, hertz, atSec - 0.025);
}

TEST_F(NarratedExportTest, TheBedFadesAndDucksAtOnce) {
  // Lines at 0.5–1.5 s, inside the bed's 1 s fade-in, and 7.5–8.5 s, ending 1.5 s before the
  // end, inside its 2 s fade-out.
  Segment first = withLine(segment(0, 5), 0.5);
  Segment second = withLine(segment(5, 10), 2.5);
  exportTo(planOf({first, second}), source(), inputs, movie);
  const std::vector<float> sound = soundOf(movie);
  const double bed = toneLevelAround(sound, 1500, 4.0);
  EXPECT_NEAR(bed, 0.5 * 0.4, 0.02);
  EXPECT_NEAR(toneLevelAround(sound, 1500, 0.6), 0.6 * 0.3 * bed, 0.02 * bed)
      << "60 % up its fade-in, and ducked under the line";
  EXPECT_NEAR(toneLevelAround(sound, 1500, 1.2), 0.3 * bed, 0.02 * bed);
  EXPECT_NEAR(toneLevelAround(sound, 1500, 8.65), 0.675 * 0.65 * bed, 0.03 * bed)
      << "rising after the line while fading out";
  EXPECT_NEAR(toneLevelAround(sound, 1500, 9.5), 0.25 * bed, 0.03 * bed);
  EXPECT_LT(toneLevelAround(sound, 1500, 9.96), 0.03 * bed) << "down to nothing at the end";
}

TEST_F(NarratedExportTest, ALineThatOutlastsThePictureIsHeardToItsEnd) {
  // A line at 9.3 s of a 10 s edit runs to 10.3 s; the picture is black after 10 s.
  for (const AspectRatio aspect : {AspectRatio::original, AspectRatio::wide}) {
    inputs.aspect = aspect;
    exportTo(planOf({withLine(segment(0, 10), 9.3)}), source(), inputs, movie);
    EXPECT_NEAR(Asset::open(movie).durationSec(), 10.3, 0.05) << rawValue(aspect);
    const std::vector<float> sound = soundOf(movie);
    EXPECT_NEAR(toneLevelAround(sound, 1000, 10.25), 0.4, 0.03) << rawValue(aspect);
    EXPECT_LT(toneLevelAround(sound, 1500, 10.25) + toneLevelAround(sound, 500, 10.25), 0.005)
        << "the picture's sound and the bed end with the picture";
    EXPECT_GT(brightness(pictureAt(movie, 9.9)), 60) << rawValue(aspect);
    EXPECT_LT(brightness(pictureAt(movie, 10.2)), 20) << rawValue(aspect);
  }
}

TEST_F(NarratedExportTest, DamagedSoundFilesFailTheExportNamingThem) {
  const auto damaged = [&](const std::filesystem::path& name) {
    std::string noise(40000, '\0');
    for (size_t index = 0; index < noise.size(); ++index)
      noise[index] = static_cast<char>((index * 7919 + 13) % 251);
    testing::writeText(folder / name, noise);
    return folder / name;
  };
  CompositionBuilder::Inputs badLine = inputs, badMusic = inputs, badClean = inputs,
                            silentClean = inputs;
  badLine.narrationDirectory = damaged("damaged/line.wav").parent_path();
  badMusic.music = damaged("music.mp3");
  badClean.cleanAudio = damaged("clean.m4a");
  silentClean.cleanAudio = undecodableSound(folder / "noise.m4a");
  const EditPlan plan = planOf({withLine(segment(0, 10), 1.0)});
  for (const auto& [name, damagedInputs] :
       {std::pair{"line.wav", badLine}, {"music.mp3", badMusic}, {"clean.m4a", badClean},
        {"noise.m4a", silentClean}}) {
    try {
      exportTo(plan, source(), damagedInputs, movie);
      ADD_FAILURE() << name << " is damaged; the export must not succeed without it";
    } catch (const MediaError& error) {
      EXPECT_THAT(error.what(), ::testing::StartsWith(std::string("The file \u201C") + name +
                                                      "\u201D could not be read: "));
    }
    EXPECT_FALSE(std::filesystem::exists(movie)) << name;
  }

  inputs.music = folder / "absent.mp3";
  exportTo(plan, source(), inputs, movie);
  EXPECT_TRUE(std::filesystem::exists(movie)) << "a file that is absent is only left out";
}

TEST_F(CompositionExporterTest, AHalfWrittenSourceFailsInsteadOfExportingHalfAPicture) {
  // The index at the front promises 12 s; only the first half of the media made it to disk.
  const auto whole = folder / "whole.mp4";
  testing::runFfmpeg({"-f", "lavfi", "-i", "color=gray:s=160x90:r=30:d=12", "-f", "lavfi", "-i",
                      "sine=d=12", "-c:v", "libx264", "-preset", "ultrafast", "-g", "30",
                      "-movflags", "+faststart", whole.string()});
  const auto half = folder / "half.mp4";
  std::filesystem::copy_file(whole, half);
  std::filesystem::resize_file(half, std::filesystem::file_size(whole) / 2);
  const Asset source = Asset::open(half);
  ASSERT_NEAR(source.durationSec(), 12, 0.1);
  for (const AspectRatio aspect : {AspectRatio::original, AspectRatio::wide}) {
    CompositionBuilder::Inputs inputs;
    inputs.aspect = aspect;
    try {
      exportTo(planOf({segment(0, 12)}), source, inputs, movie);
      ADD_FAILURE() << rawValue(aspect) << ": half a picture is no export";
    } catch (const MediaError& error) {
      EXPECT_THAT(error.what(), ::testing::MatchesRegex(
                                    "The file .half.mp4. is damaged: its picture ends at "
                                    "0:0[4-8] of 0:12\\."))
          << rawValue(aspect);
    }
    EXPECT_FALSE(std::filesystem::exists(movie));
  }
  exportTo(planOf({segment(0, 3)}), source, {}, movie);
  EXPECT_TRUE(std::filesystem::exists(movie)) << "what is whole still exports";
}

TEST_F(CompositionExporterTest, ASourceWhoseSoundDecodesToNothingExportsItsPictureInSilence) {
  testing::makeClockVideo(folder / "picture.mp4", 2.0);
  testing::runFfmpeg({"-i", (folder / "picture.mp4").string(), "-i",
                      undecodableSound(folder / "noise.m4a").string(), "-map", "0:v", "-map",
                      "1:a", "-c", "copy", "-shortest", (folder / "source.mp4").string()});
  exportTo(planOf({segment(0, 2)}), Asset::open(folder / "source.mp4"), {}, movie);
  EXPECT_NEAR(Asset::open(movie).durationSec(), 2.0, 0.1);
  const std::vector<float> sound = soundOf(movie);
  EXPECT_FALSE(sound.empty());
  EXPECT_LT(*std::max_element(sound.begin(), sound.end()), 1e-4f);
}

TEST_F(CompositionExporterTest, ACutBetweenSamplesExportsNoPictureOfTheDroppedShot) {
  // Red for 221 frames (to 7.367 s), blue for 82 (to 10.1 s), green for 117: both cuts fall
  // between the analysis's samples, which come every half second.
  const auto shots = folder / "shots.mp4";
  testing::runFfmpeg({"-f", "lavfi", "-i", "color=red:s=96x54:r=30", "-f", "lavfi", "-i",
                      "color=blue:s=96x54:r=30", "-f", "lavfi", "-i", "color=lime:s=96x54:r=30",
                      "-filter_complex",
                      "[0:v]trim=end_frame=221[a];[1:v]trim=end_frame=82,setpts=PTS-STARTPTS[b];"
                      "[2:v]trim=end_frame=117,setpts=PTS-STARTPTS[c];[a][b][c]concat=n=3",
                      "-c:v", "libx264", "-preset", "ultrafast", shots.string()});
  std::vector<Segment> segments =
      AnalysisPipeline::analyzeOnDevice(shots, [](const auto&) {}, {}).segments;
  ASSERT_EQ(segments.size(), 3u);
  EXPECT_NEAR(segments[1].startSec, 221.0 / 30, 1e-3) << "the first picture of the blue shot";
  EXPECT_NEAR(segments[2].startSec, 303.0 / 30, 1e-3);

  segments[0].keep = segments[2].keep = true;  // flat colours are no keepers on their own
  segments[1].keep = false;
  for (const AspectRatio aspect : {AspectRatio::original, AspectRatio::wide}) {
    CompositionBuilder::Inputs inputs;
    inputs.aspect = aspect;
    exportTo(planOf(segments), Asset::open(shots), inputs, movie);
    const Asset exported = Asset::open(movie);
    const auto pictures = picturesBetween(exported, 0, exported.durationSec(), cv::Size(8, 8));
    ASSERT_GT(pictures.size(), 300u);
    for (const TimedPicture& picture : pictures) {
      const cv::Scalar colour = cv::mean(picture.image);
      EXPECT_LT(colour[0], 60) << rawValue(aspect) << ": blue at " << picture.timeSec;
    }
  }
}

TEST_F(CompositionExporterTest, AFailedExportLeavesTheMovieThereAsItWas) {
  const Asset clock = Asset::open(testing::makeClockVideo(folder / "clock.mp4", 2.0));
  testing::writeText(movie, "last week's export");
  try {
    exportTo(planOf({segment(0, 2, false)}), clock, {}, movie);
    FAIL() << "an empty movie is no export";
  } catch (const CompositionExporterError& error) {
    EXPECT_STREQ(error.what(), "There is nothing to export: every segment is dropped.");
  }
  EXPECT_THAT([&] { exportTo(planOf({segment(0, 2)}), clock, {}, folder / "gone" / "edited.mp4"); },
              ::testing::ThrowsMessage<FileError>(HasSubstr(
                  "The folder \u201C" + (folder / "gone").string() + "\u201D does not exist.")));
  {
    testing::FileSizeLimit diskFull(2048);
    try {
      exportTo(planOf({segment(0, 2)}), clock, {}, movie);
      FAIL() << "a full disk fails the export";
    } catch (const MediaError& error) {
      EXPECT_THAT(error.what(), HasSubstr("edited.mp4"));
    }
  }
  EXPECT_EQ(readFile(movie), "last week's export");
  EXPECT_THAT(testing::entriesOf(folder.path()), ::testing::UnorderedElementsAre("clock.mp4", "edited.mp4"))
      << "no half-written movie beside it";
}

}  // namespace
}  // namespace brisklet
