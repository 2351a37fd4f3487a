#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>

#include "media/CompositionExporter.h"
#include "support/MediaGenerator.h"
#include "support/MovieSound.h"
#include "support/Projects.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

using testing::segment;

EditPlan planOf(std::vector<Segment> segments) {
  EditPlan plan;
  plan.segments = std::move(segments);
  return plan;
}

double decibels(double ratio) { return 20 * std::log10(ratio); }

class MasterSoundTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;
  const std::filesystem::path movie = folder / "edited.mp4";

  // A grey picture over mono sound made by `sound` (an aevalsrc expression, then `filters`), as
  // 16-bit PCM, so anything louder than full scale is clipped there as a camera clips it.
  Asset source(const std::string& sound, double seconds = 10,
               const std::string& name = "source.mov", const std::string& filters = "") {
    const std::string length = std::to_string(seconds);
    testing::runFfmpeg({"-f", "lavfi", "-i", "color=gray:s=160x90:r=30:d=" + length, "-f", "lavfi",
                        "-i", "aevalsrc='" + sound + "':s=48000:d=" + length + filters, "-c:v",
                        "libx264", "-preset", "ultrafast", "-c:a", "pcm_s16le",
                        (folder / name).string()});
    return Asset::open(folder / name);
  }

  void exportTo(const EditPlan& plan, const Asset& from, const CompositionBuilder::Inputs& inputs) {
    CompositionExporter::exportMovie(
        plan, from, inputs, movie, [](double) {}, {},
        CompositionExporter::Encoding{23, "ultrafast"});
  }
};

// Speech-like sound: noise in syllables, three a second, at `level`; kept under 5 kHz by
// kSpeechBand, as a voice is (noise up to 24 kHz would measure what the encoder's low-pass
// takes away rather than our levels).
std::string syllables(double level) {
  return std::to_string(level) + "*(2*random(0)-1)*(0.55+0.45*sin(2*PI*3*t))";
}
const std::string kSpeechBand = ",lowpass=f=5000,lowpass=f=5000";

TEST_F(MasterSoundTest, ExportsReachTheirLoudnessTargetUnderTheTruePeakCeiling) {
  const Asset quiet = source(syllables(0.15), 10, "quiet.mov", kSpeechBand);
  // With a knock every two seconds that takes it to full scale.
  const Asset loud = source(syllables(2.0) + "+0.5*lt(mod(t,2),0.01)", 10, "loud.mov", kSpeechBand);
  const double quietLufs = testing::ffmpegLoudness(quiet.file()).integratedLufs;
  const double loudLufs = testing::ffmpegLoudness(loud.file()).integratedLufs;
  ASSERT_NEAR(quietLufs, -30, 1);
  ASSERT_NEAR(loudLufs, -8, 1);
  const EditPlan plan = planOf({segment(0, 10)});
  for (const Asset* from : {&quiet, &loud}) {
    exportTo(plan, *from, {});
    const testing::MeasuredLoudness measured = testing::ffmpegLoudness(movie);
    EXPECT_NEAR(measured.integratedLufs, -14, 0.5) << from->file();
    EXPECT_LE(measured.truePeakDb, -1.0) << from->file();
  }
  for (const double target : {-16.0, -23.0}) {
    CompositionBuilder::Inputs inputs;
    inputs.loudnessTargetLufs = target;
    exportTo(plan, quiet, inputs);
    EXPECT_NEAR(testing::ffmpegLoudness(movie).integratedLufs, target, 0.5);
  }
  // Off: the mix as it is, each channel at the source's own level (the mono source counted as
  // both channels).
  CompositionBuilder::Inputs off;
  off.loudnessTargetLufs.reset();
  exportTo(plan, quiet, off);
  EXPECT_NEAR(testing::ffmpegLoudness(movie).integratedLufs, quietLufs + 3, 0.5);
}

TEST_F(MasterSoundTest, ALoudSourceUnderABedNeitherClipsNorPumps) {
  const Asset loud = source("0.9*sin(2*PI*300*t)");
  testing::runFfmpeg({"-f", "lavfi", "-i", "aevalsrc='0.9*sin(2*PI*2000*t)':s=48000:d=12",
                      (folder / "bed.wav").string()});
  CompositionBuilder::Inputs inputs;
  inputs.music = folder / "bed.wav";
  inputs.musicVolume = 0.6f;
  for (const bool normalised : {true, false}) {
    if (!normalised) inputs.loudnessTargetLufs.reset();
    exportTo(planOf({segment(0, 10)}), loud, inputs);
    const std::vector<float> sound = testing::ffmpegSound(movie);
    const float largest = std::transform_reduce(
        sound.begin(), sound.end(), 0.0f, [](float a, float b) { return std::max(a, b); },
        [](float sample) { return std::fabs(sample); });
    EXPECT_LT(largest, 1.0f) << "nothing reaches full scale, normalised: " << normalised;
    if (!normalised) continue;
    // The bed fades in over its first second: the source before it and under it.
    const double before = testing::toneLevel(sound, 300, 0.05, 0.1);
    const double under = testing::toneLevel(sound, 300, 5.0, 0.1);
    EXPECT_LT(std::fabs(decibels(under / before)), 1.0);
  }
}

TEST_F(MasterSoundTest, JoinsInTheMiddleOfAWaveDoNotClick) {
  const Asset tone = source("0.5*sin(2*PI*440*t)", 12);
  // Eleven pieces, each cut 0.3 ms off the wave's own period: ten joins mid-wave.
  std::vector<Segment> pieces;
  for (int index = 0; index < 11; ++index)
    pieces.push_back(segment(0.4 + index * 1.05, 0.4 + index * 1.05 + 0.7003));
  CompositionBuilder::Inputs inputs;
  inputs.loudnessTargetLufs.reset();
  exportTo(planOf(pieces), tone, inputs);
  const std::vector<double> band = testing::highBand(testing::ffmpegSound(movie));
  for (int join = 1; join <= 10; ++join) {
    const double atSec = join * 0.7003;
    const double away = testing::bandLevel(band, atSec - 0.3, 0.02);
    const double around = testing::bandLevel(band, atSec - 0.01, 0.02);
    EXPECT_LT(decibels(around / away), 6.0) << "join " << join << " at " << atSec;
  }
}

TEST_F(MasterSoundTest, MonoLandsOnBothChannelsAtItsOwnLevel) {
  const Asset mono = source("0.4*sin(2*PI*500*t)", 4);
  std::filesystem::create_directories(folder / "narration");
  testing::runFfmpeg({"-f", "lavfi", "-i", "aevalsrc='0.3*sin(2*PI*1000*t)':s=48000:d=1",
                      (folder / "narration" / "line.wav").string()});
  Segment narrated = segment(0, 4);
  narrated.narration = NarrationClip{"Here.", false, "line.wav", 2.0, 1.0, NarrationStatus::ready};
  CompositionBuilder::Inputs inputs;
  inputs.narrationDirectory = folder / "narration";
  inputs.loudnessTargetLufs.reset();
  exportTo(planOf({narrated}), mono, inputs);
  const std::vector<float> sound = testing::ffmpegSound(movie);
  const std::vector<float> right(sound.begin() + 1, sound.end());
  for (const std::vector<float>* channel : {&sound, &right}) {
    // The source under the line is ducked: it is measured before it.
    EXPECT_NEAR(decibels(testing::toneLevel(*channel, 500, 1.0, 0.2) / 0.4), 0, 0.2);
    EXPECT_NEAR(decibels(testing::toneLevel(*channel, 1000, 2.4, 0.2) / 0.3), 0, 0.2);
  }
}

}  // namespace
}  // namespace brisklet
