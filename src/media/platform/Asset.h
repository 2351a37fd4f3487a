#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brisklet {

// A video stream as the viewer sees it.
struct VideoTrack {
  int streamIndex = -1;
  std::string codec;
  int encodedWidth = 0;
  int encodedHeight = 0;
  // Width after the pixel aspect ratio, before rotation ("natural size").
  int naturalWidth = 0;
  int naturalHeight = 0;
  // Clockwise rotation, in degrees (0, 90, 180, 270), that shows the picture upright: the
  // preferred transform of the stream's display matrix.
  int rotationDegrees = 0;
  double framesPerSecond = 0;
  // Source time of the first picture (later than 0 when the sound starts first).
  double startSec = 0;
  // Colour tags (FFmpeg's AVColor* values; 2 is "unspecified").
  int colourPrimaries = 2;
  int colourTransfer = 2;
  int colourMatrix = 2;

  // The size on screen: natural size, turned by the rotation.
  int displayWidth() const { return rotationDegrees % 180 == 0 ? naturalWidth : naturalHeight; }
  int displayHeight() const { return rotationDegrees % 180 == 0 ? naturalHeight : naturalWidth; }
};

struct AudioTrack {
  int streamIndex = -1;
  std::string codec;
  int sampleRate = 0;
  int channels = 0;
};

// What a media file holds, read once when it is opened. Readers (ImageGenerator, PcmReader)
// open the file again for themselves, so one Asset can feed several threads.
class Asset {
 public:
  // Throws MediaError with a sentence naming the file when it is missing or not a media file.
  static Asset open(const std::filesystem::path& file);

  const std::filesystem::path& file() const { return file_; }
  // Length of the presentation in seconds; of a file of sound alone, as long as its sound plays
  // (an MP3's padding, which its header counts, left out).
  double durationSec() const { return durationSec_; }
  // Where source time 0 lies on the file's own clock: the earliest start of its streams.
  double presentationStartSec() const { return presentationStartSec_; }
  // In file order; callers use the first.
  const std::vector<VideoTrack>& videoTracks() const { return videoTracks_; }
  const std::vector<AudioTrack>& audioTracks() const { return audioTracks_; }

  // When the camera recorded it, as the container says (ISO 8601 text); none when it does not.
  const std::optional<std::string>& creationTimeText() const { return creationTimeText_; }
  // A photo (JPEG, PNG, …) rather than a movie: FFmpeg opens those as one-picture videos.
  bool isStillPicture() const { return stillPicture_; }

  // The first video track. Throws MediaError naming the file when it has none.
  const VideoTrack& firstVideoTrack() const;

  // "“name.mp4”", for sentences about this file.
  std::string quotedName() const;

 private:
  std::filesystem::path file_;
  double durationSec_ = 0;
  double presentationStartSec_ = 0;
  std::vector<VideoTrack> videoTracks_;
  std::vector<AudioTrack> audioTracks_;
  std::optional<std::string> creationTimeText_;
  bool stillPicture_ = false;
};

// Where the first video track goes longest without a picture, as the container's index lists
// its pictures (MP4 and QuickTime list every one): the source times of the two pictures either
// side. None when the index lists fewer than two pictures, as other containers' do.
std::optional<std::pair<double, double>> longestPictureGap(const Asset& asset);

}  // namespace brisklet
