#include "media/platform/PcmReader.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "media/platform/FormatReader.h"
#include "media/platform/MediaError.h"
#include "media/platform/MediaTime.h"

namespace brisklet {
namespace {

// Packets a little before a seek target are decoded too, so the target's own samples come out
// of a decoder that has settled.
constexpr double kSeekLeadSec = 0.2;
constexpr std::size_t kPushBlockFrames = 4096;

}  // namespace

class PcmReader::Decoder {
 public:
  Decoder(const Asset& asset, const PcmFormat& format, double startSec)
      : asset_(asset),
        output_(format),
        streamIndex_(firstAudioStream(asset)),
        decoder_(asset.file(), streamIndex_),
        frame_(av_frame_alloc()),
        nextSample_(static_cast<std::int64_t>(std::llround(std::max(0.0, startSec) *
                                                           format.sampleRate))) {
    if (!frame_) throw MediaError("Out of memory while reading " + asset_.quotedName() + ".");
    if (nextSample_ > 0) seek(startSec);
  }

  std::size_t pull(std::span<std::uint8_t> destination) {
    const std::size_t wanted = destination.size() / frameBytes() * frameBytes();
    while (pending_.size() - pendingOffset_ < wanted && decodeMore()) {
    }
    const std::size_t given = std::min(wanted, pending_.size() - pendingOffset_);
    if (given > 0) std::memcpy(destination.data(), pending_.data() + pendingOffset_, given);
    pendingOffset_ += given;
    // What was handed out goes, so the buffer holds little more than one request.
    if (pendingOffset_ * 2 >= pending_.size()) {
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pendingOffset_));
      pendingOffset_ = 0;
    }
    return given;
  }

  std::size_t frameBytes() const {
    return static_cast<std::size_t>(output_.channels) * output_.bytesPerSample();
  }

 private:
  static int firstAudioStream(const Asset& asset) {
    if (asset.audioTracks().empty())
      throw MediaError("The file " + asset.quotedName() + " has no sound.");
    return asset.audioTracks().front().streamIndex;
  }

  AVSampleFormat outputSampleFormat() const {
    return output_.sampleFormat == PcmSampleFormat::int16 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_FLT;
  }

  void seek(double startSec) {
    const std::int64_t target =
        toStreamTimestamp(MediaTime::fromSeconds(std::max(0.0, startSec - kSeekLeadSec)),
                          decoder_.stream().time_base, asset_.presentationStartSec());
    if (av_seek_frame(&decoder_.format(), streamIndex_, target, AVSEEK_FLAG_BACKWARD) >= 0)
      avcodec_flush_buffers(&decoder_.codec());
  }

  // Decodes and converts one more frame into pending_; false at the end of the sound.
  bool decodeMore() {
    for (;;) {
      if (finished_) return false;
      const int received = decoder_.receiveFrame(*frame_);
      if (received == 0) {
        append(frame_.get());
        return true;
      }
      if (received == AVERROR_EOF || (draining_ && received == AVERROR(EAGAIN))) {
        if (resampler_) append(nullptr);  // what the resampler still holds
        finished_ = true;
        return true;
      }
      // EAGAIN, or a broken frame the decoder skips: either way, give it the next packet.
      if (!draining_) draining_ = !decoder_.feedPacket();
    }
  }

  void ensureResampler(const AVFrame& frame) {
    if (resampler_) return;
    AVChannelLayout input{};
    if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame.ch_layout.nb_channels <= 0)
      av_channel_layout_default(&input, std::max(1, frame.ch_layout.nb_channels));
    else
      av_channel_layout_copy(&input, &frame.ch_layout);
    AVChannelLayout output{};
    av_channel_layout_default(&output, output_.channels);
    SwrContext* raw = nullptr;
    const int result = swr_alloc_set_opts2(&raw, &output, outputSampleFormat(), output_.sampleRate,
                                           &input, static_cast<AVSampleFormat>(frame.format),
                                           frame.sample_rate, 0, nullptr);
    const bool mono = input.nb_channels == 1;
    av_channel_layout_uninit(&input);
    av_channel_layout_uninit(&output);
    resampler_.reset(raw);
    // A single channel goes to every output channel at its own level, as in every editor; left
    // alone, the resampler would take it for a centre speaker and lower it by 3 dB.
    if (result >= 0 && mono) {
      const std::vector<double> everywhere(static_cast<std::size_t>(output_.channels), 1.0);
      if (swr_set_matrix(resampler_.get(), everywhere.data(), 1) < 0)
        throw MediaError("The sound of " + asset_.quotedName() + " cannot be converted.");
    }
    if (result < 0 || swr_init(resampler_.get()) < 0)
      throw MediaError("The sound of " + asset_.quotedName() + " cannot be converted.");
  }

  // Where the first decoded sound lies: silence fills the time up to it, and sound before the
  // requested start (a seek lands early) is dropped.
  void placeFirstFrame(const AVFrame& frame) {
    positioned_ = true;
    const std::int64_t timestamp = ffmpeg::presentationTimestamp(frame);
    if (timestamp == AV_NOPTS_VALUE) return;
    const double timeSec = streamTimestampToSeconds(timestamp, decoder_.stream().time_base,
                                                    asset_.presentationStartSec());
    const auto firstSample = static_cast<std::int64_t>(std::llround(timeSec * output_.sampleRate));
    if (firstSample > nextSample_) {
      pending_.resize(pending_.size() +
                          static_cast<std::size_t>(firstSample - nextSample_) * frameBytes(),
                      0);
    } else {
      dropSamples_ = nextSample_ - firstSample;
    }
  }

  // Converts one decoded frame (or, with null, flushes the resampler) into pending_.
  void append(const AVFrame* frame) {
    if (frame != nullptr) {
      ensureResampler(*frame);
      if (!positioned_) placeFirstFrame(*frame);
    }
    const int inputSamples = frame != nullptr ? frame->nb_samples : 0;
    const int capacity = swr_get_out_samples(resampler_.get(), inputSamples);
    if (capacity <= 0) return;
    const std::size_t before = pending_.size();
    pending_.resize(before + static_cast<std::size_t>(capacity) * frameBytes());
    uint8_t* destination = pending_.data() + before;
    const int converted =
        swr_convert(resampler_.get(), &destination, capacity,
                    frame != nullptr ? const_cast<const uint8_t**>(frame->extended_data) : nullptr,
                    inputSamples);
    std::size_t kept = static_cast<std::size_t>(std::max(converted, 0));
    const auto dropped = static_cast<std::size_t>(std::min<std::int64_t>(dropSamples_, kept));
    if (dropped > 0) {
      std::memmove(destination, destination + dropped * frameBytes(), (kept - dropped) * frameBytes());
      dropSamples_ -= static_cast<std::int64_t>(dropped);
      kept -= dropped;
    }
    pending_.resize(before + kept * frameBytes());
  }

  const Asset asset_;
  const PcmFormat output_;
  const int streamIndex_;
  ffmpeg::StreamDecoder decoder_;
  ffmpeg::Frame frame_;
  ffmpeg::ResampleContext resampler_;
  std::vector<std::uint8_t> pending_;
  std::size_t pendingOffset_ = 0;
  // The source position, in output samples, of the next sample handed out.
  std::int64_t nextSample_;
  std::int64_t dropSamples_ = 0;
  bool positioned_ = false;
  bool draining_ = false;
  bool finished_ = false;
};

PcmReader::PcmReader(const Asset& asset, const PcmFormat& format, double startSec)
    : decoder_(std::make_unique<Decoder>(asset, format, startSec)) {}
PcmReader::PcmReader(PcmReader&&) noexcept = default;
PcmReader& PcmReader::operator=(PcmReader&&) noexcept = default;
PcmReader::~PcmReader() = default;

std::size_t PcmReader::pull(std::span<std::uint8_t> destination) {
  return decoder_->pull(destination);
}

std::optional<Asset> openSoundFile(const std::filesystem::path& file) {
  std::optional<Asset> asset;
  bool decodes = false;
  try {
    asset.emplace(Asset::open(file));
    if (asset->audioTracks().empty()) return std::nullopt;
    std::array<std::uint8_t, 64> firstSamples{};
    decodes = PcmReader(*asset, PcmFormat{}).pull(firstSamples) > 0;
  } catch (const MediaError& failure) {
    if (failure.reason().empty()) throw;  // its sentence already names the file
    throw readError(file, failure.reason());
  }
  if (!decodes) throw readError(file, "none of its sound can be decoded");
  return asset;
}

void PcmReader::read(const std::function<void(std::span<const std::uint8_t>)>& consume,
                     std::stop_token stop) {
  std::vector<std::uint8_t> block(kPushBlockFrames * decoder_->frameBytes());
  while (!stop.stop_requested()) {
    const std::size_t given = decoder_->pull(block);
    if (given == 0) return;
    consume(std::span<const std::uint8_t>(block.data(), given));
  }
}

}  // namespace brisklet
