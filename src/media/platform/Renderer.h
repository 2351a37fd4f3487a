#pragma once

#include <memory>
#include <optional>
#include <span>
#include <stop_token>

#include "media/platform/Composition.h"
#include "media/platform/FFmpegHandles.h"

namespace brisklet {

// The largest picture a view shows, in pixels.
struct PictureBox {
  int width = 0;
  int height = 0;
};

// One output picture: 8-bit 4:2:0 YUV, valid until the next call of its renderer.
struct RenderedPicture {
  const AVFrame* frame = nullptr;
  double timeSec = 0;
  // How long it shows: a frame duration when laid out; a kept source picture its own duration
  // in the source, cut short where its stretch ends.
  double durationSec = 0;
};

// The pictures of a composition, in output order, from any output time on. With a video
// composition: one every frame duration at the render size, laid out and faded as its
// instructions say. Without: each kept source picture at its own time and size (pixel aspect
// applied), not turned; the track's transform says how it shows. Each source is decoded once per
// inserted stretch, in order, with FFmpeg's threads.
class VideoRenderer {
 public:
  // `fitInto`: laid-out pictures come out scaled down (never up) to fit a preview's box, in
  // even sizes; without it, at the render size.
  VideoRenderer(const Composition& composition,
                const std::optional<VideoComposition>& videoComposition, double startSec = 0,
                const std::optional<PictureBox>& fitInto = std::nullopt);
  VideoRenderer(VideoRenderer&&) noexcept;
  VideoRenderer& operator=(VideoRenderer&&) noexcept;
  ~VideoRenderer();

  // The next picture; none after the last. Throws MediaError when a source cannot be read, and
  // Cancelled as soon as `stop` is requested while decoding towards it (a seek that superseded
  // it will place the renderer anew).
  std::optional<RenderedPicture> next(const std::stop_token& stop = {});
  // With a video composition: the next picture is the one shown at output time `outputSec` (the
  // source pictures due by exactly then), or the edit's last frame at or past its end; the
  // frames after it follow. The files already open stay open.
  void seek(double outputSec);

 private:
  class Pictures;
  std::unique_ptr<Pictures> pictures_;
};

}  // namespace brisklet
