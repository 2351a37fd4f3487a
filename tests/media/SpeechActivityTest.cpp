#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "media/SpeechActivity.h"
#include "media/platform/Asset.h"
#include "support/MediaGenerator.h"
#include "support/SpokenTalk.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

using SpeechActivity::kSampleRate;
using SpeechActivity::SpeechSpan;
using testing::Recording;
using testing::Room;
using testing::Talk;

class SpeechActivityTest : public ::testing::TestWithParam<Room> {
 protected:
  static void SetUpTestSuite() {
    testing::TemporaryFolder folder;
    talk_ = new Talk(testing::builtTalk(folder.path()));
  }
  static void TearDownTestSuite() { delete talk_; }
  static Talk* talk_;
};
Talk* SpeechActivityTest::talk_ = nullptr;

// Each sentence is found where it is heard, its edges within a few steps, and the pauses
// between sentences are silence; the pauses a sentence holds (at its commas) are short.
TEST_P(SpeechActivityTest, FindsEverySentenceWhereItIsHeard) {
  const Recording recording = testing::inRoom(*talk_, GetParam());
  const std::vector<SpeechSpan> found = SpeechActivity::speechIn(recording.samples);
  ASSERT_FALSE(found.empty());
  for (size_t index = 1; index < found.size(); ++index) {
    EXPECT_LT(found[index - 1].endSec, found[index].startSec) << "in order, apart";
    const SpeechSpan gap{found[index - 1].endSec, found[index].startSec};
    const bool insideASentence =
        std::any_of(recording.heard.begin(), recording.heard.end(), [&](const SpeechSpan& heard) {
          return gap.startSec > heard.startSec && gap.endSec < heard.endSec;
        });
    if (insideASentence) {
      EXPECT_LT(gap.endSec - gap.startSec, 0.6) << "at " << gap.startSec;
    }
  }
  constexpr double kEdgeSec = 0.05;
  for (size_t index = 0; index < recording.heard.size(); ++index) {
    const SpeechSpan& heard = recording.heard[index];
    // The sentence's first and last found spans.
    const auto first = std::find_if(found.begin(), found.end(), [&](const SpeechSpan& span) {
      return span.endSec > heard.startSec - kEdgeSec;
    });
    ASSERT_NE(first, found.end()) << "sentence " << index;
    const auto last = std::find_if(found.rbegin(), found.rend(), [&](const SpeechSpan& span) {
      return span.startSec < heard.endSec + kEdgeSec;
    });
    EXPECT_NEAR(first->startSec, heard.startSec, kEdgeSec) << "sentence " << index << " starts";
    EXPECT_NEAR(last->endSec, heard.endSec, kEdgeSec) << "sentence " << index << " ends";
  }
}

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

INSTANTIATE_TEST_SUITE_P(Rooms, SpeechActivityTest,
                         ::testing::Values(Room{"Quiet", 20, false}, Room{"Noisy", 10, false},
                                           Room{"Humming", 20, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace brisklet
