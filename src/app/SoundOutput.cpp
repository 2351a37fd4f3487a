#include "app/SoundOutput.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>
#include <span>

#include "media/Player.h"
#include "platform/Log.h"

namespace brisklet {
namespace {

// Small enough that a seek is heard at once, large enough for a busy 2-core machine.
constexpr int kDeviceBufferMs = 100;

// What the device reads: the player's sound, asked for as the device needs it.
class PlayerSoundDevice : public QIODevice {
 public:
  PlayerSoundDevice(Player& player, const QAudioSink& sink) : player_(player), sink_(sink) {}

 protected:
  qint64 readData(char* data, qint64 maxSize) override {
    const qint64 frameBytes = Player::kChannels * static_cast<qint64>(sizeof(float));
    const qint64 bytes = maxSize / frameBytes * frameBytes;
    const double bytesPerSecond = static_cast<double>(frameBytes) * Player::kSampleRate;
    const double bufferedSec = static_cast<double>(sink_.bufferSize() - sink_.bytesFree()) / bytesPerSecond;
    player_.pullSound(std::span<float>(reinterpret_cast<float*>(data), static_cast<std::size_t>(bytes) / sizeof(float)),
                      std::max(0.0, bufferedSec));
    return bytes;
  }
  qint64 writeData(const char*, qint64) override { return -1; }
  bool isSequential() const override { return true; }
  qint64 bytesAvailable() const override { return 1 << 20; }

 private:
  Player& player_;
  const QAudioSink& sink_;
};

}  // namespace

// Lives on the output thread with the sink it drives.
class SoundOutput::Pump : public QObject {
 public:
  Pump(Player& player, const QAudioDevice& device, const QAudioFormat& format,
       std::atomic<int>& deviceUnderruns)
      : player_(player), device_(device), format_(format), deviceUnderruns_(deviceUnderruns) {}

  void start() {
    sink_ = new QAudioSink(device_, format_, this);
    sink_->setBufferSize(format_.bytesForDuration(kDeviceBufferMs * 1000));
    source_ = new PlayerSoundDevice(player_, *sink_);
    source_->setParent(this);
    source_->open(QIODevice::ReadOnly);
    QObject::connect(sink_, &QAudioSink::stateChanged, this, [this](QAudio::State state) {
      if (state == QAudio::IdleState && sink_->error() == QAudio::UnderrunError) ++deviceUnderruns_;
    });
    sink_->start(source_);
  }

  void stop() {
    if (sink_) sink_->stop();
  }

 private:
  Player& player_;
  QAudioDevice device_;
  QAudioFormat format_;
  std::atomic<int>& deviceUnderruns_;
  QAudioSink* sink_ = nullptr;
  PlayerSoundDevice* source_ = nullptr;
};

std::unique_ptr<SoundOutput> SoundOutput::open(Player& player) {
  const QAudioDevice device = QMediaDevices::defaultAudioOutput();
  if (device.isNull()) return nullptr;
  QAudioFormat format;
  format.setSampleRate(Player::kSampleRate);
  format.setChannelCount(Player::kChannels);
  format.setSampleFormat(QAudioFormat::Float);
  if (!device.isFormatSupported(format)) {
    logLine("The sound device cannot play 48 kHz stereo; the preview plays without sound.");
    return nullptr;
  }
  std::unique_ptr<SoundOutput> output(new SoundOutput);
  output->thread_.setObjectName("Sound output");
  output->thread_.start(QThread::TimeCriticalPriority);
  output->pump_ = new Pump(player, device, format, output->deviceUnderruns_);
  output->pump_->moveToThread(&output->thread_);
  QObject::connect(&output->thread_, &QThread::finished, output->pump_, &QObject::deleteLater);
  QMetaObject::invokeMethod(output->pump_, [pump = output->pump_] { pump->start(); },
                            Qt::BlockingQueuedConnection);
  player.useSoundDevice();
  return output;
}

SoundOutput::~SoundOutput() {
  QMetaObject::invokeMethod(pump_, [pump = pump_] { pump->stop(); }, Qt::BlockingQueuedConnection);
  thread_.quit();
  thread_.wait();
}

}  // namespace brisklet
