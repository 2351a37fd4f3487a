#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <opencv2/imgproc.hpp>

#include "media/ClipMerger.h"
#include "media/platform/ImageGenerator.h"
#include "platform/AtomicFile.h"
#include "support/MediaGenerator.h"
#include "support/MovieSound.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

using testing::soundOf;

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// A clip the camera stamped with `recordedAt` (ISO 8601), or with nothing.
std::filesystem::path stampedClip(const std::filesystem::path& file,
                                  const std::string& recordedAt) {
  std::vector<std::string> arguments{"-f", "lavfi", "-i", "color=s=64x48:d=0.5"};
  if (!recordedAt.empty()) {
    arguments.push_back("-metadata");
    arguments.push_back("creation_time=" + recordedAt);
  }
  arguments.push_back(file.string());
  testing::runFfmpeg(arguments);
  return file;
}

TEST(ClipMerger, ClipsAreOrderedByWhenTheCameraRecordedThem) {
  testing::TemporaryFolder folder;
  // Copied off the camera in the wrong order: the file times say nothing about shooting.
  const auto late = stampedClip(folder / "c.mov", "2024-05-01T10:02:00.000000Z");
  const auto early = stampedClip(folder / "a.mov", "2024-05-01T10:00:00.000000Z");
  const auto middle = stampedClip(folder / "b.mov", "2024-05-01T10:01:00Z");
  const auto alsoEarly = stampedClip(folder / "d.mov", "2024-05-01T10:00:00Z");
  EXPECT_THAT(ClipMerger::sortedByCreationDate({late, early, middle, alsoEarly}),
              ElementsAre(early, alsoEarly, middle, late));
  EXPECT_THAT(ClipMerger::sortedByCreationDate({late, alsoEarly, early}),
              ElementsAre(alsoEarly, early, late))
      << "equal times keep the given order";
}

TEST(ClipMerger, WithoutARecordingTimeTheFileSystemsBirthTimeOrTheDistantPast) {
  testing::TemporaryFolder folder;
  const auto stamped = stampedClip(folder / "stamped.mov", "2030-01-01T00:00:00Z");
  const auto unstamped = stampedClip(folder / "unstamped.mov", "");
  testing::writeText(folder / "noise.mov", "no movie");
  const auto missing = folder / "missing.mov";

  const auto unstampedTime = ClipMerger::shootingTime(unstamped);
  const auto birth = ClipMerger::shootingTime(folder / "noise.mov");
  EXPECT_EQ(ClipMerger::shootingTime(stamped), parseIso8601("2030-01-01T00:00:00Z"));
  EXPECT_FALSE(ClipMerger::shootingTime(missing));
  if (!birth || !unstampedTime) GTEST_SKIP() << "this file system keeps no birth times";
  EXPECT_THAT(ClipMerger::sortedByCreationDate({stamped, folder / "noise.mov", missing}),
              ElementsAre(missing, folder / "noise.mov", stamped));
}

// A clip of one colour, with a tone of `hertz` or no sound; a portrait one is stored landscape
// and turned by its display matrix, as phones do.
std::filesystem::path colourClip(const std::filesystem::path& file, const std::string& colour,
                                 const std::string& size, double seconds, int hertz,
                                 bool portrait = false) {
  const std::string length = std::to_string(seconds);
  std::vector<std::string> arguments{"-f", "lavfi", "-i",
                                     "color=" + colour + ":s=" + size + ":r=30:d=" + length};
  if (hertz > 0)
    arguments.insert(arguments.end(),
                     {"-f", "lavfi", "-i",
                      "sine=f=" + std::to_string(hertz) + ":r=48000:d=" + length, "-c:a", "aac"});
  arguments.insert(arguments.end(), {"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt",
                                     "yuv420p", "-t", length});
  if (!portrait) {
    arguments.push_back(file.string());
    testing::runFfmpeg(arguments);
    return file;
  }
  const auto upright = file.parent_path() / ("upright-" + file.filename().string());
  arguments.push_back(upright.string());
  testing::runFfmpeg(arguments);
  testing::runFfmpeg({"-i", upright.string(), "-c", "copy", "-metadata:s:v", "rotate=90",
                      file.string()});
  return file;
}

// Mean BGR of a region of the merged movie's picture at `timeSec`.
cv::Scalar colourAt(const std::filesystem::path& movie, double timeSec, cv::Rect region) {
  ImageGeneratorSettings settings;
  settings.toleranceBeforeSec = settings.toleranceAfterSec = 0.02;
  ImageGenerator generator(Asset::open(movie), settings);
  return cv::mean(generator.image(timeSec)(region));
}

TEST(ClipMerger, ClipsFollowInTheFirstClipsFrameWithTheirSoundInStep) {
  testing::TemporaryFolder folder;
  const auto red = colourClip(folder / "red.mp4", "red", "160x90", 1.0, 440);
  const auto portrait = colourClip(folder / "portrait.mp4", "lime", "160x90", 1.0, 0, true);
  const auto blue = colourClip(folder / "blue.mp4", "blue", "160x90", 1.0, 880);
  const auto movie = folder / "source.mov";
  std::vector<double> fractions;
  ClipMerger::merge({red, portrait, blue}, movie,
                    [&](double fraction) { fractions.push_back(fraction); });

  const Asset merged = Asset::open(movie);
  EXPECT_EQ(merged.firstVideoTrack().displayWidth(), 160);
  EXPECT_EQ(merged.firstVideoTrack().displayHeight(), 90);
  EXPECT_NEAR(merged.durationSec(), 3.0, 0.05);
  const cv::Rect middle(70, 35, 20, 20);
  EXPECT_GT(colourAt(movie, 0.9, middle)[2], 200) << "red first";
  EXPECT_GT(colourAt(movie, 1.1, middle)[1], 200) << "then the portrait clip, upright";
  EXPECT_GT(colourAt(movie, 2.1, middle)[0], 200) << "then blue";
  // 90 x 160 fitted into 160 x 90 is about 50 wide: bars of about 55 on either side.
  for (const cv::Rect bar : {cv::Rect(0, 0, 50, 90), cv::Rect(110, 0, 50, 90)})
    EXPECT_LT(cv::norm(colourAt(movie, 1.5, bar)), 20) << "black bars, left and right";

  const std::vector<float> sound = soundOf(movie);
  // FFmpeg's sine source has an amplitude of 1/8: an RMS of 0.088 on both channels.
  EXPECT_GT(testing::loudness(sound, 0.1, 0.9), 0.05);
  EXPECT_LT(testing::loudness(sound, 1.01, 1.99), 0.001) << "the silent clip stays silent";
  EXPECT_GT(testing::loudness(sound, 2.1, 2.9), 0.05);
  // The blue clip's tone starts where its picture does.
  size_t onset = 48000 * 3 / 2;
  while (onset < sound.size() / 2 && std::abs(sound[2 * onset]) < 0.05f) ++onset;
  EXPECT_NEAR(onset / 48000.0, 2.0, 0.01);

  ASSERT_FALSE(fractions.empty());
  EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
  EXPECT_DOUBLE_EQ(fractions.back(), 1.0);
}

TEST(ClipMerger, ASmallPortraitClipFirstKeepsItsShapeButNotItsSize) {
  testing::TemporaryFolder folder;
  const auto phone = colourClip(folder / "phone.mp4", "lime", "320x180", 0.5, 0, true);
  const auto camera = colourClip(folder / "camera.mp4", "white", "1920x1080", 0.5, 0);
  const auto movie = folder / "source.mov";
  ClipMerger::merge({phone, camera}, movie, [](double) {}, {},
                    ClipMerger::Encoding{{"libx264"}, 23, "ultrafast"});
  const VideoTrack merged = Asset::open(movie).firstVideoTrack();
  EXPECT_EQ(merged.displayWidth(), 1080) << "the phone's portrait shape at the camera's size";
  EXPECT_EQ(merged.displayHeight(), 1920);

  ImageGeneratorSettings settings;
  settings.maximumWidth = settings.maximumHeight = 4000;
  settings.toleranceBeforeSec = settings.toleranceAfterSec = 0.02;
  const cv::Mat frame = ImageGenerator(Asset::open(movie), settings).image(0.75);
  cv::Mat middleRow;
  cv::cvtColor(frame.row(frame.rows / 2), middleRow, cv::COLOR_BGR2GRAY);
  EXPECT_GE(cv::countNonZero(middleRow > 128), 1078) << "the camera clip keeps its full width";
}

TEST(ClipMerger, SilentClipsGiveAMovieWithoutSoundInAnEvenFrame) {
  testing::TemporaryFolder folder;
  // Lossless 4:4:4 allows odd sizes; the merged frame rounds each side down to even.
  const auto odd = folder / "odd.mkv";
  testing::runFfmpeg({"-f", "lavfi", "-i", "color=gray:s=79x45:r=30:d=0.5", "-c:v", "ffv1",
                      "-pix_fmt", "yuv444p", odd.string()});
  const auto other = colourClip(folder / "other.mp4", "white", "64x48", 0.5, 0);
  const auto movie = folder / "source.mov";
  ClipMerger::merge({odd, other}, movie, [](double) {});
  const Asset merged = Asset::open(movie);
  EXPECT_TRUE(merged.audioTracks().empty());
  EXPECT_EQ(merged.firstVideoTrack().displayWidth(), 78);
  EXPECT_EQ(merged.firstVideoTrack().displayHeight(), 44);
  EXPECT_NEAR(merged.durationSec(), 1.0, 0.05);
}

TEST(ClipMerger, ClipsFromOneCameraAreJoinedFrameForFrame) {
  testing::TemporaryFolder folder;
  std::vector<std::filesystem::path> clips;
  for (const char* pattern : {"testsrc2", "smptebars", "rgbtestsrc"}) {
    clips.push_back(folder / (std::string(pattern) + ".mp4"));
    testing::runFfmpeg({"-f", "lavfi", "-i", std::string(pattern) + "=s=128x72:r=25:d=1.2",
                        "-f", "lavfi", "-i", "sine=f=300:r=44100:d=1.2", "-c:v", "libx264",
                        "-preset", "ultrafast", "-bf", "2", "-g", "12", "-pix_fmt", "yuv420p",
                        "-c:a", "aac", "-shortest",
                        clips.back().string()});
  }
  const auto movie = folder / "source.mov";
  ClipMerger::merge(clips, movie, [](double) {});

  const auto frameHashes = [&](const std::filesystem::path& file) {
    const auto listing = folder / (file.stem().string() + ".framemd5");
    testing::runFfmpeg({"-i", file.string(), "-map", "0:v", "-f", "framemd5", listing.string()});
    std::vector<std::string> hashes;
    std::ifstream lines(listing);
    for (std::string line; std::getline(lines, line);)
      if (!line.empty() && line[0] != '#') hashes.push_back(line.substr(line.rfind(',') + 1));
    return hashes;
  };
  std::vector<std::string> expected;
  for (const auto& clip : clips) {
    const auto hashes = frameHashes(clip);
    expected.insert(expected.end(), hashes.begin(), hashes.end());
  }
  EXPECT_EQ(expected.size(), 90u);
  EXPECT_EQ(frameHashes(movie), expected);
  const Asset merged = Asset::open(movie);
  EXPECT_EQ(merged.firstVideoTrack().codec, "h264") << "not re-encoded";
  EXPECT_EQ(merged.audioTracks().at(0).sampleRate, 44100);
  EXPECT_NEAR(merged.durationSec(), 3.6, 0.1);
}

TEST(ClipMerger, EncodersAreTriedInOrder) {
  testing::TemporaryFolder folder;
  const auto wide = colourClip(folder / "wide.mp4", "red", "96x54", 0.5, 0);
  const auto small = colourClip(folder / "small.mp4", "blue", "64x48", 0.5, 0);
  const auto movie = folder / "source.mov";
  ClipMerger::merge({wide, small}, movie, [](double) {}, {},
                    ClipMerger::Encoding{{"no-such-encoder", "libx264"}, 18, "ultrafast"});
  EXPECT_EQ(Asset::open(movie).firstVideoTrack().codec, "h264");
  ClipMerger::merge({wide, small}, movie, [](double) {});
  EXPECT_EQ(Asset::open(movie).firstVideoTrack().codec, "hevc") << "HEVC first";
  const std::string merged = readFile(movie);

  try {
    ClipMerger::merge({wide, small}, movie, [](double) {}, {},
                      ClipMerger::Encoding{{"no-such-encoder"}, 18, "ultrafast"});
    FAIL() << "no encoder, no merge";
  } catch (const ClipMergerError& error) {
    EXPECT_EQ(error.which(), ClipMergerError::Case::cannotCreateSession);
    EXPECT_STREQ(error.what(), "Could not create an export session for merging.");
  }
  EXPECT_EQ(readFile(movie), merged) << "a failed merge leaves the movie there as it was";
  EXPECT_THAT(testing::entriesOf(folder.path()),
              ::testing::UnorderedElementsAre("wide.mp4", "small.mp4", "source.mov"));
}

TEST(ClipMerger, ClipsThatCannotBeMergedAreNamed) {
  testing::TemporaryFolder folder;
  const auto clip = colourClip(folder / "clip.mp4", "red", "64x48", 0.5, 0);
  const auto movie = folder / "source.mov";
  const auto refusal = [&](const std::vector<std::filesystem::path>& clips) -> std::string {
    try {
      ClipMerger::merge(clips, movie, [](double) {});
    } catch (const std::exception& error) {
      return error.what();
    }
    return "merged";
  };
  EXPECT_EQ(refusal({}), "No video clips to merge.");
  testing::runFfmpeg({"-f", "lavfi", "-i", "sine=d=0.5", (folder / "voice.m4a").string()});
  EXPECT_EQ(refusal({clip, folder / "voice.m4a"}), "\"voice.m4a\" has no video track.");
  std::string noise(4096, '\0');
  for (size_t index = 0; index < noise.size(); ++index) noise[index] = char(index * 7919 % 251);
  testing::writeText(folder / "noise.mp4", noise);
  EXPECT_THAT(refusal({clip, folder / "noise.mp4"}), HasSubstr("noise.mp4"));
  EXPECT_FALSE(std::filesystem::exists(movie)) << "nothing written";
}

}  // namespace
}  // namespace brisklet
