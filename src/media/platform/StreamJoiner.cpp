#include "media/platform/StreamJoiner.h"

#include <cstring>
#include <limits>

#include "media/platform/FormatReader.h"

namespace brisklet {
namespace {

bool sameBytes(const uint8_t* a, size_t aSize, const uint8_t* b, size_t bSize) {
  return aSize == bSize && (aSize == 0 || std::memcmp(a, b, aSize) == 0);
}

bool sameExtraData(const AVCodecParameters& a, const AVCodecParameters& b) {
  return sameBytes(a.extradata, static_cast<size_t>(a.extradata_size), b.extradata,
                   static_cast<size_t>(b.extradata_size));
}

bool sameDisplayMatrix(const AVStream& a, const AVStream& b) {
  size_t aSize = 0;
  size_t bSize = 0;
  const uint8_t* aMatrix = av_stream_get_side_data(&a, AV_PKT_DATA_DISPLAYMATRIX, &aSize);
  const uint8_t* bMatrix = av_stream_get_side_data(&b, AV_PKT_DATA_DISPLAYMATRIX, &bSize);
  return sameBytes(aMatrix, aMatrix ? aSize : 0, bMatrix, bMatrix ? bSize : 0);
}

// Same encoder settings: the decoder set up for one stream decodes the other, and the picture
// shows the same way.
bool samePicture(const AVStream& a, const AVStream& b) {
  const AVCodecParameters& x = *a.codecpar;
  const AVCodecParameters& y = *b.codecpar;
  return x.codec_id == y.codec_id && x.format == y.format && x.width == y.width &&
         x.height == y.height && av_cmp_q(x.sample_aspect_ratio, y.sample_aspect_ratio) == 0 &&
         x.field_order == y.field_order && x.color_range == y.color_range &&
         x.color_primaries == y.color_primaries && x.color_trc == y.color_trc &&
         x.color_space == y.color_space && x.extradata_size > 0 && sameExtraData(x, y) &&
         sameDisplayMatrix(a, b);
}

bool sameSound(const AVStream& a, const AVStream& b) {
  const AVCodecParameters& x = *a.codecpar;
  const AVCodecParameters& y = *b.codecpar;
  return x.codec_id == y.codec_id && x.format == y.format && x.sample_rate == y.sample_rate &&
         av_channel_layout_compare(&x.ch_layout, &y.ch_layout) == 0 && sameExtraData(x, y);
}

// MP4 and QuickTime keep parameter sets out of the packets, so packets move between such files
// unchanged.
bool isIsoMovie(const AVFormatContext& format) {
  return std::strstr(format.iformat->name, "mp4") != nullptr;
}

int firstAudioStream(const Asset& clip) {
  return clip.audioTracks().empty() ? -1 : clip.audioTracks().front().streamIndex;
}

AVStream* copyStream(AVFormatContext& output, const AVStream& source) {
  AVStream* stream = avformat_new_stream(&output, nullptr);
  if (stream == nullptr || avcodec_parameters_copy(stream->codecpar, source.codecpar) < 0)
    return nullptr;
  // The muxer picks its own tag, except for HEVC, where the source's says whether parameter sets
  // live in the header (hvc1) or in the packets (hev1).
  if (source.codecpar->codec_id != AV_CODEC_ID_HEVC) stream->codecpar->codec_tag = 0;
  stream->time_base = source.time_base;
  size_t size = 0;
  if (const uint8_t* matrix = av_stream_get_side_data(&source, AV_PKT_DATA_DISPLAYMATRIX, &size)) {
    uint8_t* copy = av_stream_new_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, size);
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, matrix, size);
  }
  return stream;
}

}  // namespace

bool canJoinWithoutReencoding(const std::vector<Asset>& clips) {
  if (clips.empty()) return false;
  const ffmpeg::FormatContext first = ffmpeg::openFormat(clips.front().file());
  const int firstAudio = firstAudioStream(clips.front());
  if (!isIsoMovie(*first)) return false;
  for (const Asset& clip : clips) {
    if (clip.videoTracks().empty()) return false;
    const ffmpeg::FormatContext format = ffmpeg::openFormat(clip.file());
    const int audio = firstAudioStream(clip);
    if (!isIsoMovie(*format) || (audio < 0) != (firstAudio < 0)) return false;
    if (!samePicture(*first->streams[clips.front().firstVideoTrack().streamIndex],
                     *format->streams[clip.firstVideoTrack().streamIndex]))
      return false;
    if (audio >= 0 && !sameSound(*first->streams[firstAudio], *format->streams[audio]))
      return false;
  }
  return true;
}

void joinWithoutReencoding(const std::vector<Asset>& clips, const OutputFile& output,
                           const std::function<void(double)>& progress) {
  const auto fail = [&output](int code) {
    throw writeError(output.destination(), describeAVError(code));
  };
  AVFormatContext* raw = nullptr;
  int result = avformat_alloc_output_context2(
      &raw, av_guess_format(nullptr, output.destination().c_str(), nullptr), nullptr,
      output.temporary().c_str());
  if (result < 0 || raw == nullptr) fail(result);
  ffmpeg::OutputContext movie(raw);

  const ffmpeg::FormatContext first = ffmpeg::openFormat(clips.front().file());
  const bool withSound = firstAudioStream(clips.front()) >= 0;
  const AVStream* picture = copyStream(*movie, *first->streams[clips.front().firstVideoTrack().streamIndex]);
  const AVStream* sound =
      withSound ? copyStream(*movie, *first->streams[firstAudioStream(clips.front())]) : nullptr;
  if (picture == nullptr || (withSound && sound == nullptr)) fail(AVERROR(ENOMEM));
  result = avio_open(&movie->pb, output.temporary().c_str(), AVIO_FLAG_WRITE);
  if (result < 0) fail(result);
  result = avformat_write_header(movie.get(), nullptr);
  if (result < 0) fail(result);

  double totalSec = 0;
  for (const Asset& clip : clips) totalSec += clip.durationSec();
  ffmpeg::Packet packet(av_packet_alloc());
  if (!packet) fail(AVERROR(ENOMEM));
  std::int64_t lastDecodeTime[2] = {std::numeric_limits<std::int64_t>::min(),
                                    std::numeric_limits<std::int64_t>::min()};
  // Where the clip being copied starts in the movie, in microseconds.
  std::int64_t clipStart = 0;
  for (const Asset& clip : clips) {
    const ffmpeg::FormatContext format = ffmpeg::openFormat(clip.file());
    const int sources[2] = {clip.firstVideoTrack().streamIndex, firstAudioStream(clip)};
    const auto origin = static_cast<std::int64_t>(clip.presentationStartSec() * AV_TIME_BASE);
    std::int64_t clipEnd = 0;
    while (av_read_frame(format.get(), packet.get()) >= 0) {
      const int target = packet->stream_index == sources[0]   ? 0
                         : packet->stream_index == sources[1] ? 1
                                                               : -1;
      if (target < 0 || target >= static_cast<int>(movie->nb_streams)) {
        av_packet_unref(packet.get());
        continue;
      }
      const AVRational from = format->streams[packet->stream_index]->time_base;
      const AVRational to = movie->streams[target]->time_base;
      if (packet->pts == AV_NOPTS_VALUE || packet->dts == AV_NOPTS_VALUE)
        throw StreamJoinRefused("A packet of " + clip.quotedName() + " has no time.");
      const std::int64_t endInClip =
          av_rescale_q(packet->pts + packet->duration, from, AV_TIME_BASE_Q) - origin;
      // Encoder priming (AAC's first 1024 samples) lies before the presentation start; after
      // the first clip it would overlap the end of the clip before.
      if (endInClip <= 0 && &clip != &clips.front()) {
        av_packet_unref(packet.get());
        continue;
      }
      clipEnd = std::max(clipEnd, endInClip);
      const std::int64_t shift = av_rescale_q(clipStart - origin, AV_TIME_BASE_Q, to);
      av_packet_rescale_ts(packet.get(), from, to);
      packet->pts += shift;
      packet->dts += shift;
      packet->stream_index = target;
      packet->pos = -1;
      if (packet->dts <= lastDecodeTime[target])
        throw StreamJoinRefused("The streams of " + clip.quotedName() +
                                " do not follow the previous clip's.");
      lastDecodeTime[target] = packet->dts;
      result = av_interleaved_write_frame(movie.get(), packet.get());
      if (result < 0) fail(result);
      if (totalSec > 0) progress(std::min(1.0, (clipStart + endInClip) / 1e6 / totalSec));
    }
    clipStart += clipEnd;
  }
  result = av_write_trailer(movie.get());
  if (result < 0) fail(result);
  result = avio_closep(&movie->pb);
  if (result < 0) fail(result);
}

}  // namespace brisklet
