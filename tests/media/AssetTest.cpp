#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "analysis/FrameSampler.h"
#include "media/platform/Asset.h"
#include "media/platform/ImageGenerator.h"
#include "media/platform/MediaError.h"
#include "media/platform/MediaTime.h"
#include "platform/AtomicFile.h"
#include "support/MediaGenerator.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

class AssetTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new testing::TemporaryFolder;
    testing::runFfmpeg({"-f", "lavfi", "-i", "testsrc2=s=160x90:r=25:d=2", "-f", "lavfi", "-i",
                        "sine=f=440:r=48000:d=2", "-c:v", "libx264", "-preset", "ultrafast",
                        "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest",
                        (*folder_ / "plain.mp4").string()});
    testing::runFfmpeg({"-i", (*folder_ / "plain.mp4").string(), "-c", "copy", "-metadata:s:v:0",
                        "rotate=90", (*folder_ / "rotated.mp4").string()});
    testing::runFfmpeg({"-f", "lavfi", "-i", "testsrc2=s=704x576:r=25:d=1", "-vf", "setsar=16/11",
                        "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p",
                        (*folder_ / "anamorphic.mp4").string()});
    testing::runFfmpeg({"-f", "lavfi", "-i", "sine=f=440:r=44100:d=1", "-c:a", "aac",
                        (*folder_ / "sound.m4a").string()});
  }
  static void TearDownTestSuite() { delete folder_; }
  static std::filesystem::path file(const char* name) { return *folder_ / name; }
  static testing::TemporaryFolder* folder_;
};
testing::TemporaryFolder* AssetTest::folder_ = nullptr;

TEST_F(AssetTest, ReadsTracksDurationAndDisplayedSize) {
  const Asset asset = Asset::open(file("plain.mp4"));
  EXPECT_NEAR(asset.durationSec(), 2.0, 0.05);
  ASSERT_EQ(asset.videoTracks().size(), 1u);
  ASSERT_EQ(asset.audioTracks().size(), 1u);
  const VideoTrack& video = asset.firstVideoTrack();
  EXPECT_EQ(video.codec, "h264");
  EXPECT_EQ(video.displayWidth(), 160);
  EXPECT_EQ(video.displayHeight(), 90);
  EXPECT_EQ(video.rotationDegrees, 0);
  EXPECT_NEAR(video.framesPerSecond, 25, 0.01);
  EXPECT_EQ(asset.audioTracks()[0].sampleRate, 48000);

  const Asset rotated = Asset::open(file("rotated.mp4"));
  const VideoTrack& turned = rotated.firstVideoTrack();
  EXPECT_EQ(turned.rotationDegrees, 270) << "rotate=90 metadata turns counterclockwise";
  EXPECT_EQ(turned.displayWidth(), 90);
  EXPECT_EQ(turned.displayHeight(), 160);

  const Asset anamorphic = Asset::open(file("anamorphic.mp4"));
  const VideoTrack& wide = anamorphic.firstVideoTrack();
  EXPECT_EQ(wide.naturalWidth, 1024) << "704 pixels of 16:11 show as 1024";
  EXPECT_EQ(wide.displayHeight(), 576);
}

TEST_F(AssetTest, SoundWithoutPictureOpensButCannotGivePictures) {
  const Asset asset = Asset::open(file("sound.m4a"));
  EXPECT_TRUE(asset.videoTracks().empty());
  EXPECT_THAT([&] { ImageGenerator(asset, ImageGeneratorSettings{}); },
              ::testing::ThrowsMessage<MediaError>(
                  AllOf(HasSubstr("\u201Csound.m4a\u201D"), HasSubstr("no video track"))));
}

TEST_F(AssetTest, SoundLastsAsLongAsItPlaysWithoutTheEncodersPadding) {
  testing::TemporaryFolder sounds;
  for (const char* name : {"line.mp3", "line.m4a", "line.wav"}) {
    testing::runFfmpeg({"-f", "lavfi", "-i", "sine=f=440:r=44100:d=1.234", (sounds / name).string()});
    // The MP3 header counts whole frames: 1.28 s, of which 1.234 s play.
    EXPECT_NEAR(Asset::open(sounds / name).durationSec(), 1.234, 0.002) << name;
  }
}

TEST_F(AssetTest, FilesThatAreNotVideosFailWithASentenceNamingThem) {
  testing::TemporaryFolder bad;
  std::mt19937 random(11);
  std::string noise(64 * 1024, '\0');
  for (char& byte : noise) byte = static_cast<char>(random());
  testing::writeText(bad / "noise.mp4", noise);
  testing::writeText(bad / "empty.mp4", "");
  testing::writeText(bad / "notes.mp4", "This is a shopping list, not a movie.\n");
  const std::string whole = readFile(file("plain.mp4"));
  testing::writeText(bad / "truncated.mp4", whole.substr(0, whole.size() / 2));

  for (const char* name : {"noise.mp4", "empty.mp4", "notes.mp4", "missing.mp4"}) {
    EXPECT_THAT([&] { Asset::open(bad / name); },
                ::testing::ThrowsMessage<MediaError>(HasSubstr(std::string("\u201C") + name)))
        << name;
  }
  // The first half of an MP4 whose index sits at the end may open; reading it must then give
  // pictures or clean misses, never a crash or a hang.
  try {
    const Asset truncated = Asset::open(bad / "truncated.mp4");
    ImageGenerator generator(truncated, ImageGeneratorSettings{.maximumWidth = 64,
                                                               .maximumHeight = 64,
                                                               .toleranceBeforeSec = 0.1,
                                                               .toleranceAfterSec = 0.1});
    int answered = 0;
    generator.images(FrameSampler::sampleTimes(2.0, 4),
                     [&](GeneratedImage) { return ++answered > 0; });
    EXPECT_EQ(answered, 8);
  } catch (const MediaError& error) {
    EXPECT_THAT(error.what(), HasSubstr("\u201Ctruncated.mp4\u201D"));
  }
}

// Damaged copies of a small MP4: opening and sampling each gives pictures or clean errors. The
// sanitized build runs this too.
TEST_F(AssetTest, SurvivesTwoHundredDamagedCopiesOfAVideo) {
  const std::string original = readFile(file("plain.mp4"));
  testing::TemporaryFolder damaged;
  std::mt19937 random(2026);
  int opened = 0;
  for (int copy = 0; copy < 200; ++copy) {
    std::string bytes = original;
    const int changes = 1 + static_cast<int>(random() % 8);
    for (int change = 0; change < changes; ++change) {
      const size_t position = random() % bytes.size();
      switch (random() % 6) {
        case 0:
          bytes.erase(position, 1 + random() % 64);
          break;
        case 1:
          bytes.insert(position, std::string(1 + random() % 16, static_cast<char>(random())));
          break;
        default:
          bytes[position] = static_cast<char>(random());
      }
    }
    const auto path = damaged / ("copy" + std::to_string(copy) + ".mp4");
    testing::writeText(path, bytes);
    try {
      const Asset asset = Asset::open(path);
      ++opened;
      ImageGenerator generator(asset, ImageGeneratorSettings{.maximumWidth = 80,
                                                             .maximumHeight = 80,
                                                             .toleranceBeforeSec = 0.1,
                                                             .toleranceAfterSec = 0.1});
      generator.images(FrameSampler::sampleTimes(2.0, 4), [](GeneratedImage result) {
        if (result.image) {
          EXPECT_FALSE(result.image->empty());
        }
        return true;
      });
    } catch (const MediaError& error) {
      EXPECT_THAT(error.what(), HasSubstr("\u201Ccopy"));
    }
  }
  EXPECT_GT(opened, 20) << "most small changes leave a playable file";
}

TEST(MediaTime, RoundsSecondsToTicksAndMapsToStreamTimestamps) {
  EXPECT_EQ(MediaTime::fromSeconds(1.5), (MediaTime{900, 600}));
  EXPECT_EQ(MediaTime::fromSeconds(0.0025).value, 2) << "1.5 ticks rounds away from zero";
  EXPECT_EQ(MediaTime::fromSeconds(-0.0025).value, -2);
  EXPECT_DOUBLE_EQ((MediaTime{300, 600}.seconds()), 0.5);
  // A 1/90000 stream whose presentation starts at 0.852 s.
  EXPECT_EQ(toStreamTimestamp(MediaTime::fromSeconds(1.0), AVRational{1, 90000}, 0.852), 166680);
  EXPECT_NEAR(streamTimestampToSeconds(166680, AVRational{1, 90000}, 0.852), 1.0, 1e-9);
}

}  // namespace
}  // namespace brisklet
