#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "media/SpeechActivity.h"
#include "media/platform/Asset.h"
#include "support/MediaGenerator.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

using SpeechActivity::kSampleRate;
using SpeechActivity::SpeechSpan;

TEST(SpeechActivity, SilenceAndSteadyNoiseHoldNoSpeech) {
  EXPECT_TRUE(SpeechActivity::speechIn({}).empty());
  EXPECT_TRUE(SpeechActivity::speechIn(std::vector<float>(kSampleRate * 5, 0.0f)).empty());
  std::mt19937 random(3);
  std::normal_distribution<float> noise(0, 0.05f);
  std::vector<float> room(kSampleRate * 20);
  for (float& sample : room) sample = noise(random);
  EXPECT_TRUE(SpeechActivity::speechIn(room).empty());
}

// Read from a file, in pieces side by side: a voice-band tone between 1 and 2 s, across the middle
// (where two pieces meet) and near the end, under hiss.
TEST(SpeechActivity, ReadsTheSoundOfAFile) {
  testing::TemporaryFolder folder;
  const auto movie = folder / "tone.mp4";
  testing::runFfmpeg({"-f", "lavfi", "-i",
                      "aevalsrc='0.3*sin(2*PI*440*t)*(between(t,1,2)+between(t,64.5,65.5)+"
                      "between(t,128,128.5))+0.003*(random(0)-0.5)':s=48000:d=130",
                      "-c:a", "aac", "-b:a", "128k", movie.string()});
  const std::vector<SpeechSpan> found = SpeechActivity::speechOf(Asset::open(movie));
  ASSERT_EQ(found.size(), 3u);
  const std::pair<double, double> tones[] = {{1, 2}, {64.5, 65.5}, {128, 128.5}};
  for (size_t index = 0; index < 3; ++index) {
    EXPECT_NEAR(found[index].startSec, tones[index].first, 0.03) << index;
    EXPECT_NEAR(found[index].endSec, tones[index].second, 0.03) << index;
  }

  const auto silent = folder / "picture.mp4";
  testing::runFfmpeg({"-f", "lavfi", "-i", "testsrc2=s=64x64:d=1", "-c:v", "libx264", "-preset",
                      "ultrafast", silent.string()});
  EXPECT_TRUE(SpeechActivity::speechOf(Asset::open(silent)).empty());
}

}  // namespace
}  // namespace brisklet
