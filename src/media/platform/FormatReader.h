#pragma once

#include <filesystem>
#include <functional>

#include "media/platform/FFmpegHandles.h"
#include "media/platform/ToneMapper.h"

namespace brisklet::ffmpeg {

// Opens `file` for demuxing and reads its stream parameters. Throws MediaError with a sentence
// naming the file.
FormatContext openFormat(const std::filesystem::path& file);

// When a decoded frame is shown, in its stream's time base: the decoder's best guess, else the
// presentation timestamp; AV_NOPTS_VALUE when neither is known.
inline std::int64_t presentationTimestamp(const AVFrame& frame) {
  return frame.best_effort_timestamp != AV_NOPTS_VALUE ? frame.best_effort_timestamp : frame.pts;
}

// One stream of a file, demuxed on its own and decoded with FFmpeg's threads; the file's other
// streams are dropped early. Each reader owns one, so readers never share FFmpeg state.
class StreamDecoder {
 public:
  // Throws MediaError naming the file when it cannot be opened or the stream not decoded.
  // `threads`: how many threads the decoder uses; 0 lets FFmpeg choose.
  StreamDecoder(const std::filesystem::path& file, int streamIndex, int threads = 0);

  AVFormatContext& format() { return *format_; }
  AVStream& stream() { return *format_->streams[streamIndex_]; }
  AVCodecContext& codec() { return *codec_; }

  // What the decoder does with a packet, chosen from its timestamps before it goes in.
  enum class PacketUse {
    decode,
    decodeIfReferenced,  // left out unless a later frame refers to it
    endHere,  // not handed over: the decoder gives out what it holds and takes nothing more
              // until it is flushed
  };
  using PacketChooser = std::function<PacketUse(const AVPacket&)>;

  // Hands the decoder the stream's next packet (a damaged one is skipped), decoded as `choose`
  // says when given. At the end of the file, or when `choose` ends here, it tells the decoder to
  // give out what it still holds and returns false.
  bool feedPacket(const PacketChooser& choose = {});

  // The decoder's next frame into `frame`, answering as avcodec_receive_frame does. A
  // high-dynamic-range picture comes made standard (see ToneMapper). Throws MediaError when it
  // cannot be.
  int receiveFrame(AVFrame& frame);

 private:
  FormatContext format_;
  int streamIndex_;
  CodecContext codec_;
  Packet packet_;
  ToneMapper toneMapper_;
};

}  // namespace brisklet::ffmpeg
