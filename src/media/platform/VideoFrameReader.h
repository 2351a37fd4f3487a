#pragma once

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
  // from there.
  void seek(double sourceSec);
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
};

}  // namespace brisklet
