#pragma once

#include <cstdint>
#include <optional>

#include "media/platform/Asset.h"
#include "media/platform/FormatReader.h"

namespace brisklet {

// Every picture of the first video track, in presentation order, decoded with FFmpeg's threads.
// Frames that fail to decode are skipped.
class VideoFrameReader {
 public:
  // Throws MediaError when the file has no video or its video cannot be decoded.
  explicit VideoFrameReader(const Asset& asset);

  // The next picture, valid until the next call; null after the last.
  const AVFrame* next();
  // Goes back or ahead to the keyframe at or before source time `sourceSec`; `next` continues
  // from there. With `onlyFromThere`, the caller wants no picture before the one due at
  // `sourceSec`: pictures that no other refers to and that end by then are not decoded.
  void seek(double sourceSec, bool onlyFromThere = false);
  // Source time of the picture `next` returned last.
  double timeSec() const { return timeSec_; }
  AVRational timeBase() const { return timeBase_; }

 private:
  double presentationStartSec_;
  int streamIndex_;
  ffmpeg::StreamDecoder decoder_;
  ffmpeg::Frame frame_;
  AVRational timeBase_;
  double timeSec_ = 0;
  bool draining_ = false;
  // Packets ending by this stream timestamp are decoded only when referred to; none: all are.
  std::optional<std::int64_t> unwantedBefore_;
};

}  // namespace brisklet
