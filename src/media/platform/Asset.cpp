#include "media/platform/Asset.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string_view>

#include "media/platform/FormatReader.h"
#include "media/platform/MediaError.h"
#include "media/platform/MediaTime.h"
#include "platform/FileNames.h"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/intreadwrite.h>
}

namespace brisklet {
namespace {

int rotationOf(const AVStream& stream) {
  const auto* matrix = reinterpret_cast<const int32_t*>(
      av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr));
  if (matrix == nullptr) return 0;
  const double counterclockwise = av_display_rotation_get(matrix);
  if (std::isnan(counterclockwise)) return 0;
  // The display matrix turns counterclockwise; showing the picture upright turns it back.
  const int clockwise = static_cast<int>(std::lround(-counterclockwise / 90.0)) * 90;
  return ((clockwise % 360) + 360) % 360;
}

double framesPerSecondOf(const AVStream& stream) {
  for (const AVRational rate : {stream.avg_frame_rate, stream.r_frame_rate})
    if (rate.num > 0 && rate.den > 0) return av_q2d(rate);
  return 0;
}

VideoTrack videoTrackOf(const AVStream& stream, double presentationStartSec) {
  const AVCodecParameters& parameters = *stream.codecpar;
  VideoTrack track;
  track.streamIndex = stream.index;
  track.codec = avcodec_get_name(parameters.codec_id);
  track.encodedWidth = parameters.width;
  track.encodedHeight = parameters.height;
  AVRational pixelAspect = stream.sample_aspect_ratio.num > 0 ? stream.sample_aspect_ratio
                                                              : parameters.sample_aspect_ratio;
  if (pixelAspect.num <= 0 || pixelAspect.den <= 0) pixelAspect = AVRational{1, 1};
  track.naturalWidth = static_cast<int>(std::lround(parameters.width * av_q2d(pixelAspect)));
  track.naturalHeight = parameters.height;
  track.rotationDegrees = rotationOf(stream);
  track.framesPerSecond = framesPerSecondOf(stream);
  track.colourPrimaries = parameters.color_primaries;
  track.colourTransfer = parameters.color_trc;
  track.colourMatrix = parameters.color_space;
  if (stream.start_time != AV_NOPTS_VALUE)
    track.startSec =
        streamTimestampToSeconds(stream.start_time, stream.time_base, presentationStartSec);
  return track;
}

// Where the sound of a file of sound alone ends, in seconds of its own clock, read from its last
// packets; none when they do not say. An MP3's header counts whole frames, the encoder's priming
// and padding included, which decoders drop (the first packets' timestamps and the last
// packet's side data say how much), so the header promises a little more than plays.
std::optional<double> soundEndSec(AVFormatContext& format, const AVStream& stream,
                                  double headerEndSec) {
  constexpr double kTailSec = 1.0;
  const auto seekTo = static_cast<std::int64_t>(std::max(headerEndSec - kTailSec, 0.0) * AV_TIME_BASE);
  if (avformat_seek_file(&format, -1, INT64_MIN, seekTo, seekTo, 0) < 0) return std::nullopt;
  const ffmpeg::Packet packet(av_packet_alloc());
  if (!packet) return std::nullopt;
  std::optional<std::int64_t> end;
  while (av_read_frame(&format, packet.get()) >= 0) {
    if (packet->stream_index == stream.index && packet->pts != AV_NOPTS_VALUE && packet->duration > 0) {
      std::int64_t packetEnd = packet->pts + packet->duration;
      std::size_t size = 0;
      if (const uint8_t* skip = av_packet_get_side_data(packet.get(), AV_PKT_DATA_SKIP_SAMPLES, &size);
          skip != nullptr && size >= 8 && stream.codecpar->sample_rate > 0)
        packetEnd -= av_rescale_q(AV_RL32(skip + 4), AVRational{1, stream.codecpar->sample_rate},
                                  stream.time_base);
      end = std::max(end.value_or(packetEnd), packetEnd);
    }
    av_packet_unref(packet.get());
  }
  if (!end) return std::nullopt;
  return static_cast<double>(*end) * av_q2d(stream.time_base);
}

}  // namespace

Asset Asset::open(const std::filesystem::path& file) {
  const ffmpeg::FormatContext format = ffmpeg::openFormat(file);
  Asset asset;
  asset.file_ = file;
  if (format->start_time != AV_NOPTS_VALUE)
    asset.presentationStartSec_ = static_cast<double>(format->start_time) / AV_TIME_BASE;
  for (unsigned index = 0; index < format->nb_streams; ++index) {
    const AVStream& stream = *format->streams[index];
    const AVCodecParameters& parameters = *stream.codecpar;
    if (parameters.codec_type == AVMEDIA_TYPE_VIDEO && parameters.width > 0 &&
        parameters.height > 0 && !(stream.disposition & AV_DISPOSITION_ATTACHED_PIC)) {
      asset.videoTracks_.push_back(videoTrackOf(stream, asset.presentationStartSec_));
    } else if (parameters.codec_type == AVMEDIA_TYPE_AUDIO && parameters.sample_rate > 0) {
      asset.audioTracks_.push_back(
          AudioTrack{static_cast<int>(index), avcodec_get_name(parameters.codec_id),
                     parameters.sample_rate, parameters.ch_layout.nb_channels});
    }
  }
  if (format->duration != AV_NOPTS_VALUE && format->duration > 0)
    asset.durationSec_ = static_cast<double>(format->duration) / AV_TIME_BASE;
  if (asset.videoTracks_.empty() && !asset.audioTracks_.empty() && asset.durationSec_ > 0) {
    const AVStream& sound = *format->streams[asset.audioTracks_.front().streamIndex];
    const double headerEndSec = asset.presentationStartSec_ + asset.durationSec_;
    if (const std::optional<double> end = soundEndSec(*format, sound, headerEndSec);
        end && *end > asset.presentationStartSec_ && *end < headerEndSec)
      asset.durationSec_ = *end - asset.presentationStartSec_;
  }
  // The camera writes when it recorded into the container, or into its video stream.
  const AVDictionaryEntry* recorded = av_dict_get(format->metadata, "creation_time", nullptr, 0);
  if (recorded == nullptr && !asset.videoTracks_.empty())
    recorded = av_dict_get(format->streams[asset.videoTracks_.front().streamIndex]->metadata,
                           "creation_time", nullptr, 0);
  if (recorded != nullptr && recorded->value != nullptr) asset.creationTimeText_ = recorded->value;
  // Image demuxers ("image2", "png_pipe", "jpeg_pipe", …) are how FFmpeg opens photos.
  const std::string_view demuxer = format->iformat->name;
  asset.stillPicture_ = demuxer == "image2" || demuxer.ends_with("_pipe");
  if (asset.videoTracks_.empty() && asset.audioTracks_.empty())
    throw MediaError("The file " + asset.quotedName() + " holds neither video nor sound.");
  return asset;
}

const VideoTrack& Asset::firstVideoTrack() const {
  if (videoTracks_.empty()) throw MediaError("The file " + quotedName() + " has no video track.");
  return videoTracks_.front();
}

std::string Asset::quotedName() const { return quotedFileName(file_); }

std::optional<std::pair<double, double>> longestPictureGap(const Asset& asset) {
  const ffmpeg::FormatContext format = ffmpeg::openFormat(asset.file());
  AVStream& stream = *format->streams[asset.firstVideoTrack().streamIndex];
  const int entries = avformat_index_get_entries_count(&stream);
  std::optional<std::pair<std::int64_t, std::int64_t>> longest;
  for (int index = 1; index < entries; ++index) {
    const std::int64_t before = avformat_index_get_entry(&stream, index - 1)->timestamp;
    const std::int64_t after = avformat_index_get_entry(&stream, index)->timestamp;
    if (!longest || after - before > longest->second - longest->first) longest.emplace(before, after);
  }
  if (!longest) return std::nullopt;
  return std::pair{
      streamTimestampToSeconds(longest->first, stream.time_base, asset.presentationStartSec()),
      streamTimestampToSeconds(longest->second, stream.time_base, asset.presentationStartSec())};
}

}  // namespace brisklet
