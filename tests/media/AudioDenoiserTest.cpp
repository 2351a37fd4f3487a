#include "media/AudioDenoiser.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <stop_token>
#include <vector>

#include "media/SoftLimiter.h"
#include "media/SpeechEqualizer.h"
#include "media/platform/MediaError.h"
#include "platform/AtomicFile.h"
#include "platform/Cancellation.h"
#include "support/MediaGenerator.h"
#include "support/MovieSound.h"
#include "support/ReadOnlyFolder.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;
using testing::entriesOf;

constexpr int kRate = 48000;

std::vector<double> sine(double hertz, double seconds, double amplitude = 0.5) {
  std::vector<double> samples(static_cast<size_t>(seconds * kRate));
  for (size_t index = 0; index < samples.size(); ++index)
    samples[index] = amplitude * std::sin(2 * std::numbers::pi * hertz * static_cast<double>(index) / kRate);
  return samples;
}

double peakOf(std::span<const double> samples) {
  double peak = 0;
  for (const double sample : samples) peak = std::max(peak, std::fabs(sample));
  return peak;
}

// The first channel of interleaved stereo.
std::vector<float> firstChannel(const std::vector<float>& stereo) {
  std::vector<float> mono(stereo.size() / 2);
  for (size_t index = 0; index < mono.size(); ++index) mono[index] = stereo[2 * index];
  return mono;
}

// How many samples `later` trails `earlier`, as the peak of their correlation over ±`range`.
int lagBetween(const std::vector<float>& earlier, const std::vector<float>& later, int range) {
  int best = 0;
  double bestScore = -INFINITY;
  for (int lag = -range; lag <= range; ++lag) {
    double score = 0;
    for (size_t index = static_cast<size_t>(range);
         index + static_cast<size_t>(range) < std::min(earlier.size(), later.size()); ++index)
      score += earlier[index] * later[static_cast<size_t>(static_cast<long>(index) + lag)];
    if (score > bestScore) {
      bestScore = score;
      best = lag;
    }
  }
  return best;
}

TEST(SpeechEqualizerTest, CutsRumbleAndBoomAndLiftsPresence) {
  // Each tone's level after the filters have settled, in dB against the tone put in.
  const auto gainAt = [](double hertz) {
    SpeechEqualizer equalizer(kRate, 1);
    std::vector<double> samples = sine(hertz, 1.0);
    equalizer.process(samples);
    return 20 * std::log10(peakOf(std::span(samples).subspan(kRate / 2)) / 0.5);
  };
  // A Butterworth high-pass an octave above 40 Hz takes 12.3 dB away there.
  EXPECT_NEAR(gainAt(40), -12.3, 0.3);
  EXPECT_NEAR(gainAt(250), -2.0, 0.3);
  EXPECT_NEAR(gainAt(1000), 0.0, 0.3);
  EXPECT_NEAR(gainAt(3200), 3.0, 0.3);
}

TEST(SoftLimiterTest, BoostsLinearlyBelowTheKneeAndNeverReachesFullScale) {
  std::vector<double> extremes = {1.0, -1.0, 0.45, -0.2};
  applyGain(2.0, extremes);
  EXPECT_LT(extremes[0], 1.0);
  EXPECT_GT(extremes[1], -1.0);
  EXPECT_DOUBLE_EQ(extremes[2], 0.9);
  EXPECT_DOUBLE_EQ(extremes[3], -0.4);
}

class AudioDenoiserTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;

  // A small video whose sound is `sound` (an FFmpeg lavfi source), `seconds` long.
  std::filesystem::path video(const std::string& name, const std::string& sound, double seconds) {
    const std::string length = std::to_string(seconds);
    testing::runFfmpeg({"-f", "lavfi", "-i", "color=gray:s=32x32:r=10:d=" + length, "-f", "lavfi",
                        "-i", sound, "-t", length, "-c:a", "pcm_s16le", "-shortest",
                        (folder / name).string()});
    return folder / name;
  }

  std::vector<std::pair<std::string, double>> reports;
  AudioDenoiser::Progress recorder() {
    return [this](const std::string& stage, double fraction) { reports.emplace_back(stage, fraction); };
  }
};

TEST_F(AudioDenoiserTest, CrystalClearLinesUpWithTheSourceAndLastsAsLong) {
  SKIP_WITHOUT_SHARED_MEDIA();
  const auto source = testing::sharedMedia("short_hamilton_clip.mp4");
  const auto output = folder / "clean.m4a";
  AudioDenoiser::enhance(source, output, true, 1.0, recorder());

  const std::vector<float> before = firstChannel(testing::soundOf(source));
  const std::vector<float> after = firstChannel(testing::soundOf(output));
  EXPECT_LE(std::abs(lagBetween(before, after, 480)), 48) << "at most 1 ms behind";
  const double sourceEnd = static_cast<double>(before.size()) / kRate;
  EXPECT_NEAR(Asset::open(output).durationSec(), sourceEnd, 0.001);
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.front(), std::make_pair(std::string("Making the audio crystal clear\u2026"), 0.0));
  EXPECT_EQ(reports.back().second, 1.0);
  EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end(),
                             [](const auto& a, const auto& b) { return a.second < b.second; }));
}

TEST_F(AudioDenoiserTest, CrystalClearQuietsSteadyNoiseAndKeepsTheVoice) {
  // A tone that comes and goes (the voice) over steady pink noise; the noise alone is measured
  // in the gaps, the tone where it sounds.
  const auto source = video("noisy.mov",
                            "anoisesrc=c=pink:a=0.05:seed=5:d=6[noise];"
                            "sine=f=440:d=6,volume='0.4*gt(mod(t,2),1)':eval=frame[voice];"
                            "[noise][voice]amix=inputs=2:normalize=0",
                            6);
  AudioDenoiser::enhance(source, folder / "clean.m4a", true, 1.0, recorder());
  const std::vector<float> before = testing::soundOf(source);
  const std::vector<float> after = testing::soundOf(folder / "clean.m4a");
  const auto noiseLevel = [](const std::vector<float>& stereo) {
    double energy = 0;
    size_t count = 0;
    // 4.1–4.9 s: noise alone, clear of the tone's edges
    for (size_t index = 41 * kRate / 10; index < 49 * kRate / 10; ++index, ++count)
      energy += stereo[2 * index] * stereo[2 * index];
    return std::sqrt(energy / static_cast<double>(count));
  };
  EXPECT_LT(noiseLevel(after), noiseLevel(before) / 4) << "at least 12 dB less noise (15 measured)";
  EXPECT_NEAR(testing::toneLevel(after, 440, 5.3, 0.5), testing::toneLevel(before, 440, 5.3, 0.5),
              0.1);
}

TEST_F(AudioDenoiserTest, ABoostPeaksJustUnderFullScale) {
  const auto source = video("loud.mov", "sine=f=1000:d=2,volume=8,pan=stereo|c0=c0|c1=c0", 2);
  AudioDenoiser::enhance(source, folder / "loud.m4a", false, 2.0, recorder());
  const std::vector<float> sound = testing::soundOf(folder / "loud.m4a");
  float peak = 0;
  for (size_t index = kRate / 2; index < sound.size() - kRate / 2; ++index)
    peak = std::max(peak, std::fabs(sound[index]));
  EXPECT_GT(peak, 0.98);
  EXPECT_LE(peak, 1.0);
  EXPECT_EQ(reports.front().first, "Boosting volume\u2026");
}

TEST_F(AudioDenoiserTest, FailuresLeaveNothingBehindAndKeepTheFileThere) {
  const auto output = folder / "out" / "clean.m4a";
  std::filesystem::create_directories(output.parent_path());
  testing::writeText(output, "an earlier render");

  testing::runFfmpeg({"-f", "lavfi", "-i", "color=gray:s=32x32:d=1", (folder / "mute.mp4").string()});
  try {
    AudioDenoiser::enhance(folder / "mute.mp4", output, true, 1.5, recorder());
    ADD_FAILURE() << "a video without sound has nothing to enhance";
  } catch (const AudioDenoiserError& error) {
    EXPECT_EQ(error.which(), AudioDenoiserError::Case::noAudioTrack);
    EXPECT_STREQ(error.what(), "This video has no audio track.");
  }
  EXPECT_TRUE(reports.empty()) << "refused before anything starts";

  testing::writeText(folder / "random.mp4", std::string(4096, '\x5a'));
  EXPECT_THROW(AudioDenoiser::enhance(folder / "random.mp4", output, true, 1.5, recorder()),
               MediaError);
  EXPECT_THROW(AudioDenoiser::enhance(folder / "mute.mp4", output, false, NAN, recorder()),
               std::invalid_argument);

  const auto source = video("talk.mov", "sine=f=300:d=20", 20);
  std::stop_source stop;
  const auto cancelAtOnce = [&](const std::string&, double) { stop.request_stop(); };
  EXPECT_THROW(AudioDenoiser::enhance(source, output, true, 1.5, cancelAtOnce, stop.get_token()),
               Cancelled);
  {
    testing::FileSizeLimit diskFull(64 * 1024);
    EXPECT_THROW(AudioDenoiser::enhance(source, output, true, 1.5, recorder()), MediaError);
  }
  EXPECT_EQ(readFile(output), "an earlier render");
  EXPECT_THAT(entriesOf(output.parent_path()), ElementsAre("clean.m4a"));
}

}  // namespace
}  // namespace brisklet
