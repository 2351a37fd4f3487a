#include "media/platform/MovieWriter.h"

#include "media/platform/TrackHeader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <stdexcept>

extern "C" {
#include <libavutil/avstring.h>
#include <libavutil/display.h>
#include <libavutil/opt.h>
}

#include "platform/FileNames.h"

namespace brisklet {

namespace {

constexpr std::int64_t kCaptionInterleaveMicroseconds = 1'000'000;
constexpr const char* kCaptionStyle =
    "[Script Info]\r\nScriptType: v4.00+\r\nPlayResX: 384\r\nPlayResY: 288\r\n\r\n"
    "[V4+ Styles]\r\nFormat: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, "
    "OutlineColour, BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, "
    "Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\r\n"
    "Style: Default,Sans,16,&Hffffff,&Hffffff,&H0,&H0,0,0,0,0,100,100,0,0,1,1,0,2,10,10,10,0"
    "\r\n\r\n[Events]\r\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, "
    "Effect, Text\r\n";

}  // namespace

class MovieWriter::Muxer {
 public:
  Muxer(const OutputFile& output, const std::optional<VideoEncoding>& video,
        const std::optional<AudioEncoding>& audio, bool indexAtFront, bool withCaptions)
      : file_(output.destination()),
        temporary_(output.temporary()),
        packet_(av_packet_alloc()),
        frame_(av_frame_alloc()) {
    if (!packet_ || !frame_) fail("out of memory");
    AVFormatContext* raw = nullptr;
    // The container goes by the destination's name; the muxer works on the temporary (its
    // index-at-front pass opens the file again by that name).
    int result = avformat_alloc_output_context2(
        &raw, av_guess_format(nullptr, file_.c_str(), nullptr), nullptr, output.temporary().c_str());
    if (result < 0 || raw == nullptr) fail(describeAVError(result));
    output_.reset(raw);
    // Sound is encoded a clip ahead of the picture; waiting for the picture keeps the file
    // interleaved, and the sound it holds back is small.
    output_->max_interleave_delta = 0;
    if (video) openVideo(*video);
    if (audio) openAudio(*audio);
    if (withCaptions) {
      openCaptions();
      // A text track is sparse: waiting for its next packet would hold the picture back until
      // the next line, so the wait is bounded.
      output_->max_interleave_delta = kCaptionInterleaveMicroseconds;
    }
    result = avio_open(&output_->pb, output.temporary().c_str(), AVIO_FLAG_WRITE);
    if (result < 0) fail(describeAVError(result));
    AVDictionary* options = nullptr;
    if (indexAtFront) av_dict_set(&options, "movflags", "+faststart", 0);
    result = avformat_write_header(output_.get(), &options);
    av_dict_free(&options);
    if (result < 0) fail(describeAVError(result));
  }

  const std::string& videoEncoderName() const { return videoEncoderName_; }

  void writeVideo(const AVFrame& frame, std::int64_t time, std::int64_t duration) {
    if (!video_.codec) throw std::logic_error("MovieWriter::writeVideo without a picture track");
    av_frame_unref(frame_.get());
    if (av_frame_ref(frame_.get(), &frame) < 0) fail("out of memory");
    frame_->pts = time;
    // Encoders do not carry a frame's duration to its packet: it is matched up by time.
    pictureDurations_[time] = duration;
    // Decoders mark their frames' types; an encoder would take those as forced keyframes.
    frame_->pict_type = AV_PICTURE_TYPE_NONE;
    encode(video_, frame_.get());
  }

  void writeAudio(std::span<const float> interleaved) {
    if (!audio_.codec) throw std::logic_error("MovieWriter::writeAudio without a sound track");
    const int channels = audio_.codec->ch_layout.nb_channels;
    for (size_t index = 0; index < interleaved.size(); ++index)
      pendingSound_[index % channels].push_back(interleaved[index]);
    while (static_cast<int>(pendingSound_[0].size()) >= audio_.codec->frame_size)
      encodePendingSound(audio_.codec->frame_size);
  }

  void writeCaption(double startSec, double endSec, const std::string& text) {
    if (!captions_.codec) throw std::logic_error("MovieWriter::writeCaption without a text track");
    // One ASS event (ReadOrder, Layer, Style, Name, MarginL, MarginR, MarginV, Effect, Text):
    // the form libavcodec's text encoders read. Braces would open style overrides.
    std::string line;
    for (const char letter : text) {
      if (letter == '\n') line += "\\N";
      else if (letter == '{') line += '(';
      else if (letter == '}') line += ')';
      else if (letter != '\r') line += letter;
    }
    std::string event = "0,0,Default,,0,0,0,," + line;
    AVSubtitleRect rect{};
    rect.type = SUBTITLE_ASS;
    rect.ass = event.data();
    AVSubtitleRect* rects[] = {&rect};
    AVSubtitle subtitle{};
    subtitle.num_rects = 1;
    subtitle.rects = rects;
    subtitle.start_display_time = 0;
    subtitle.end_display_time =
        static_cast<std::uint32_t>(std::max<long long>(std::llround((endSec - startSec) * 1000), 1));
    subtitle.pts = std::llround(startSec * AV_TIME_BASE);
    std::vector<std::uint8_t> buffer(event.size() * 4 + 1024);
    const int size = avcodec_encode_subtitle(captions_.codec.get(), buffer.data(),
                                             static_cast<int>(buffer.size()), &subtitle);
    if (size < 0) fail(describeAVError(size));
    ffmpeg::Packet packet(av_packet_alloc());
    if (!packet || av_new_packet(packet.get(), size) < 0) fail("out of memory");
    std::copy_n(buffer.data(), size, packet->data);
    packet->pts = packet->dts = std::llround(startSec * 1000);
    packet->duration = subtitle.end_display_time;
    packet->stream_index = captions_.stream->index;
    av_packet_rescale_ts(packet.get(), captions_.codec->time_base, captions_.stream->time_base);
    const int result = av_interleaved_write_frame(output_.get(), packet.get());
    if (result < 0) fail(describeAVError(result));
  }

  void finish() {
    if (audio_.codec) {
      if (!pendingSound_[0].empty()) encodePendingSound(static_cast<int>(pendingSound_[0].size()));
      encode(audio_, nullptr);
    }
    if (video_.codec) encode(video_, nullptr);
    int result = av_write_trailer(output_.get());
    if (result < 0) fail(describeAVError(result));
    result = avio_closep(&output_->pb);
    if (result < 0) fail(describeAVError(result));
    if (captions_.stream && !leaveTrackOff(temporary_, captions_.stream->index))
      fail("its captions could not be set to stay off");
  }

 private:
  struct EncodedStream {
    ffmpeg::CodecContext codec;
    AVStream* stream = nullptr;
  };

  [[noreturn]] void fail(const std::string& reason) const { throw writeError(file_, reason); }

  void openVideo(const VideoEncoding& settings) {
    for (const std::string& name : settings.encoderNames) {
      const AVCodec* encoder = avcodec_find_encoder_by_name(name.c_str());
      if (encoder == nullptr) continue;
      ffmpeg::CodecContext codec(avcodec_alloc_context3(encoder));
      if (!codec) fail("out of memory");
      codec->width = settings.width;
      codec->height = settings.height;
      codec->pix_fmt = AV_PIX_FMT_YUV420P;
      codec->color_range = AVCOL_RANGE_MPEG;
      codec->color_primaries = static_cast<AVColorPrimaries>(settings.colourPrimaries);
      codec->color_trc = static_cast<AVColorTransferCharacteristic>(settings.colourTransfer);
      codec->colorspace = static_cast<AVColorSpace>(settings.colourMatrix);
      codec->sample_aspect_ratio = {1, 1};
      codec->time_base =
          settings.timeBase.num > 0 ? settings.timeBase : av_inv_q(settings.frameRate);
      codec->framerate = settings.frameRate;
      codec->thread_count = 0;  // libavcodec's default is one thread; let the encoder choose
      if (output_->oformat->flags & AVFMT_GLOBALHEADER)
        codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
      AVDictionary* options = nullptr;
      av_dict_set_int(&options, "crf", settings.crf, 0);
      av_dict_set(&options, "preset", settings.preset.c_str(), 0);
      if (name == "libx265") av_dict_set(&options, "x265-params", "log-level=error", 0);
      const int result = avcodec_open2(codec.get(), encoder, &options);
      av_dict_free(&options);
      if (result < 0) continue;
      video_.codec = std::move(codec);
      video_.stream = addStream(*video_.codec);
      // QuickTime players only accept HEVC tagged as carrying its parameter sets up front.
      if (encoder->id == AV_CODEC_ID_HEVC)
        video_.stream->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');
      if (settings.rotationDegrees % 360 != 0) writeDisplayMatrix(settings.rotationDegrees);
      videoEncoderName_ = name;
      return;
    }
    throw EncoderUnavailableError("No video encoder is available for " + quotedFileName(file_) + ".");
  }

  void writeDisplayMatrix(int clockwiseDegrees) {
    auto* matrix = reinterpret_cast<int32_t*>(
        av_stream_new_side_data(video_.stream, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t)));
    if (matrix == nullptr) fail("out of memory");
    av_display_rotation_set(matrix, clockwiseDegrees);
  }

  void openAudio(const AudioEncoding& settings) {
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (encoder == nullptr)
      throw EncoderUnavailableError("No AAC encoder is available for " + quotedFileName(file_) + ".");
    audio_.codec.reset(avcodec_alloc_context3(encoder));
    if (!audio_.codec) fail("out of memory");
    AVCodecContext& codec = *audio_.codec;
    codec.sample_fmt = AV_SAMPLE_FMT_FLTP;
    codec.sample_rate = settings.sampleRate;
    av_channel_layout_default(&codec.ch_layout, settings.channels);
    codec.bit_rate = settings.bitRate;
    codec.time_base = {1, settings.sampleRate};
    if (output_->oformat->flags & AVFMT_GLOBALHEADER) codec.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int result = avcodec_open2(&codec, encoder, nullptr);
    if (result < 0) fail(describeAVError(result));
    audio_.stream = addStream(codec);
    pendingSound_.assign(static_cast<size_t>(settings.channels), {});
  }

  void openCaptions() {
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_MOV_TEXT);
    if (encoder == nullptr) fail("no encoder for captions");
    captions_.codec.reset(avcodec_alloc_context3(encoder));
    if (!captions_.codec) fail("out of memory");
    captions_.codec->time_base = {1, 1000};
    // The style every line is shown in, as libavcodec's text encoders expect it.
    captions_.codec->subtitle_header = reinterpret_cast<uint8_t*>(av_strdup(kCaptionStyle));
    captions_.codec->subtitle_header_size = static_cast<int>(std::strlen(kCaptionStyle));
    const int result = avcodec_open2(captions_.codec.get(), encoder, nullptr);
    if (result < 0) fail(describeAVError(result));
    captions_.stream = addStream(*captions_.codec);
    captions_.stream->disposition = 0;  // off until the viewer turns it on
    av_dict_set(&captions_.stream->metadata, "language", "und", 0);
  }

  AVStream* addStream(const AVCodecContext& codec) {
    AVStream* stream = avformat_new_stream(output_.get(), nullptr);
    if (stream == nullptr || avcodec_parameters_from_context(stream->codecpar, &codec) < 0)
      fail("out of memory");
    stream->time_base = codec.time_base;
    return stream;
  }

  void encodePendingSound(int samples) {
    av_frame_unref(frame_.get());
    const AVCodecContext& codec = *audio_.codec;
    frame_->format = codec.sample_fmt;
    frame_->sample_rate = codec.sample_rate;
    frame_->nb_samples = samples;
    if (av_channel_layout_copy(&frame_->ch_layout, &codec.ch_layout) < 0 ||
        av_frame_get_buffer(frame_.get(), 0) < 0)
      fail("out of memory");
    for (size_t channel = 0; channel < pendingSound_.size(); ++channel) {
      std::vector<float>& pending = pendingSound_[channel];
      std::copy_n(pending.begin(), samples, reinterpret_cast<float*>(frame_->data[channel]));
      pending.erase(pending.begin(), pending.begin() + samples);
    }
    frame_->pts = soundSamplesSent_;
    soundSamplesSent_ += samples;
    encode(audio_, frame_.get());
  }

  // Sends `frame` (null: the end) and writes every packet the encoder gives back.
  void encode(EncodedStream& target, const AVFrame* frame) {
    int result = avcodec_send_frame(target.codec.get(), frame);
    if (result < 0) fail(describeAVError(result));
    for (;;) {
      result = avcodec_receive_packet(target.codec.get(), packet_.get());
      if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return;
      if (result < 0) fail(describeAVError(result));
      if (&target == &video_) {
        const auto duration = pictureDurations_.find(packet_->pts);
        if (duration != pictureDurations_.end()) {
          packet_->duration = duration->second;
          pictureDurations_.erase(duration);
        }
      }
      av_packet_rescale_ts(packet_.get(), target.codec->time_base, target.stream->time_base);
      packet_->stream_index = target.stream->index;
      result = av_interleaved_write_frame(output_.get(), packet_.get());
      if (result < 0) fail(describeAVError(result));
    }
  }

  std::filesystem::path file_;
  std::filesystem::path temporary_;
  ffmpeg::OutputContext output_;
  ffmpeg::Packet packet_;
  ffmpeg::Frame frame_;
  EncodedStream video_;
  EncodedStream audio_;
  EncodedStream captions_;
  std::string videoEncoderName_;
  std::vector<std::vector<float>> pendingSound_;
  std::int64_t soundSamplesSent_ = 0;
  std::map<std::int64_t, std::int64_t> pictureDurations_;  // by time, until its packet is out
};

MovieWriter::MovieWriter(const OutputFile& output, const std::optional<VideoEncoding>& video,
                         const std::optional<AudioEncoding>& audio, bool indexAtFront,
                         bool withCaptions)
    : muxer_(std::make_unique<Muxer>(output, video, audio, indexAtFront, withCaptions)) {}
MovieWriter::MovieWriter(MovieWriter&&) noexcept = default;
MovieWriter& MovieWriter::operator=(MovieWriter&&) noexcept = default;
MovieWriter::~MovieWriter() = default;

const std::string& MovieWriter::videoEncoderName() const { return muxer_->videoEncoderName(); }
void MovieWriter::writeVideo(const AVFrame& frame, std::int64_t time, std::int64_t duration) {
  muxer_->writeVideo(frame, time, duration);
}
void MovieWriter::writeAudio(std::span<const float> interleaved) {
  muxer_->writeAudio(interleaved);
}
void MovieWriter::writeCaption(double startSec, double endSec, const std::string& text) {
  muxer_->writeCaption(startSec, endSec, text);
}
void MovieWriter::finish() { muxer_->finish(); }

}  // namespace brisklet
