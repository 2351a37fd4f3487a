#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAudioFormat>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/AtomicFile.h"
#include "support/MediaGenerator.h"
#include "support/TemporaryFolder.h"
#include "voice/VoiceSampleRecorder.h"

namespace brisklet {
namespace {

// This suite runs beside a private PulseAudio server (tests/support/with-sound-server.sh): the
// recorder's default input hears whatever is played into the sink "mic", after a start-up
// latency of about a second that the server's remapped source adds.

void runEventLoopFor(int milliseconds) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < milliseconds)
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
}

struct Wav {
  int channels = 0, sampleRate = 0, bitsPerSample = 0, format = 0;
  std::uint32_t riffSize = 0, dataSize = 0;
  size_t fileSize = 0;
  std::vector<std::int16_t> samples;
};

Wav readWav(const std::filesystem::path& file) {
  const std::string bytes = readFile(file);
  Wav wav;
  wav.fileSize = bytes.size();
  if (bytes.size() < 44 || bytes.compare(0, 4, "RIFF") != 0) return wav;
  const auto field = [&](size_t at, int size) {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, static_cast<size_t>(size));
    return value;
  };
  wav.riffSize = field(4, 4);
  wav.format = static_cast<int>(field(20, 2));
  wav.channels = static_cast<int>(field(22, 2));
  wav.sampleRate = static_cast<int>(field(24, 4));
  wav.bitsPerSample = static_cast<int>(field(34, 2));
  wav.dataSize = field(40, 4);
  wav.samples.resize((bytes.size() - 44) / 2);
  if (!wav.samples.empty())  // a header alone: no samples to copy
    std::memcpy(wav.samples.data(), bytes.data() + 44, wav.samples.size() * 2);
  return wav;
}

// The pitch of the first channel, from its upward zero crossings.
double pitchOf(const Wav& wav) {
  const size_t frames = wav.samples.size() / static_cast<size_t>(wav.channels);
  int crossings = 0;
  size_t first = 0, last = 0;
  for (size_t frame = 1; frame < frames; ++frame) {
    const auto before = wav.samples[(frame - 1) * wav.channels];
    const auto now = wav.samples[frame * wav.channels];
    if (before < 0 && now >= 0) {
      if (crossings == 0) first = frame;
      last = frame;
      ++crossings;
    }
  }
  return crossings < 2 ? 0 : (crossings - 1) * wav.sampleRate / static_cast<double>(last - first);
}

class VoiceSampleRecorderTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;
  QProcess player;

  void SetUp() override {
    testing::runFfmpeg({"-f", "lavfi", "-i", "sine=f=440:r=48000:d=20", "-af", "volume=4",
                        (folder / "tone.wav").string()});
    player.start("paplay", {"--device=mic", QString::fromStdString((folder / "tone.wav").string())});
    ASSERT_TRUE(player.waitForStarted());
    runEventLoopFor(300);
  }
  void TearDown() override {
    player.kill();
    player.waitForFinished();
  }
};

TEST_F(VoiceSampleRecorderTest, RecordsTheInputAsA16BitWavOfWhatWasPlayed) {
  testing::writeText(folder / "voice_sample.wav", "the previous sample");
  VoiceSampleRecorder recorder(folder / "voice_sample.wav");
  recorder.toggle();
  ASSERT_TRUE(recorder.isRecording()) << "no input: is the sound server running?";
  EXPECT_FALSE(recorder.permissionDenied());
  double loudest = 0;
  QObject::connect(&recorder, &VoiceSampleRecorder::levelChanged,
                   [&] { loudest = std::max(loudest, recorder.level()); });
  runEventLoopFor(3000);
  EXPECT_EQ(readFile(folder / "voice_sample.wav"), "the previous sample")
      << "the sample stays until the new one is whole";
  recorder.toggle();
  EXPECT_FALSE(recorder.isRecording());
  EXPECT_NEAR(recorder.elapsedSec(), 3.0, 0.3);
  EXPECT_GT(loudest, 0.5);
  EXPECT_EQ(recorder.level(), 0);

  const Wav wav = readWav(folder / "voice_sample.wav");
  EXPECT_EQ(wav.format, 1) << "PCM";
  EXPECT_EQ(wav.bitsPerSample, 16);
  EXPECT_GE(wav.channels, 1);
  EXPECT_GE(wav.sampleRate, 8000);
  EXPECT_EQ(wav.dataSize, wav.fileSize - 44);
  EXPECT_EQ(wav.riffSize, wav.fileSize - 8);
  EXPECT_GT(wav.samples.size() / static_cast<double>(wav.channels * wav.sampleRate), 0.5);
  EXPECT_NEAR(pitchOf(wav), 440, 3);
  EXPECT_FALSE(std::filesystem::exists(folder / "voice_sample.wav.part"));
}

TEST_F(VoiceSampleRecorderTest, ARecordingStopsByItselfAndOneCutShortIsStillWhole) {
  {
    VoiceSampleRecorder recorder(folder / "short.wav");
    recorder.setLongestSec(0.5);
    recorder.toggle();
    runEventLoopFor(1200);
    EXPECT_FALSE(recorder.isRecording()) << "stopped after 5 ticks";
    EXPECT_DOUBLE_EQ(recorder.elapsedSec(), 0.5);
  }
  const Wav stopped = readWav(folder / "short.wav");
  EXPECT_EQ(stopped.dataSize, stopped.fileSize - 44);
  {
    VoiceSampleRecorder recorder(folder / "cut.wav");
    recorder.toggle();
    runEventLoopFor(2000);
  }  // destroyed while recording
  const Wav cut = readWav(folder / "cut.wav");
  EXPECT_EQ(cut.dataSize, cut.fileSize - 44);
  EXPECT_GT(cut.samples.size(), 0u);
  EXPECT_NEAR(pitchOf(cut), 440, 3);
}

}  // namespace
}  // namespace brisklet
