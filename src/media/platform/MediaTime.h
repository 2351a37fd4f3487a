#pragma once

#include <cstdint>

extern "C" {
#include <libavutil/rational.h>
}

namespace brisklet {

// A time at the media boundary: value / timescale seconds. The model speaks seconds (double);
// media code speaks MediaTime; FFmpeg speaks stream timestamps. This header is the one place
// where the three meet.
struct MediaTime {
  std::int64_t value = 0;
  std::int32_t timescale = 600;

  static constexpr std::int32_t kDefaultTimescale = 600;

  // Seconds at timescale 600, rounded to the nearest tick (halves away from zero); a NaN is 0
  // and times beyond ±1e12 s are held there, so no sum of media times overflows.
  static MediaTime fromSeconds(double seconds);
  double seconds() const;

  bool operator==(const MediaTime&) const = default;
};

// Source time is measured from the start of the file's presentation (the earliest start of its
// streams), so picture and sound share one origin. `originSec` is that start.

// The stream timestamp in `timeBase` that shows source time `time`.
std::int64_t toStreamTimestamp(MediaTime time, AVRational timeBase, double originSec);
// The source time in seconds of stream timestamp `timestamp`.
double streamTimestampToSeconds(std::int64_t timestamp, AVRational timeBase, double originSec);

}  // namespace brisklet
