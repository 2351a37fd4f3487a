#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "media/SpeechActivity.h"
#include "platform/AtomicFile.h"
#include "support/MediaGenerator.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

using SpeechActivity::kSampleRate;
using SpeechActivity::SpeechSpan;

// A talk of spoken sentences (two synthetic voices) between known pauses, under room noise.
struct Talk {
  std::vector<float> samples;
  std::vector<SpeechSpan> sentences;  // where each sentence's voice is, in seconds
};

const char* const kSentences[] = {
    "Good morning, we are out early today.",
    "The plan is to walk along the river to the old bridge.",
    "I packed some coffee and a few snacks.",
    "Look at that light on the water.",
    "So this is the bridge I told you about.",
    "It was built more than two hundred years ago.",
    "Let me show you the view from the top.",
    "Okay, that was a lot of stairs.",
};

// 40 pauses from 0.2 to 4 s, mixed so that short and long ones alternate.
std::vector<double> pauses() {
  std::vector<double> lengths;
  for (int index = 0; index < 40; ++index)
    lengths.push_back(0.2 + 3.8 * ((index * 17) % 40) / 39.0);
  return lengths;
}

double rms(const std::vector<float>& samples) {
  double sum = 0;
  for (const float sample : samples) sum += static_cast<double>(sample) * sample;
  return std::sqrt(sum / static_cast<double>(samples.size()));
}

// `text` spoken by `speaker`, mono at the detector's rate, trimmed to where its voice is.
std::vector<float> spoken(const std::string& text, const std::string& speaker,
                          const std::filesystem::path& scratch) {
  const auto raw = scratch / "sentence.f32";
  testing::runFfmpeg({"-f", "lavfi", "-i", "flite=text='" + text + "':voice=" + speaker, "-ar",
                      std::to_string(kSampleRate), "-ac", "1", "-f", "f32le", raw.string()});
  const std::string bytes = readFile(raw);
  std::vector<float> samples(bytes.size() / sizeof(float));
  std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
  // The synthesiser pads its voice with a faint hiss: the sentence is where the voice is heard,
  // the 10 ms steps within 30 dB of its loudest.
  constexpr size_t kStep = kSampleRate / 100;
  const size_t steps = samples.size() / kStep;
  std::vector<double> power(steps, 0.0);
  for (size_t step = 0; step < steps; ++step)
    for (size_t at = step * kStep; at < (step + 1) * kStep; ++at)
      power[step] += static_cast<double>(samples[at]) * samples[at] / kStep;
  const double heard = *std::max_element(power.begin(), power.end()) / 1000;
  size_t first = 0, end = steps;
  while (first < end && power[first] < heard) ++first;
  while (end > first && power[end - 1] < heard) --end;
  std::vector<float> voice(samples.begin() + static_cast<std::ptrdiff_t>(first * kStep),
                           samples.begin() + static_cast<std::ptrdiff_t>(end * kStep));
  // Both voices at one level, as one talker's sentences are.
  const auto gain = static_cast<float>(0.1 / rms(voice));
  for (float& sample : voice) sample *= gain;
  return voice;
}

Talk builtTalk(const std::filesystem::path& scratch) {
  Talk talk;
  const std::vector<double> gaps = pauses();
  for (size_t index = 0; index <= gaps.size(); ++index) {
    const std::vector<float> sentence =
        spoken(kSentences[index % std::size(kSentences)], index % 2 == 0 ? "slt" : "rms", scratch);
    const double start = static_cast<double>(talk.samples.size()) / kSampleRate;
    talk.samples.insert(talk.samples.end(), sentence.begin(), sentence.end());
    talk.sentences.push_back({start, static_cast<double>(talk.samples.size()) / kSampleRate});
    if (index < gaps.size())
      talk.samples.resize(talk.samples.size() + static_cast<size_t>(gaps[index] * kSampleRate));
  }
  return talk;
}

struct Room {
  const char* name;
  double snrDB;
  bool hum;
};

// A talk as recorded in a room, and where each sentence is heard above the room's noise.
struct Recording {
  std::vector<float> samples;
  std::vector<SpeechSpan> heard;
};

// `talk` with white noise `snrDB` below its speech, and mains hum with harmonics above it. A
// sentence is heard from its first to its last 10 ms step louder than the noise: a fading word
// sinks into the room, and no one hears it there.
Recording inRoom(const Talk& talk, const Room& room) {
  double speechPower = 0, speechCount = 0;
  for (const SpeechSpan& sentence : talk.sentences)
    for (auto at = static_cast<size_t>(sentence.startSec * kSampleRate);
         at < static_cast<size_t>(sentence.endSec * kSampleRate); ++at) {
      speechPower += static_cast<double>(talk.samples[at]) * talk.samples[at];
      ++speechCount;
    }
  const double noiseLevel = std::sqrt(speechPower / speechCount) * std::pow(10, -room.snrDB / 20);
  Recording recording;
  constexpr size_t kStep = kSampleRate / 100;
  for (const SpeechSpan& sentence : talk.sentences) {
    const auto first = static_cast<size_t>(std::lround(sentence.startSec * kSampleRate));
    const auto end = static_cast<size_t>(std::lround(sentence.endSec * kSampleRate));
    std::optional<double> heardFrom;
    double heardTo = 0;
    for (size_t step = first; step + kStep <= end; step += kStep) {
      double power = 0;
      for (size_t at = step; at < step + kStep; ++at)
        power += static_cast<double>(talk.samples[at]) * talk.samples[at] / kStep;
      if (power <= noiseLevel * noiseLevel) continue;
      if (!heardFrom) heardFrom = static_cast<double>(step) / kSampleRate;
      heardTo = static_cast<double>(step + kStep) / kSampleRate;
    }
    recording.heard.push_back({heardFrom.value_or(sentence.startSec), heardTo});
  }
  std::mt19937 random(7);
  std::normal_distribution<double> noise(0, noiseLevel);
  recording.samples = talk.samples;
  for (size_t at = 0; at < recording.samples.size(); ++at) {
    double sample = recording.samples[at] + noise(random);
    if (room.hum)
      for (int harmonic = 1; harmonic <= 3; ++harmonic)
        sample += 2 * noiseLevel / harmonic *
                  std::sin(2 * std::numbers::pi * 50 * harmonic * at / kSampleRate);
    recording.samples[at] = static_cast<float>(sample);
  }
  return recording;
}

class SpeechActivityTest : public ::testing::TestWithParam<Room> {
 protected:
  static void SetUpTestSuite() {
    testing::TemporaryFolder folder;
    talk_ = new Talk(builtTalk(folder.path()));
  }
  static void TearDownTestSuite() { delete talk_; }
  static Talk* talk_;
};
Talk* SpeechActivityTest::talk_ = nullptr;

// Each sentence is found where it is heard, its edges within a few steps, and the pauses
// between sentences are silence; the pauses a sentence holds (at its commas) are short.
TEST_P(SpeechActivityTest, FindsEverySentenceWhereItIsHeard) {
  const Recording recording = inRoom(*talk_, GetParam());
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

// Read from a file: a voice-band tone between 1 and 2 s and between 4 and 4.5 s, under hiss.
TEST(SpeechActivity, ReadsTheSoundOfAFile) {
  testing::TemporaryFolder folder;
  const auto movie = folder / "tone.mp4";
  testing::runFfmpeg({"-f", "lavfi", "-i",
                      "aevalsrc='0.3*sin(2*PI*440*t)*(between(t,1,2)+between(t,4,4.5))+0.003*"
                      "(random(0)-0.5)':s=48000:d=6",
                      "-c:a", "aac", "-b:a", "128k", movie.string()});
  const std::vector<SpeechSpan> found = SpeechActivity::speechOf(Asset::open(movie));
  ASSERT_EQ(found.size(), 2u);
  EXPECT_NEAR(found[0].startSec, 1.0, 0.03);
  EXPECT_NEAR(found[0].endSec, 2.0, 0.03);
  EXPECT_NEAR(found[1].startSec, 4.0, 0.03);
  EXPECT_NEAR(found[1].endSec, 4.5, 0.03);

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
