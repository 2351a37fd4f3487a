#include "voice/VoiceSampleRecorder.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSource>
#include <QMediaDevices>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "voice/WavWriter.h"

namespace brisklet {
namespace {

constexpr double kLevelGain = 6.0;
constexpr int kTickMilliseconds = 100;
// How long a stop waits for the input to hand over the sound up to it (the sound server's
// start-up latency alone can be a second); an input that stalls longer ends with what it gave.
constexpr int kLongestDrainMilliseconds = 3000;

// Sample `index` of `data` in `format`, as −1…1.
double sampleAt(std::span<const std::byte> data, QAudioFormat::SampleFormat format, size_t index) {
  switch (format) {
    case QAudioFormat::Int16: {
      std::int16_t value;
      std::memcpy(&value, data.data() + index * 2, 2);
      return value / 32768.0;
    }
    case QAudioFormat::Int32: {
      std::int32_t value;
      std::memcpy(&value, data.data() + index * 4, 4);
      return value / 2147483648.0;
    }
    case QAudioFormat::Float: {
      float value;
      std::memcpy(&value, data.data() + index * 4, 4);
      return value;
    }
    case QAudioFormat::UInt8:
      return (static_cast<int>(data[index]) - 128) / 128.0;
    default:
      return 0;
  }
}

}  // namespace

double inputLevel(std::span<const std::byte> interleaved, const QAudioFormat& format) {
  const int frameBytes = format.bytesPerFrame();
  if (frameBytes <= 0) return 0;
  const size_t frames = interleaved.size() / static_cast<size_t>(frameBytes);
  if (frames == 0) return 0;
  const size_t channels = static_cast<size_t>(std::max(format.channelCount(), 1));
  double sum = 0;
  for (size_t frame = 0; frame < frames; ++frame) {
    const double value = sampleAt(interleaved, format.sampleFormat(), frame * channels);
    sum += value * value;
  }
  return std::min(std::sqrt(sum / static_cast<double>(frames)) * kLevelGain, 1.0);
}

std::filesystem::path VoiceSampleRecorder::defaultSamplePath() {
  return applicationDataFolder() / "Voice" / "voice_sample.wav";
}

VoiceSampleRecorder::VoiceSampleRecorder(std::filesystem::path sample, QObject* parent)
    : QObject(parent), sample_(std::move(sample)) {
  timer_.setInterval(kTickMilliseconds);
  connect(&timer_, &QTimer::timeout, this, &VoiceSampleRecorder::tick);
  drainLimit_.setSingleShot(true);
  connect(&drainLimit_, &QTimer::timeout, this, [this] { end(true); });
}

// Quitting mid-way keeps what was recorded; there is no time left to wait for the rest.
VoiceSampleRecorder::~VoiceSampleRecorder() { end(true); }

void VoiceSampleRecorder::setLongestSec(double seconds) {
  longestTicks_ = static_cast<int>(std::lround(std::clamp(seconds, 0.1, kLongestSec) * 10));
}

void VoiceSampleRecorder::toggle() {
  if (isRecording_) {
    stop();
    return;
  }
  start();
}

void VoiceSampleRecorder::failWith(std::string reason) {
  logLine("Recording failed to start: " + reason);
  failure_ = std::move(reason);
}

bool VoiceSampleRecorder::start() {
  failure_.reset();
  const QAudioDevice device = QMediaDevices::defaultAudioInput();
  if (device.isNull()) {
    failWith(kUnavailableText);
    deny();
    return false;
  }
  try {
    createFolders(sample_.parent_path());
    format_ = std::make_unique<QAudioFormat>(device.preferredFormat());
    writer_ = std::make_unique<WavWriter>(sample_, format_->sampleRate(), format_->channelCount());
  } catch (const std::exception& error) {
    failWith(error.what());
    writer_.reset();
    return false;
  }
  source_ = std::make_unique<QAudioSource>(device, *format_);
  input_ = source_->start();
  if (input_ == nullptr || source_->error() != QAudio::NoError) {
    failWith(kUnavailableText);
    source_.reset();
    input_ = nullptr;
    writer_.reset();  // a recording that never started does not replace the sample
    deny();
    return false;
  }
  connect(input_, &QIODevice::readyRead, this, &VoiceSampleRecorder::readSound);
  ticks_ = 0;
  firstFrameSec_.reset();
  stopFrame_.reset();
  stoppedAtSec_.reset();
  clock_.start();
  emit elapsedSecChanged();
  isRecording_ = true;
  emit isRecordingChanged();
  timer_.start();
  return true;
}

std::uint64_t VoiceSampleRecorder::longestFrames() const {
  return static_cast<std::uint64_t>(std::llround(longestTicks_ / 10.0 * format_->sampleRate()));
}

void VoiceSampleRecorder::readSound() {
  if (input_ == nullptr || !writer_) return;
  const QByteArray data = input_->readAll();
  const size_t frameBytes = static_cast<size_t>(std::max(format_->bytesPerFrame(), 1));
  size_t frames = static_cast<size_t>(data.size()) / frameBytes;
  if (frames == 0) return;
  if (!firstFrameSec_) {
    firstFrameSec_ =
        clock_.elapsed() / 1000.0 - static_cast<double>(frames) / format_->sampleRate();
    // Stopped before any sound came: only now is it known how much was heard by then.
    if (stoppedAtSec_) stopFrame_ = framesHeardBy(*stoppedAtSec_);
  }
  const std::uint64_t last = stopFrame_.value_or(longestFrames());
  frames = static_cast<size_t>(
      std::min<std::uint64_t>(frames, last - std::min(last, writer_->framesWritten())));
  const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data.constData()),
                                         frames * frameBytes);
  const size_t samples = bytes.size() / static_cast<size_t>(std::max(format_->bytesPerSample(), 1));
  std::vector<std::int16_t> converted(samples);
  for (size_t index = 0; index < samples; ++index)
    converted[index] = static_cast<std::int16_t>(std::lround(
        std::clamp(sampleAt(bytes, format_->sampleFormat(), index), -1.0, 32767.0 / 32768.0) *
        32768.0));
  writer_->append(converted);
  setLevel(inputLevel(bytes, *format_));
  if (writer_->framesWritten() >= last) end(true);
}

void VoiceSampleRecorder::tick() {
  if (!isRecording_) return;
  ++ticks_;
  emit elapsedSecChanged();
  if (ticks_ >= longestTicks_) stopAt(longestFrames());
}

std::uint64_t VoiceSampleRecorder::framesHeardBy(double sec) const {
  const double heardSec = std::max(0.0, sec - firstFrameSec_.value_or(sec));
  return std::min(longestFrames(),
                  static_cast<std::uint64_t>(std::llround(heardSec * format_->sampleRate())));
}

void VoiceSampleRecorder::stop() {
  if (!isRecording_ || stopFrame_ || stoppedAtSec_) return;
  // The sound heard up to now, counted from the first frame's moment; before any frame came,
  // that is known only once one does (readSound).
  const double nowSec = clock_.elapsed() / 1000.0;
  if (firstFrameSec_) {
    stopAt(framesHeardBy(nowSec));
    return;
  }
  stoppedAtSec_ = nowSec;
  timer_.stop();
  readSound();
  if (isRecording_ && !(stopFrame_ && writer_->framesWritten() >= *stopFrame_))
    drainLimit_.start(kLongestDrainMilliseconds);
  else if (isRecording_)
    end(true);
}

void VoiceSampleRecorder::stopAt(std::uint64_t frames) {
  if (!isRecording_) return;
  stopFrame_ = std::min(frames, stopFrame_.value_or(frames));
  timer_.stop();
  readSound();  // what the input already holds
  if (!isRecording_) return;
  if (writer_->framesWritten() >= *stopFrame_) {
    end(true);
    return;
  }
  drainLimit_.start(kLongestDrainMilliseconds);
}

void VoiceSampleRecorder::abandon() { end(false); }

void VoiceSampleRecorder::end(bool keep) {
  if (!isRecording_) return;
  timer_.stop();
  drainLimit_.stop();
  if (source_) source_->stop();
  source_.reset();
  input_ = nullptr;
  if (keep && writer_->framesWritten() == 0) {
    failure_ = kNothingRecordedText;
  } else if (keep) {
    try {
      writer_->finish();
    } catch (const std::exception& error) {
      failure_ = std::string("The recording could not be saved: ") + error.what();
    }
  }
  if (failure_) logLine(*failure_);
  writer_.reset();  // unfinished, it leaves the file as it was
  isRecording_ = false;
  emit isRecordingChanged();
  setLevel(0);
}
void VoiceSampleRecorder::setLevel(double level) {
  if (level_ == level) return;
  level_ = level;
  emit levelChanged();
}

void VoiceSampleRecorder::deny() {
  if (permissionDenied_) return;
  permissionDenied_ = true;
  emit permissionDeniedChanged();
}

}  // namespace brisklet
