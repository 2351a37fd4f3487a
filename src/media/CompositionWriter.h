#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <vector>

#include "media/platform/Composition.h"
#include "media/platform/MovieWriter.h"

namespace brisklet::CompositionWriter {

// The loudness of a written movie's sound: the mix as measured before its gain (only when it
// was brought to a target) and as written; none for silence.
struct SoundLevels {
  std::optional<double> measuredLufs;
  std::optional<double> writtenLufs;
  std::optional<double> writtenTruePeakDb;
};

// Encodes what the renderers make of a composition into the movie `destination`: pictures as
// `video` says (with a video composition, one per frame; without, at the source's own times on
// a 1/90000 s clock), the mixed sound as AAC 48 kHz stereo 192 kb/s when any track has sound.
// `progress` gets the fraction done about every 0.3 s. The movie is written under a hidden
// temporary name and replaces `destination` only once it is whole; whatever was there stays
// until then, and a failure leaves it as it was. Throws MediaError (also
// EncoderUnavailableError), FileError (a missing folder) and Cancelled.
// `captions`, in output order, go on a text track, which the movie has only when there are some.
// Where the mix names a loudness target, the whole mix is measured first and the sound written
// at the one gain that brings it there; the true-peak limiter holds what that raises too far.
SoundLevels write(const Composition& composition,
                  const std::optional<VideoComposition>& videoComposition,
                  const std::optional<AudioMix>& audioMix, const std::filesystem::path& destination,
                  const VideoEncoding& video, bool indexAtFront,
                  const std::function<void(double)>& progress, std::stop_token stop = {},
                  const std::vector<Caption>& captions = {});

// The gain that brings a mix measured at `measuredLufs` to `targetLufs` (1 when either is
// unknown), never more than +24 dB.
double loudnessGain(std::optional<double> measuredLufs, std::optional<double> targetLufs);

// The integrated loudness of the whole mix as it is, before any gain or limiting: decodes every
// sound of the composition once. Throws MediaError and Cancelled.
std::optional<double> measuredLoudness(const Composition& composition,
                                       const std::optional<AudioMix>& audioMix,
                                       const std::stop_token& stop = {});

// The clock of pictures written at the source's own times.
inline constexpr AVRational kSourceTimingClock{1, 90000};

}  // namespace brisklet::CompositionWriter
