#include "voice/VoiceSampleRecorder.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSource>
#include <QMediaDevices>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/Log.h"
#include "platform/Paths.h"
#include "voice/WavWriter.h"

namespace brisklet {
namespace {

constexpr double kLevelGain = 6.0;
constexpr int kTickMilliseconds = 100;

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
    case QAudioFormat::UInt8: return (static_cast<int>(data[index]) - 128) / 128.0;
    default: return 0;
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
}

VoiceSampleRecorder::~VoiceSampleRecorder() { stop(); }

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

bool VoiceSampleRecorder::start() {
  const QAudioDevice device = QMediaDevices::defaultAudioInput();
  if (device.isNull()) {
    logLine("Recording failed to start: there is no sound input.");
    deny();
    return false;
  }
  try {
    std::filesystem::create_directories(sample_.parent_path());
    format_ = std::make_unique<QAudioFormat>(device.preferredFormat());
    writer_ = std::make_unique<WavWriter>(sample_, format_->sampleRate(), format_->channelCount());
  } catch (const std::exception& error) {
    logLine(std::string("Recording failed to start: ") + error.what());
    writer_.reset();
    return false;
  }
  source_ = std::make_unique<QAudioSource>(device, *format_);
  input_ = source_->start();
  if (input_ == nullptr || source_->error() != QAudio::NoError) {
    logLine("Recording failed to start: the sound input could not be opened.");
    source_.reset();
    input_ = nullptr;
    writer_->discard();  // a recording that never started does not replace the sample
    writer_.reset();
    deny();
    return false;
  }
  connect(input_, &QIODevice::readyRead, this, &VoiceSampleRecorder::readSound);
  ticks_ = 0;
  emit elapsedSecChanged();
  isRecording_ = true;
  emit isRecordingChanged();
  timer_.start();
  return true;
}

void VoiceSampleRecorder::readSound() {
  if (input_ == nullptr || !writer_) return;
  const QByteArray data = input_->readAll();
  if (data.isEmpty()) return;
  const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data.constData()),
                                         static_cast<size_t>(data.size()));
  const size_t samples = bytes.size() / static_cast<size_t>(std::max(format_->bytesPerSample(), 1));
  std::vector<std::int16_t> converted(samples);
  for (size_t index = 0; index < samples; ++index)
    converted[index] = static_cast<std::int16_t>(std::lround(
        std::clamp(sampleAt(bytes, format_->sampleFormat(), index), -1.0, 32767.0 / 32768.0) *
        32768.0));
  writer_->append(converted);
  setLevel(inputLevel(bytes, *format_));
}

void VoiceSampleRecorder::tick() {
  if (!isRecording_) return;
  ++ticks_;
  emit elapsedSecChanged();
  if (ticks_ >= longestTicks_) stop();
}

void VoiceSampleRecorder::stop() {
  if (!isRecording_) return;
  timer_.stop();
  readSound();  // what the input still holds
  if (source_) source_->stop();
  source_.reset();
  input_ = nullptr;
  try {
    if (writer_) writer_->finish();
  } catch (const std::exception& error) {
    logLine(std::string("The recording could not be saved: ") + error.what());
  }
  writer_.reset();
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
