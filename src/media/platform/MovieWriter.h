#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "media/platform/FFmpegHandles.h"
#include "media/platform/MediaError.h"
#include "platform/OutputFile.h"

namespace brisklet {

// How the picture is encoded. Frames are 8-bit 4:2:0 YUV in limited range at the given size.
struct VideoEncoding {
  // Tried in order; the first that opens is used.
  std::vector<std::string> encoderNames;
  int width = 0;
  int height = 0;
  AVRational frameRate{30, 1};
  // The clock of the pictures' times; {0, 1}: one tick per frame.
  AVRational timeBase{0, 1};
  // Clockwise turn a player applies to show the picture upright (written as its display matrix).
  int rotationDegrees = 0;
  // Constant quality and speed, as libx264 and libx265 both understand them.
  int crf = 18;
  std::string preset = "medium";
  // Colour tags written into the stream (FFmpeg's AVColor* values; 2 is "unspecified").
  int colourPrimaries = 2;
  int colourTransfer = 2;
  int colourMatrix = 2;
};

// Sound is written as AAC from interleaved 32-bit float samples.
struct AudioEncoding {
  int sampleRate = 48000;
  int channels = 2;
  int bitRate = 192000;
};

// None of the encoders asked for is present or opens.
class EncoderUnavailableError : public MediaError {
 public:
  using MediaError::MediaError;
};

// Encodes pictures and sound, or sound alone, into the temporary of `output`; the container
// follows the destination's extension (.mov, .mp4, .m4a). With `indexAtFront` the index goes before the media, so
// players start at once. Failures (a full disk, an unwritable place) throw MediaError naming the
// destination. The file is complete only after finish(); committing `output` is the caller's.
class MovieWriter {
 public:
  // `withCaptions`: the movie gets a text track (MPEG-4 timed text, language "und", not shown
  // unless the viewer turns it on) for writeCaption.
  MovieWriter(const OutputFile& output, const std::optional<VideoEncoding>& video,
              const std::optional<AudioEncoding>& audio, bool indexAtFront = false,
              bool withCaptions = false);
  MovieWriter(MovieWriter&&) noexcept;
  MovieWriter& operator=(MovieWriter&&) noexcept;
  ~MovieWriter();

  // The encoder that opened ("libx265", "libx264"); empty without a picture.
  const std::string& videoEncoderName() const;

  // Encodes `frame` (4:2:0 at the encoding's size) at time `time`, lasting `duration`, both in
  // ticks of the encoding's time base (by default picture numbers). Every packet carries its
  // picture's duration, so the last picture lasts its whole length too. The writer takes its
  // own reference; the caller may reuse the frame.
  void writeVideo(const AVFrame& frame, std::int64_t time, std::int64_t duration);
  // Appends interleaved samples to the sound (channels as in the AudioEncoding).
  void writeAudio(std::span<const float> interleaved);
  // Shows `text` from `startSec` to `endSec` on the text track; in time order.
  void writeCaption(double startSec, double endSec, const std::string& text);

  // Drains the encoders and closes the file.
  void finish();

 private:
  class Muxer;
  std::unique_ptr<Muxer> muxer_;
};

}  // namespace brisklet
