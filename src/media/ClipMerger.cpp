#include "media/ClipMerger.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>
#include <thread>
#include <stop_token>

#include "media/ProgressThrottle.h"
#include "media/platform/Asset.h"
#include "media/platform/FrameFitter.h"
#include "media/platform/MediaTime.h"
#include "media/platform/MovieWriter.h"
#include "media/platform/PcmReader.h"
#include "media/platform/StreamJoiner.h"
#include "media/platform/VideoFrameReader.h"

namespace brisklet {

ClipMergerError::ClipMergerError(Case which, const std::string& description)
    : std::runtime_error(description), case_(which) {}

ClipMergerError ClipMergerError::noClips() {
  return ClipMergerError(Case::noClips, "No video clips to merge.");
}

ClipMergerError ClipMergerError::noVideoTrack(const std::string& fileName) {
  return ClipMergerError(Case::noVideoTrack, "\"" + fileName + "\" has no video track.");
}

ClipMergerError ClipMergerError::cannotCreateSession() {
  return ClipMergerError(Case::cannotCreateSession,
                         "Could not create an export session for merging.");
}

namespace ClipMerger {
namespace {

constexpr int kFramesPerSecond = 30;
constexpr PcmFormat kSound{48000, 2, PcmSampleFormat::float32};
// A picture this close after an output frame's time still counts as on time: source and output
// times are rounded on different grids.
constexpr double kFrameTimeSlackSec = 0.0005;

// Where a clip lies in the merged movie: from `startTicks` to `endTicks` at timescale 600.
struct ClipSpan {
  std::int64_t startTicks = 0;
  std::int64_t endTicks = 0;

  double startSec() const { return static_cast<double>(startTicks) / MediaTime::kDefaultTimescale; }
  // Output pictures whose times lie in the span.
  std::int64_t firstFrame() const { return framesBefore(startTicks); }
  std::int64_t endFrame() const { return framesBefore(endTicks); }
  std::int64_t firstSample() const { return samplesBefore(startTicks); }
  std::int64_t endSample() const { return samplesBefore(endTicks); }

 private:
  static std::int64_t framesBefore(std::int64_t ticks) {
    constexpr std::int64_t kTicksPerFrame = MediaTime::kDefaultTimescale / kFramesPerSecond;
    return (ticks + kTicksPerFrame - 1) / kTicksPerFrame;
  }
  static std::int64_t samplesBefore(std::int64_t ticks) {
    return ticks * kSound.sampleRate / MediaTime::kDefaultTimescale;
  }
};

std::vector<Asset> openClips(const std::vector<std::filesystem::path>& clips) {
  std::vector<Asset> assets;
  for (const std::filesystem::path& clip : clips) {
    Asset asset = Asset::open(clip);
    if (asset.videoTracks().empty())
      throw ClipMergerError::noVideoTrack(clip.filename().string());
    assets.push_back(std::move(asset));
  }
  return assets;
}

std::vector<ClipSpan> spansEndToEnd(const std::vector<Asset>& clips) {
  std::vector<ClipSpan> spans;
  std::int64_t cursor = 0;
  for (const Asset& clip : clips) {
    const std::int64_t length = MediaTime::fromSeconds(clip.durationSec()).value;
    spans.push_back({cursor, cursor + length});
    cursor += length;
  }
  return spans;
}

// The clip's sound for exactly its span: cut where the clip ends, filled with silence where the
// sound ends early or the clip has none.
void writeSound(MovieWriter& movie, const Asset& clip, const ClipSpan& span) {
  std::int64_t missing = span.endSample() - span.firstSample();
  if (!clip.audioTracks().empty()) {
    std::stop_source enough;
    PcmReader(clip, kSound).read(
        [&](std::span<const std::uint8_t> bytes) {
          const auto samples = std::span<const float>(
              reinterpret_cast<const float*>(bytes.data()), bytes.size() / sizeof(float));
          const auto taken = std::min<std::int64_t>(
              missing, static_cast<std::int64_t>(samples.size()) / kSound.channels);
          movie.writeAudio(samples.first(static_cast<size_t>(taken * kSound.channels)));
          missing -= taken;
          if (missing == 0) enough.request_stop();
        },
        enough.get_token());
  }
  const std::vector<float> silence(static_cast<size_t>(kSound.sampleRate) * kSound.channels, 0.0f);
  while (missing > 0) {
    const auto taken = std::min<std::int64_t>(missing, kSound.sampleRate);
    movie.writeAudio(std::span(silence).first(static_cast<size_t>(taken * kSound.channels)));
    missing -= taken;
  }
}

// The clip's pictures at the movie's frame rate: each output frame shows the latest source
// picture due by its time (the first picture before that). `deliver` gets each placed picture
// with its frame number.
void placePictures(const Asset& clip, const ClipSpan& span, const FramePlacement& placement,
                   const std::stop_token& stop,
                   const std::function<void(const AVFrame&, std::int64_t)>& deliver) {
  VideoFrameReader reader(clip);
  std::optional<FrameFitter> fitter;
  ffmpeg::Frame held(av_frame_alloc());
  if (!held) throw MediaError("Out of memory while reading " + clip.quotedName() + ".");
  bool holding = false;
  const AVFrame* placed = nullptr;
  std::int64_t frame = span.firstFrame();
  const auto showHeldUntil = [&](double sourceSec) {
    for (; frame < span.endFrame() && !stop.stop_requested(); ++frame) {
      const double due = static_cast<double>(frame) / kFramesPerSecond - span.startSec();
      if (due + kFrameTimeSlackSec >= sourceSec) return;
      if (placed == nullptr) placed = &fitter->place(*held);
      deliver(*placed, frame);
    }
  };
  while (frame < span.endFrame() && !stop.stop_requested()) {
    const AVFrame* decoded = reader.next();
    if (decoded == nullptr) break;
    if (holding) showHeldUntil(reader.timeSec());
    if (!fitter) fitter.emplace(*decoded, reader.timeBase(), placement);
    av_frame_unref(held.get());
    if (av_frame_ref(held.get(), decoded) < 0)
      throw MediaError("Out of memory while reading " + clip.quotedName() + ".");
    holding = true;
    placed = nullptr;
  }
  if (!holding) throw MediaError("No picture of " + clip.quotedName() + " could be decoded.");
  showHeldUntil(std::numeric_limits<double>::infinity());
}

// Every clip's placed pictures, in frame order, made on a thread of their own so that decoding
// and scaling overlap the encoder. A few pictures wait at most; the producer's failure reaches
// the reader.
class PictureQueue {
 public:
  PictureQueue(const std::vector<Asset>& clips, const std::vector<ClipSpan>& spans,
               const std::vector<FramePlacement>& placements)
      : producer_([this, &clips, &spans, &placements](std::stop_token stop) {
          try {
            for (size_t index = 0; index < clips.size() && !stop.stop_requested(); ++index)
              placePictures(clips[index], spans[index], placements[index], stop,
                            [&](const AVFrame& picture, std::int64_t frame) {
                              push(stop, picture, frame);
                            });
          } catch (...) {
            std::lock_guard lock(mutex_);
            failure_ = std::current_exception();
          }
          std::lock_guard lock(mutex_);
          finished_ = true;
          changed_.notify_all();
        }) {}

  ~PictureQueue() {
    producer_.request_stop();
    changed_.notify_all();
  }

  // The next picture and its frame number. Throws what the producer threw, or MediaError when
  // pictures ran out early.
  std::pair<ffmpeg::Frame, std::int64_t> next() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !waiting_.empty() || finished_; });
    if (waiting_.empty()) {
      if (failure_) std::rethrow_exception(failure_);
      throw MediaError("The clips' pictures ended early.");
    }
    auto picture = std::move(waiting_.front());
    waiting_.pop_front();
    changed_.notify_all();
    return picture;
  }

 private:
  static constexpr size_t kWaitingAtMost = 6;

  void push(const std::stop_token& stop, const AVFrame& picture, std::int64_t frame) {
    ffmpeg::Frame copy(av_frame_clone(&picture));
    if (!copy) throw MediaError("Out of memory while merging clips.");
    std::unique_lock lock(mutex_);
    changed_.wait(lock, stop, [this] { return waiting_.size() < kWaitingAtMost; });
    waiting_.emplace_back(std::move(copy), frame);
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable_any changed_;
  std::deque<std::pair<ffmpeg::Frame, std::int64_t>> waiting_;
  std::exception_ptr failure_;
  bool finished_ = false;
  std::jthread producer_;  // last: it starts after, and stops before, the members it uses
};

void reencode(const std::vector<Asset>& clips, const std::filesystem::path& output,
              ProgressThrottle& progress, const Encoding& encoding) {
  const VideoTrack& first = clips.front().firstVideoTrack();
  VideoEncoding video;
  video.encoderNames = encoding.videoEncoders;
  video.width = first.displayWidth() / 2 * 2;
  video.height = first.displayHeight() / 2 * 2;
  video.framesPerSecond = kFramesPerSecond;
  video.crf = encoding.crf;
  video.preset = encoding.preset;
  const bool anySound = std::any_of(clips.begin(), clips.end(),
                                    [](const Asset& clip) { return !clip.audioTracks().empty(); });
  std::optional<AudioEncoding> audio;
  if (anySound) audio = AudioEncoding{kSound.sampleRate, kSound.channels, 192000};

  std::optional<MovieWriter> movie;
  try {
    movie.emplace(output, video, audio);
  } catch (const EncoderUnavailableError&) {
    throw ClipMergerError::cannotCreateSession();
  }
  const std::vector<ClipSpan> spans = spansEndToEnd(clips);
  std::vector<FramePlacement> placements;
  for (const Asset& clip : clips) {
    const VideoTrack& track = clip.firstVideoTrack();
    placements.push_back(fitInside(track.displayWidth(), track.displayHeight(),
                                   track.rotationDegrees, video.width, video.height));
  }
  const double totalFrames = static_cast<double>(std::max<std::int64_t>(1, spans.back().endFrame()));
  PictureQueue pictures(clips, spans, placements);
  for (size_t index = 0; index < clips.size(); ++index) {
    if (anySound) writeSound(*movie, clips[index], spans[index]);
    for (std::int64_t frame = spans[index].firstFrame(); frame < spans[index].endFrame(); ++frame) {
      const auto [picture, number] = pictures.next();
      movie->writeVideo(*picture, number);
      progress((number + 1) / totalFrames);
    }
  }
  movie->finish();
}

std::optional<Timestamp> birthTime(const std::filesystem::path& file) {
  struct statx status {};
  if (statx(AT_FDCWD, file.c_str(), 0, STATX_BTIME, &status) != 0) return std::nullopt;
  if ((status.stx_mask & STATX_BTIME) == 0) return std::nullopt;  // the file system keeps none
  return Timestamp(std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::seconds(status.stx_btime.tv_sec) +
      std::chrono::nanoseconds(status.stx_btime.tv_nsec)));
}

}  // namespace

std::optional<Timestamp> shootingTime(const std::filesystem::path& clip) {
  try {
    const Asset asset = Asset::open(clip);
    if (asset.creationTimeText())
      if (const auto recorded = parseIso8601(*asset.creationTimeText())) return recorded;
  } catch (const std::exception&) {
    // Not a readable movie: the merge will say so; for ordering, the file system may know.
  }
  return birthTime(clip);
}

std::vector<std::filesystem::path> sortedByCreationDate(std::vector<std::filesystem::path> clips) {
  std::vector<std::pair<std::optional<Timestamp>, std::filesystem::path>> dated;
  for (std::filesystem::path& clip : clips) dated.emplace_back(shootingTime(clip), std::move(clip));
  // std::optional orders "none" before any time: the distant past.
  std::stable_sort(dated.begin(), dated.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::filesystem::path> sorted;
  for (auto& [time, clip] : dated) sorted.push_back(std::move(clip));
  return sorted;
}

void merge(const std::vector<std::filesystem::path>& clips, const std::filesystem::path& output,
           const std::function<void(double)>& progress, const Encoding& encoding) {
  if (clips.empty()) throw ClipMergerError::noClips();
  const std::vector<Asset> assets = openClips(clips);
  std::error_code ignored;
  std::filesystem::remove(output, ignored);
  ProgressThrottle throttle(progress);
  try {
    bool joined = false;
    if (canJoinWithoutReencoding(assets)) {
      try {
        joinWithoutReencoding(assets, output, [&](double fraction) { throttle(fraction); });
        joined = true;
      } catch (const StreamJoinRefused&) {
        std::filesystem::remove(output, ignored);
      }
    }
    if (!joined) reencode(assets, output, throttle, encoding);
  } catch (...) {
    std::filesystem::remove(output, ignored);
    throw;
  }
  throttle(1.0);
}

}  // namespace ClipMerger
}  // namespace brisklet
