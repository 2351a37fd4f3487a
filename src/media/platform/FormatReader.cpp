#include "media/platform/FormatReader.h"

#include <algorithm>
#include <mutex>

#include "media/platform/MediaError.h"
#include "platform/AtomicFile.h"
#include "platform/FileNames.h"

namespace brisklet::ffmpeg {

FormatContext openFormat(const std::filesystem::path& file) {
  // FFmpeg's own chatter about damaged streams would fill the user's terminal; what matters
  // reaches them as our errors.
  static std::once_flag quieted;
  std::call_once(quieted, [] { av_log_set_level(AV_LOG_FATAL); });
  // A pipe or device would hold the open (or the first read) until something writes to it.
  try {
    requireRegularFile(file);
  } catch (const FileError& error) {
    throw MediaError("The file " + quotedFileName(file) +
                         " could not be opened as a video: " + error.reason() + ".",
                     error.reason());
  }
  AVFormatContext* raw = nullptr;
  int result = avformat_open_input(&raw, file.c_str(), nullptr, nullptr);
  if (result < 0)
    throw MediaError("The file " + quotedFileName(file) +
                         " could not be opened as a video: " + describeAVError(result) + ".",
                     describeAVError(result));
  FormatContext format(raw);
  result = avformat_find_stream_info(format.get(), nullptr);
  if (result < 0)
    throw MediaError("The file " + quotedFileName(file) +
                         " could not be read as a video: " + describeAVError(result) + ".",
                     describeAVError(result));
  return format;
}

StreamDecoder::StreamDecoder(const std::filesystem::path& file, int streamIndex, int threads)
    : format_(openFormat(file)), streamIndex_(streamIndex), packet_(av_packet_alloc()) {
  if (!packet_) throw MediaError("Out of memory while opening " + quotedFileName(file) + ".");
  for (unsigned index = 0; index < format_->nb_streams; ++index)
    if (static_cast<int>(index) != streamIndex_) format_->streams[index]->discard = AVDISCARD_ALL;

  const AVStream* stream = format_->streams[streamIndex];
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (codec == nullptr)
    throw MediaError("The file " + quotedFileName(file) + " uses " +
                     avcodec_get_name(stream->codecpar->codec_id) +
                     ", which Brisklet cannot decode.");
  codec_.reset(avcodec_alloc_context3(codec));
  if (!codec_) throw MediaError("Out of memory while opening " + quotedFileName(file) + ".");
  int result = avcodec_parameters_to_context(codec_.get(), stream->codecpar);
  if (result >= 0) {
    codec_->thread_count = std::max(threads, 0);
    codec_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    codec_->pkt_timebase = stream->time_base;
    result = avcodec_open2(codec_.get(), codec, nullptr);
  }
  if (result < 0)
    throw MediaError("The file " + quotedFileName(file) +
                     " could not be decoded: " + describeAVError(result) + ".");
}

int StreamDecoder::receiveFrame(AVFrame& frame) {
  const int received = avcodec_receive_frame(codec_.get(), &frame);
  if (received < 0 || codec_->codec_type != AVMEDIA_TYPE_VIDEO) return received;
  // Some files say what their pictures are only in the container.
  const AVCodecParameters& tags = *stream().codecpar;
  if (frame.color_trc == AVCOL_TRC_UNSPECIFIED && isHighDynamicRange(tags.color_trc)) {
    frame.color_trc = tags.color_trc;
    if (frame.color_primaries == AVCOL_PRI_UNSPECIFIED)
      frame.color_primaries = tags.color_primaries;
    if (frame.colorspace == AVCOL_SPC_UNSPECIFIED) frame.colorspace = tags.color_space;
  }
  toneMapper_.makeStandard(frame, stream().time_base);
  return received;
}

bool StreamDecoder::feedPacket(const PacketChooser& choose) {
  for (;;) {
    if (av_read_frame(format_.get(), packet_.get()) < 0) {
      avcodec_send_packet(codec_.get(), nullptr);
      return false;
    }
    if (packet_->stream_index != streamIndex_) {
      av_packet_unref(packet_.get());
      continue;
    }
    const PacketUse use = choose ? choose(*packet_) : PacketUse::decode;
    if (use == PacketUse::endHere) {
      av_packet_unref(packet_.get());
      avcodec_send_packet(codec_.get(), nullptr);
      return false;
    }
    if (choose)
      codec_->skip_frame =
          use == PacketUse::decodeIfReferenced ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
    avcodec_send_packet(codec_.get(), packet_.get());
    av_packet_unref(packet_.get());
    return true;
  }
}

}  // namespace brisklet::ffmpeg
