#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "media/WaveformExtractor.h"
#include "media/platform/PcmReader.h"
#include "support/MediaGenerator.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

using ::testing::Each;
using ::testing::FloatNear;

class WaveformTest : public ::testing::Test {
 protected:
  // A 16-bit WAV at 8 kHz made from an aevalsrc expression: exact lengths, no codec padding.
  std::filesystem::path sound(const std::string& name, const std::string& expression,
                              double durationSec) {
    const auto file = folder / (name + ".wav");
    testing::runFfmpeg({"-f", "lavfi", "-i",
                        "aevalsrc=" + expression + ":s=8000:d=" + std::to_string(durationSec),
                        "-c:a", "pcm_s16le", file.string()});
    return file;
  }
  testing::TemporaryFolder folder;
};

TEST_F(WaveformTest, APartialLastWindowCounts) {
  const auto envelope = WaveformExtractor::rmsEnvelope(Asset::open(sound("short", "0", 1.05)), 10);
  EXPECT_EQ(envelope.size(), 11u) << "ten windows of 800 samples and one of 400";
}

TEST_F(WaveformTest, LevelsAreThreeTimesTheRmsCappedAtOne) {
  EXPECT_THAT(WaveformExtractor::rmsEnvelope(Asset::open(sound("silence", "0", 1)), 10),
              Each(FloatNear(0.0f, 1e-6f)));
  EXPECT_THAT(
      WaveformExtractor::rmsEnvelope(
          Asset::open(sound("square", "if(lt(mod(t*100\\,1)\\,0.5)\\,0.999\\,-0.999)", 1)), 10),
      Each(FloatNear(1.0f, 1e-3f)));
  EXPECT_THAT(
      WaveformExtractor::rmsEnvelope(Asset::open(sound("sine", "0.999*sin(2*PI*440*t)", 1)), 10),
      Each(FloatNear(1.0f, 1e-3f)))
      << "RMS 0.707 is capped";
  // RMS 0.1: a sine of amplitude 0.1 × √2.
  EXPECT_THAT(WaveformExtractor::rmsEnvelope(
                  Asset::open(sound("quiet", "0.141421*sin(2*PI*400*t)", 1)), 10),
              Each(FloatNear(0.3f, 0.005f)));
}

TEST_F(WaveformTest, RatesAbove8000UseWindowsOfOneSample) {
  const auto envelope =
      WaveformExtractor::rmsEnvelope(Asset::open(sound("tiny", "0.5", 0.01)), 20000);
  EXPECT_EQ(envelope.size(), 80u);
  EXPECT_THAT(envelope, Each(FloatNear(1.0f, 1e-3f))) << "3 × 0.5 capped";
}

TEST_F(WaveformTest, NoSoundGivesAnEmptyEnvelopeAndNonsenseRatesAreRefused) {
  const auto video = testing::makeClockVideo(folder / "silent.mp4", 1.0);
  EXPECT_TRUE(WaveformExtractor::rmsEnvelope(Asset::open(video), 10).empty());
  const Asset withSound = Asset::open(sound("any", "0", 0.5));
  for (const double rate : {0.0, -10.0, std::nan(""), std::numeric_limits<double>::infinity()})
    EXPECT_THROW(WaveformExtractor::rmsEnvelope(withSound, rate), std::invalid_argument) << rate;
}

TEST_F(WaveformTest, SoundThatStartsAfterThePictureKeepsItsPlace) {
  // The picture starts at 0; the tone starts 0.5 s later.
  const auto picture = testing::makeClockVideo(folder / "picture.mp4", 2.0);
  const auto tone = sound("tone", "0.999*sin(2*PI*440*t)", 1.5);
  const auto late = folder / "late.mov";
  testing::runFfmpeg({"-i", picture.string(), "-itsoffset", "0.5", "-i", tone.string(), "-map",
                      "0:v", "-map", "1:a", "-c", "copy", late.string()});
  const Asset asset = Asset::open(late);
  const auto envelope = WaveformExtractor::rmsEnvelope(asset, 10);
  ASSERT_GE(envelope.size(), 19u);
  for (size_t index = 0; index < 5; ++index) EXPECT_LT(envelope[index], 0.05f) << index;
  for (size_t index = 6; index < 19; ++index) EXPECT_GT(envelope[index], 0.95f) << index;
}

TEST(PcmReader, GivesEveryFrameOfTheSoundInTheRequestedFormat) {
  testing::TemporaryFolder folder;
  testing::runFfmpeg({"-f", "lavfi", "-i", "sine=f=440:r=44100:d=2", "-ac", "2", "-c:a", "aac",
                      (folder / "stereo.m4a").string()});
  PcmReader reader(Asset::open(folder / "stereo.m4a"),
                   PcmFormat{48000, 1, PcmSampleFormat::float32});
  size_t samples = 0;
  float peak = 0;
  reader.read([&](std::span<const std::uint8_t> bytes) {
    const auto* values = reinterpret_cast<const float*>(bytes.data());
    for (size_t index = 0; index < bytes.size() / sizeof(float); ++index)
      peak = std::max(peak, std::fabs(values[index]));
    samples += bytes.size() / sizeof(float);
  });
  EXPECT_NEAR(static_cast<double>(samples), 2.0 * 48000, 48000 * 0.03);
  EXPECT_NEAR(peak, 0.125, 0.02) << "lavfi's sine is at 1/8 of full scale";
}

}  // namespace
}  // namespace brisklet
