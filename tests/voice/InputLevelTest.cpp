#include <gtest/gtest.h>

#include <QAudioFormat>
#include <cmath>
#include <vector>

#include "platform/Paths.h"
#include "support/TemporaryFolder.h"
#include "voice/VoiceSampleRecorder.h"

namespace brisklet {
namespace {

QAudioFormat formatOf(QAudioFormat::SampleFormat sampleFormat, int channels) {
  QAudioFormat format;
  format.setSampleRate(48000);
  format.setChannelCount(channels);
  format.setSampleFormat(sampleFormat);
  return format;
}

template <typename Sample>
double levelOf(const std::vector<Sample>& samples, const QAudioFormat& format) {
  return inputLevel({reinterpret_cast<const std::byte*>(samples.data()), samples.size() * sizeof(Sample)},
                    format);
}

TEST(InputLevel, IsSixTimesTheFirstChannelsRmsAtMostOne) {
  const QAudioFormat mono16 = formatOf(QAudioFormat::Int16, 1);
  EXPECT_EQ(levelOf(std::vector<std::int16_t>(4096, 0), mono16), 0) << "silence";
  std::vector<std::int16_t> square(4096);
  for (size_t index = 0; index < square.size(); ++index) square[index] = index % 2 ? 32767 : -32768;
  EXPECT_NEAR(levelOf(square, mono16), 1.0, 1e-9) << "full scale";
  EXPECT_EQ(levelOf(std::vector<std::int16_t>{}, mono16), 0) << "no frames";

  // rms 0.05 in the first of two float channels; loud noise in the second does not count.
  std::vector<float> stereo(8192);
  for (size_t frame = 0; frame < 4096; ++frame) {
    stereo[2 * frame] = frame % 2 ? 0.05f : -0.05f;
    stereo[2 * frame + 1] = 0.9f;
  }
  EXPECT_NEAR(levelOf(stereo, formatOf(QAudioFormat::Float, 2)), 0.3, 0.01);
}

TEST(VoiceSampleRecorder, WithoutAnInputTheMicrophoneIsUnavailableAndTheSampleKept) {
  // No sound server is running for this suite.
  testing::TemporaryFolder folder;
  testing::writeText(folder / "voice_sample.wav", "the previous sample");
  VoiceSampleRecorder recorder(folder / "voice_sample.wav");
  recorder.toggle();
  EXPECT_FALSE(recorder.isRecording());
  EXPECT_TRUE(recorder.permissionDenied());
  EXPECT_STREQ(VoiceSampleRecorder::kUnavailableText,
               "Microphone unavailable. Connect a microphone and check your system's sound "
               "settings (Input).");
  EXPECT_EQ(testing::entriesOf(folder.path()), std::vector<std::string>{"voice_sample.wav"});
  EXPECT_EQ(VoiceSampleRecorder::defaultSamplePath(),
            applicationDataFolder() / "Voice" / "voice_sample.wav");
}

}  // namespace
}  // namespace brisklet
