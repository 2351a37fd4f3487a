#include "media/platform/PcmReader.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "media/platform/FormatReader.h"
#include "media/platform/MediaError.h"
#include "media/platform/MediaTime.h"

namespace brisklet {

class PcmReader::Decoder {
 public:
  Decoder(const Asset& asset, const PcmFormat& format)
      : asset_(asset),
        output_(format),
        streamIndex_(firstAudioStream(asset)),
        decoder_(asset.file(), streamIndex_),
        frame_(av_frame_alloc()) {
    if (!frame_) throw MediaError("Out of memory while reading " + asset_.quotedName() + ".");
  }

  void read(const std::function<void(std::span<const std::uint8_t>)>& consume,
            const std::stop_token& stop) {
    emitLeadingSilence(consume);
    bool draining = false;
    while (!stop.stop_requested()) {
      const int received = avcodec_receive_frame(&decoder_.codec(), frame_.get());
      if (received == 0) {
        convert(frame_.get(), consume);
        continue;
      }
      if (received == AVERROR_EOF || draining) break;
      // EAGAIN, or a broken frame the decoder skips: either way, give it the next packet.
      draining = !decoder_.feedPacket();
    }
    if (resampler_ && !stop.stop_requested()) convert(nullptr, consume);  // what swr still holds
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

  // Silence for the time between the presentation start and this stream's first sound.
  void emitLeadingSilence(const std::function<void(std::span<const std::uint8_t>)>& consume) {
    if (decoder_.stream().start_time == AV_NOPTS_VALUE) return;
    const double leadSec = streamTimestampToSeconds(
        decoder_.stream().start_time, decoder_.stream().time_base, asset_.presentationStartSec());
    const auto frames =
        static_cast<size_t>(std::max(0.0, std::round(leadSec * output_.sampleRate)));
    if (frames == 0) return;
    const std::vector<std::uint8_t> silence(frames * output_.channels * output_.bytesPerSample(),
                                            0);
    consume(silence);
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
    av_channel_layout_uninit(&input);
    av_channel_layout_uninit(&output);
    resampler_.reset(raw);
    if (result < 0 || swr_init(resampler_.get()) < 0)
      throw MediaError("The sound of " + asset_.quotedName() + " cannot be converted.");
  }

  // Converts one decoded frame (or, with null, flushes the resampler) and hands it on.
  void convert(const AVFrame* frame,
               const std::function<void(std::span<const std::uint8_t>)>& consume) {
    if (frame != nullptr) ensureResampler(*frame);
    const int inputSamples = frame != nullptr ? frame->nb_samples : 0;
    const int capacity = swr_get_out_samples(resampler_.get(), inputSamples);
    if (capacity <= 0) return;
    buffer_.resize(static_cast<size_t>(capacity) * output_.channels * output_.bytesPerSample());
    uint8_t* destination = buffer_.data();
    const int converted =
        swr_convert(resampler_.get(), &destination, capacity,
                    frame != nullptr ? const_cast<const uint8_t**>(frame->extended_data) : nullptr,
                    inputSamples);
    if (converted <= 0) return;
    consume(std::span<const std::uint8_t>(
        buffer_.data(),
        static_cast<size_t>(converted) * output_.channels * output_.bytesPerSample()));
  }

  const Asset asset_;
  const PcmFormat output_;
  const int streamIndex_;
  ffmpeg::StreamDecoder decoder_;
  ffmpeg::Frame frame_;
  ffmpeg::ResampleContext resampler_;
  std::vector<std::uint8_t> buffer_;
};

PcmReader::PcmReader(const Asset& asset, const PcmFormat& format)
    : decoder_(std::make_unique<Decoder>(asset, format)) {}
PcmReader::PcmReader(PcmReader&&) noexcept = default;
PcmReader& PcmReader::operator=(PcmReader&&) noexcept = default;
PcmReader::~PcmReader() = default;

void PcmReader::read(const std::function<void(std::span<const std::uint8_t>)>& consume,
                     std::stop_token stop) {
  decoder_->read(consume, stop);
}

}  // namespace brisklet
