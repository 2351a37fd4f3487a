#include "media/platform/VideoFrameReader.h"

#include "media/platform/MediaError.h"
#include "media/platform/MediaTime.h"

namespace brisklet {

VideoFrameReader::VideoFrameReader(const Asset& asset)
    : presentationStartSec_(asset.presentationStartSec()),
      streamIndex_(asset.firstVideoTrack().streamIndex),
      decoder_(asset.file(), asset.firstVideoTrack().streamIndex),
      frame_(av_frame_alloc()),
      timeBase_(decoder_.stream().time_base) {
  if (!frame_) throw MediaError("Out of memory while reading " + asset.quotedName() + ".");
}

const AVFrame* VideoFrameReader::next() {
  for (;;) {
    const int received = decoder_.receiveFrame(*frame_);
    if (received == 0) {
      const std::int64_t timestamp = ffmpeg::presentationTimestamp(*frame_);
      if (timestamp == AV_NOPTS_VALUE) continue;  // a picture with no place in time
      timeSec_ = streamTimestampToSeconds(timestamp, decoder_.stream().time_base,
                                          presentationStartSec_);
      return frame_.get();
    }
    if (received == AVERROR_EOF || (draining_ && received == AVERROR(EAGAIN))) return nullptr;
    // EAGAIN, or a broken frame the decoder skips: either way, give it the next packet.
    if (draining_) continue;
    if (!unwantedBefore_) {
      draining_ = !decoder_.feedPacket();
      continue;
    }
    draining_ = !decoder_.feedPacket([this](const AVPacket& packet) {
      const bool unwanted = packet.pts != AV_NOPTS_VALUE && packet.duration > 0 &&
                            packet.pts + packet.duration <= *unwantedBefore_;
      return unwanted ? ffmpeg::StreamDecoder::PacketUse::decodeIfReferenced
                      : ffmpeg::StreamDecoder::PacketUse::decode;
    });
  }
}

void VideoFrameReader::seek(double sourceSec, bool onlyFromThere) {
  const std::int64_t target =
      toStreamTimestamp(MediaTime::fromSeconds(sourceSec), timeBase_, presentationStartSec_);
  unwantedBefore_ = onlyFromThere ? std::optional(target) : std::nullopt;
  if (av_seek_frame(&decoder_.format(), streamIndex_, target, AVSEEK_FLAG_BACKWARD) < 0)
    av_seek_frame(&decoder_.format(), streamIndex_, target, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
  avcodec_flush_buffers(&decoder_.codec());
  draining_ = false;
}

}  // namespace brisklet
