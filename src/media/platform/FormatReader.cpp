#include "media/platform/FormatReader.h"

#include "media/platform/MediaError.h"

#include <mutex>

namespace brisklet::ffmpeg {
namespace {

std::string quoted(const std::filesystem::path& file) {
  return "\u201C" + file.filename().string() + "\u201D";
}

}  // namespace

FormatContext openFormat(const std::filesystem::path& file) {
  // FFmpeg's own chatter about damaged streams would fill the user's terminal; what matters
  // reaches them as our errors.
  static std::once_flag quieted;
  std::call_once(quieted, [] { av_log_set_level(AV_LOG_FATAL); });
  AVFormatContext* raw = nullptr;
  int result = avformat_open_input(&raw, file.c_str(), nullptr, nullptr);
  if (result < 0)
    throw MediaError("The file " + quoted(file) + " could not be opened as a video: " +
                     describeAVError(result) + ".");
  FormatContext format(raw);
  result = avformat_find_stream_info(format.get(), nullptr);
  if (result < 0)
    throw MediaError("The file " + quoted(file) + " could not be read as a video: " +
                     describeAVError(result) + ".");
  return format;
}

CodecContext openDecoder(AVFormatContext& format, int streamIndex,
                         const std::filesystem::path& file) {
  const AVStream* stream = format.streams[streamIndex];
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (codec == nullptr)
    throw MediaError("The file " + quoted(file) + " uses " +
                     avcodec_get_name(stream->codecpar->codec_id) +
                     ", which Brisklet cannot decode.");
  CodecContext context(avcodec_alloc_context3(codec));
  if (!context) throw MediaError("Out of memory while opening " + quoted(file) + ".");
  int result = avcodec_parameters_to_context(context.get(), stream->codecpar);
  if (result >= 0) {
    context->thread_count = 0;  // as many as FFmpeg sees fit
    context->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    context->pkt_timebase = stream->time_base;
    result = avcodec_open2(context.get(), codec, nullptr);
  }
  if (result < 0)
    throw MediaError("The file " + quoted(file) + " could not be decoded: " +
                     describeAVError(result) + ".");
  return context;
}

}  // namespace brisklet::ffmpeg
