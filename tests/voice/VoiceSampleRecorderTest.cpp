#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAudioFormat>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <cmath>
#include <csignal>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/AtomicFile.h"
#include "support/MediaGenerator.h"
#include "support/ReadOnlyFolder.h"
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

double secondsOf(const Wav& wav) {
  return wav.channels == 0
             ? 0
             : static_cast<double>(wav.samples.size()) / wav.channels / wav.sampleRate;
}

// How long the first channel holds the tone: the 10 ms blocks loud enough to be it.
double toneSecondsOf(const Wav& wav) {
  const size_t block = static_cast<size_t>(wav.sampleRate / 100);
  const size_t frames = wav.samples.size() / static_cast<size_t>(wav.channels);
  int loud = 0;
  for (size_t start = 0; start + block <= frames; start += block) {
    double sum = 0;
    for (size_t frame = start; frame < start + block; ++frame) {
      const double value = wav.samples[frame * wav.channels] / 32768.0;
      sum += value * value;
    }
    if (std::sqrt(sum / block) > 0.05) ++loud;
  }
  return loud / 100.0;
}

// Runs the event loop until the recorder has ended (a stop drains the input first).
bool waitUntilEnded(const VoiceSampleRecorder& recorder, int milliseconds = 5000) {
  QElapsedTimer clock;
  clock.start();
  while (recorder.isRecording() && clock.elapsed() < milliseconds)
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
  return !recorder.isRecording();
}

class VoiceSampleRecorderTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;
  QProcess player;

  void SetUp() override {
    testing::runFfmpeg({"-f", "lavfi", "-i", "sine=f=440:r=48000:d=20", "-af", "volume=4",
                        (folder / "tone.wav").string()});
    player.start("paplay",
                 {"--device=mic", QString::fromStdString((folder / "tone.wav").string())});
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
  EXPECT_TRUE(waitUntilEnded(recorder));
  EXPECT_FALSE(recorder.failure());
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
  // The rig's input starts hearing about a second late; what it heard up to the stop is there.
  EXPECT_GT(secondsOf(wav), 0.5);
  EXPECT_NEAR(pitchOf(wav), 440, 3);
  EXPECT_THAT(testing::entriesOf(folder.path()),
              ::testing::UnorderedElementsAre("tone.wav", "voice_sample.wav"));
}

TEST_F(VoiceSampleRecorderTest, ARecordingOfNSecondsHoldsNSecondsOfTheTone) {
  VoiceSampleRecorder recorder(folder / "three.wav");
  recorder.setLongestSec(3);
  recorder.toggle();
  ASSERT_TRUE(recorder.isRecording());
  EXPECT_TRUE(waitUntilEnded(recorder, 10000));
  EXPECT_DOUBLE_EQ(recorder.elapsedSec(), 3.0);
  const Wav wav = readWav(folder / "three.wav");
  EXPECT_NEAR(secondsOf(wav), 3.0, 0.1);
  EXPECT_NEAR(toneSecondsOf(wav), 3.0, 0.1) << "none of it lost at the end";
}

TEST_F(VoiceSampleRecorderTest, ARecordingWithNoSoundOrAbandonedLeavesThePreviousSample) {
  testing::writeText(folder / "voice_sample.wav", "the previous sample");
  VoiceSampleRecorder recorder(folder / "voice_sample.wav");
  recorder.toggle();
  recorder.toggle();  // at once: before the input handed over any sound
  EXPECT_TRUE(waitUntilEnded(recorder));
  EXPECT_EQ(recorder.failure(), VoiceSampleRecorder::kNothingRecordedText);
  EXPECT_EQ(readFile(folder / "voice_sample.wav"), "the previous sample");

  recorder.toggle();
  runEventLoopFor(1500);
  recorder.abandon();
  EXPECT_FALSE(recorder.isRecording());
  EXPECT_EQ(readFile(folder / "voice_sample.wav"), "the previous sample");
  EXPECT_THAT(testing::entriesOf(folder.path()),
              ::testing::UnorderedElementsAre("tone.wav", "voice_sample.wav"));
}

TEST_F(VoiceSampleRecorderTest, ARecordingStopsByItselfAndOneCutShortIsStillWhole) {
  {
    VoiceSampleRecorder recorder(folder / "short.wav");
    recorder.setLongestSec(0.5);
    recorder.toggle();
    EXPECT_TRUE(waitUntilEnded(recorder)) << "stopped after 5 ticks";
    EXPECT_DOUBLE_EQ(recorder.elapsedSec(), 0.5);
  }
  const Wav stopped = readWav(folder / "short.wav");
  EXPECT_EQ(stopped.dataSize, stopped.fileSize - 44);
  {
    VoiceSampleRecorder recorder(folder / "cut.wav");
    recorder.toggle();
    // The tone arrives after the source's start-up latency, later on a loaded machine.
    QElapsedTimer clock;
    clock.start();
    while (recorder.level() < 0.05 && clock.elapsed() < 20000) runEventLoopFor(50);
    runEventLoopFor(500);
  }  // destroyed while recording
  const Wav cut = readWav(folder / "cut.wav");
  EXPECT_EQ(cut.dataSize, cut.fileSize - 44);
  EXPECT_GT(cut.samples.size(), 0u);
  EXPECT_NEAR(pitchOf(cut), 440, 3);
}

// brisklet-cli record-voice against the same input, as a reader at a terminal would use it.
class RecordVoiceCommandTest : public VoiceSampleRecorderTest {
 protected:
  std::filesystem::path sample = folder / "sample.wav";

  std::unique_ptr<QProcess> startRecording(const QStringList& extra = {}) {
    auto process = std::make_unique<QProcess>();
    process->start(
        BRISKLET_CLI,
        QStringList{"record-voice", "-o", QString::fromStdString(sample.string())} + extra);
    EXPECT_TRUE(process->waitForStarted(10000));
    return process;
  }
};

TEST_F(RecordVoiceCommandTest, ThreeSecondsAskedHoldThreeSecondsOfTheTone) {
  const auto recording = startRecording({"--seconds", "3"});
  ASSERT_TRUE(recording->waitForFinished(20000));
  EXPECT_EQ(recording->exitCode(), 0) << recording->readAllStandardError().toStdString();
  EXPECT_EQ(recording->readAllStandardOutput().toStdString(), sample.string() + "\n");
  const Wav wav = readWav(sample);
  EXPECT_NEAR(secondsOf(wav), 3.0, 0.1);
  EXPECT_NEAR(toneSecondsOf(wav), 3.0, 0.1);
}

TEST_F(RecordVoiceCommandTest, ARecordingTerminatedOrKilledLeavesThePreviousSample) {
  testing::writeText(sample, "the previous sample");
  const auto terminated = startRecording();
  runEventLoopFor(1000);
  terminated->terminate();
  ASSERT_TRUE(terminated->waitForFinished(10000));
  EXPECT_EQ(terminated->exitCode(), 128 + SIGTERM);
  EXPECT_EQ(readFile(sample), "the previous sample");

  const auto killed = startRecording();
  runEventLoopFor(1000);
  killed->kill();
  ASSERT_TRUE(killed->waitForFinished(10000));
  EXPECT_EQ(readFile(sample), "the previous sample");
  EXPECT_EQ(testing::entriesOf(folder.path()).size(), 3u) << "the killed recording's temporary";
  QProcess next;
  next.start(BRISKLET_CLI, {"list"});
  ASSERT_TRUE(next.waitForFinished(10000));
  EXPECT_THAT(testing::entriesOf(folder.path()),
              ::testing::UnorderedElementsAre("tone.wav", "sample.wav"))
      << "the next start sweeps it";
}

TEST_F(RecordVoiceCommandTest, AFullDiskFailsWithTheReasonAndWritesNothing) {
  testing::SmallDisk disk(folder / "disk", 64);
  if (!disk.works()) GTEST_SKIP() << "mounting a small disk needs root";
  sample = folder / "disk" / "sample.wav";
  const auto recording = startRecording({"--seconds", "3"});
  ASSERT_TRUE(recording->waitForFinished(20000));
  EXPECT_EQ(recording->exitCode(), 1);
  EXPECT_THAT(recording->readAllStandardError().toStdString(),
              ::testing::HasSubstr("No space left on device"));
  EXPECT_THAT(recording->readAllStandardOutput().toStdString(), ::testing::IsEmpty());
  EXPECT_THAT(testing::entriesOf(folder / "disk"), ::testing::IsEmpty());
}

}  // namespace
}  // namespace brisklet
