#include "analysis/AnalysisPipeline.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <opencv2/imgcodecs.hpp>
#include <thread>

#include "analysis/AIDirector.h"
#include "analysis/ClaudeSceneAnalyzer.h"
#include "analysis/CutRefiner.h"
#include "analysis/EditPlanBuilder.h"
#include "analysis/FaceFinder.h"
#include "analysis/FrameSampler.h"
#include "analysis/QualityScorer.h"
#include "analysis/ShotDetector.h"
#include "media/platform/MediaTime.h"
#include "platform/Cancellation.h"
#include "platform/Concurrently.h"

namespace brisklet {

AnalysisPipelineError::AnalysisPipelineError(Case which)
    : std::runtime_error("The source video could not be opened."), which_(which) {}

namespace AnalysisPipeline {
namespace {

constexpr double kSamplesPerSecond = 2.0;
constexpr int kKeyframeJpegQuality = 60;
const char* const kDetectingScenes = "Detecting scenes…";
const char* const kScoringQuality = "Scoring visual quality…";
const char* const kWritingNotes = "Writing director's notes…";

const ImageGeneratorSettings kKeyframeSettings{.maximumWidth = 768,
                                               .maximumHeight = 768,
                                               .toleranceBeforeSec = 0.1,
                                               .toleranceAfterSec = 0.1,
                                               .appliesPreferredTrackTransform = true};

// Decoding is shared out in pieces of the video, each decoded on its own thread by a generator
// with few threads of its own: the decoders then keep every core busy, where one decoder's frame
// threads leave a good part idle between seeks and skipped frames. Each decoder holds its
// reference frames (about 100 MB for 4K), so only a few run at once; pieces too short for a
// decoder to settle in are not split further.
constexpr size_t kMostDecoders = 4;
constexpr size_t kFewestSamplesPerPiece = 40;
constexpr size_t kFewestScenesPerPiece = 4;

struct DecodingShare {
  size_t pieces = 1;
  int threadsPerDecoder = 0;  // 0: FFmpeg's own choice
};

DecodingShare decodingShare() {
  const size_t cores = std::max(1u, std::thread::hardware_concurrency());
  if (cores < 2) return {};
  const size_t pieces = std::min(cores, kMostDecoders);
  return {.pieces = pieces, .threadsPerDecoder = static_cast<int>(cores / pieces)};
}

// How a pass shares out its `count` items, and the settings of each piece's generator.
struct PieceWork {
  std::vector<IndexRange> ranges;
  ImageGeneratorSettings settings;
};

PieceWork shareOut(size_t count, size_t fewestPerPiece, const ImageGeneratorSettings& settings) {
  const DecodingShare share = decodingShare();
  PieceWork work{.ranges = contiguousRanges(count, share.pieces, fewestPerPiece),
                 .settings = settings};
  if (work.ranges.size() > 1) work.settings.decodingThreads = share.threadsPerDecoder;
  return work;
}

// Work counted from several threads and reported one report at a time, never going back.
class SharedProgress {
 public:
  SharedProgress(const ProgressHandler& progress, const char* stage, double from, double span,
                 size_t total)
      : progress_(progress), stage_(stage), from_(from), span_(span), total_(total) {}

  // Reports the share done so far, then counts one more piece of work.
  void reportAndCount() {
    const std::lock_guard lock(mutex_);
    progress_({stage_, from_ + span_ * static_cast<double>(done_) /
                                   static_cast<double>(std::max<size_t>(total_, 1))});
    ++done_;
  }

 private:
  std::mutex mutex_;
  const ProgressHandler& progress_;
  const char* const stage_;
  const double from_;
  const double span_;
  const size_t total_;
  size_t done_ = 0;
};

// How far back the pictures decoded while sampling are kept: the two samples a step compares,
// each taken up to the tolerance either side of its time.
constexpr double kLookBackSec = 0.75;
// The first look at the step from the sample at `fromSec` to the one at `toSec`: the pictures
// decoded between them (and within the tolerance of either), looked at one by one.
std::optional<ShotDetector::CloserLook> firstLook(const std::vector<TimedPicture>& recent,
                                                  double fromSec, double toSec, double frameSec) {
  const auto& sampling = FrameSampler::kSamplingSettings;
  std::vector<TimedPicture> between;
  for (const TimedPicture& picture : recent)
    if (picture.timeSec >= fromSec - sampling.toleranceBeforeSec - 1e-6 &&
        picture.timeSec <= toSec + sampling.toleranceAfterSec + 1e-6)
      between.push_back(picture);
  return CutRefiner::settledLook(between, frameSec);
}

// A quarter, half and three quarters into the scene, on the 1/600 s grid media times use.
std::vector<double> keyframeTimes(const Segment& segment) {
  std::vector<double> times;
  for (const double share : {0.25, 0.5, 0.75})
    times.push_back(
        MediaTime::fromSeconds(segment.startSec + share * segment.durationSec()).seconds());
  return times;
}

struct ScoredScene {
  QualityScores scores;
  std::vector<std::string> jpegs;
};

// Every measure is taken on the picture alone: the bars of a letterboxed or pillarboxed clip
// (a landscape clip merged after a portrait one) would read as crushed blacks and no detail.
ScoredScene scoreScene(const std::vector<cv::Mat>& keyframes) {
  std::vector<cv::Rect> areas;
  for (const cv::Mat& keyframe : keyframes) areas.push_back(QualityScorer::activeArea(keyframe));
  std::vector<double> blurScores, exposureScores, magnitudes;
  std::vector<QualityScorer::AestheticsEntry> aesthetics;
  for (size_t index = 0; index < keyframes.size(); ++index) {
    const cv::Mat picture = keyframes[index](areas[index]);
    if (const auto bitmap = QualityScorer::lumaBitmap(picture, QualityScorer::kMeasuringSide)) {
      blurScores.push_back(QualityScorer::blurScore(QualityScorer::laplacianVariance(*bitmap)));
      exposureScores.push_back(QualityScorer::exposureScore(*bitmap));
    }
    if (const auto estimate = QualityScorer::aesthetics(picture))
      aesthetics.push_back(QualityScorer::aestheticsEntry(*estimate));
  }
  for (size_t index = 1; index < keyframes.size(); ++index) {
    const cv::Rect common = areas[index - 1] & areas[index];
    if (const auto magnitude = QualityScorer::translationMagnitude(keyframes[index - 1](common),
                                                                   keyframes[index](common)))
      magnitudes.push_back(*magnitude);
  }

  const std::optional<double> stability =
      magnitudes.empty() ? std::nullopt
                         : std::optional<double>(QualityScorer::stabilityScore(magnitudes));
  ScoredScene scene;
  scene.scores = QualityScorer::aggregate(blurScores, exposureScores, stability, aesthetics);
  for (const cv::Mat& keyframe : keyframes) {
    std::vector<std::uint8_t> bytes;
    if (cv::imencode(".jpg", keyframe, bytes, {cv::IMWRITE_JPEG_QUALITY, kKeyframeJpegQuality}))
      scene.jpegs.emplace_back(bytes.begin(), bytes.end());
  }
  return scene;
}

// The main face of `segment` among the faces found in the sampled frames.
std::vector<FacePosition> mainFaceOf(const Segment& segment,
                                     const std::vector<FacePosition>& faces) {
  const auto byTime = [](const FacePosition& face, double seconds) {
    return face.timeSec < seconds;
  };
  const auto from = std::lower_bound(faces.begin(), faces.end(), segment.startSec, byTime);
  const auto to = std::lower_bound(from, faces.end(), segment.endSec, byTime);
  const size_t samples = static_cast<size_t>(
      std::max(0.0, std::ceil(segment.endSec * kSamplesPerSecond - 1e-9) -
                        std::ceil(segment.startSec * kSamplesPerSecond - 1e-9)));
  return FaceFinding::mainFace({from, to}, samples);
}

}  // namespace

SampledPass sampledPass(const Asset& asset, const ProgressHandler& progress,
                        const std::stop_token& stop) {
  progress({kDetectingScenes, 0.0});
  const std::vector<double> times =
      FrameSampler::sampleTimes(asset.durationSec(), kSamplesPerSecond);
  auto [ranges, settings] =
      shareOut(times.size(), kFewestSamplesPerPiece, FrameSampler::kSamplingSettings);
  settings.decodesThroughSceneChanges = true;
  std::vector<ShotDetector::DistanceSeries> pieces(ranges.size());
  std::vector<std::vector<FacePosition>> faces(ranges.size());
  SharedProgress shared(progress, kDetectingScenes, 0.0, 0.5, times.size());
  const double frameSec = asset.firstVideoTrack().framesPerSecond > 0
                              ? 1.0 / asset.firstVideoTrack().framesPerSecond
                              : 0.0;
  runConcurrently(ranges.size(), [&](size_t piece) {
    const auto stream = FrameSampler::frames(
        ImageGenerator(asset, settings),
        {times.begin() + static_cast<std::ptrdiff_t>(ranges[piece].begin),
         times.begin() + static_cast<std::ptrdiff_t>(ranges[piece].end)},
        ShotDetector::kWorkingSize);
    ShotDetector::DistanceSeries& series = pieces[piece];
    FaceFinder finder;
    // The pictures decoded on the way to the last two samples: a first look at every step that
    // may be a cut, for free, which settles most of them without decoding again.
    std::vector<TimedPicture> recent;
    while (true) {
      throwIfCancelled(stop);
      std::optional<SampledFrame> frame = stream->next();
      if (!frame) break;
      std::erase_if(recent, [&](const TimedPicture& picture) {
        return picture.timeSec < frame->timeSec - kLookBackSec;
      });
      std::move(frame->decodedPictures.begin(), frame->decodedPictures.end(),
                std::back_inserter(recent));
      const size_t steps = series.distances.size();
      for (FacePosition& face : finder.faces(frame->image, frame->timeSec))
        faces[piece].push_back(face);
      ShotDetector::addFrame(series, frame->image, frame->timeSec);
      if (series.distances.size() > steps && ShotDetector::isCandidate(series.distances, steps))
        series.distances.back().look = firstLook(
            recent, steps > 0 ? series.distances[steps - 1].timeSec : series.firstTimeSec,
            frame->timeSec, frameSec);
      shared.reportAndCount();
    }
  });
  SampledPass pass{.distances = ShotDetector::joined(std::move(pieces)).distances, .faces = {}};
  for (std::vector<FacePosition>& found : faces)
    pass.faces.insert(pass.faces.end(), found.begin(), found.end());
  return pass;
}

std::vector<double> cutsFrameByFrame(const Asset& asset,
                                     const std::vector<ShotDetector::FrameDistance>& distances,
                                     const std::stop_token& stop) {
  // Candidates the first look during sampling did not settle are decoded again, every picture,
  // up front and side by side: the rule then walks them in order without waiting.
  const std::vector<ShotDetector::Candidate> candidates = ShotDetector::candidates(distances);
  std::vector<std::optional<double>> firstPictures(candidates.size());
  std::vector<size_t> unsettled;
  for (size_t index = 0; index < candidates.size(); ++index) {
    if (const auto& look = distances[candidates[index].index].look)
      firstPictures[index] = look->firstPictureSec;
    else
      unsettled.push_back(index);
  }
  const DecodingShare share = decodingShare();
  const std::vector<IndexRange> ranges = contiguousRanges(unsettled.size(), share.pieces, 1);
  runConcurrently(ranges.size(), [&](size_t piece) {
    for (size_t position = ranges[piece].begin; position < ranges[piece].end; ++position) {
      throwIfCancelled(stop);
      const ShotDetector::Candidate& candidate = candidates[unsettled[position]];
      const auto& sampling = FrameSampler::kSamplingSettings;
      firstPictures[unsettled[position]] = CutRefiner::firstPictureOfNewShot(
          asset, candidate.fromSec - sampling.toleranceBeforeSec,
          candidate.timeSec + sampling.toleranceAfterSec);
    }
  });
  return ShotDetector::boundaries(distances, [&](const ShotDetector::Candidate& candidate) {
    const auto found = std::find_if(candidates.begin(), candidates.end(), [&](const auto& each) {
      return each.timeSec == candidate.timeSec;
    });
    return firstPictures[static_cast<size_t>(found - candidates.begin())];
  });
}

OnDeviceAnalysis analyzeOnDevice(const std::filesystem::path& video,
                                 const ProgressHandler& progress, std::stop_token stop) {
  const Asset asset = Asset::open(video);
  if (!(asset.durationSec() > 0))
    throw AnalysisPipelineError(AnalysisPipelineError::Case::cannotOpenVideo);

  OnDeviceAnalysis analysis;
  const SampledPass pass = sampledPass(asset, progress, stop);
  analysis.segments = EditPlanBuilder::buildSegments(cutsFrameByFrame(asset, pass.distances, stop),
                                                     asset.durationSec());
  for (Segment& segment : analysis.segments) segment.facePath = mainFaceOf(segment, pass.faces);

  // Each piece of the scene list has one generator decoding its keyframes in time order on a
  // thread of its own, while the scenes before are being measured.
  const std::vector<Segment>& segments = analysis.segments;
  const auto [ranges, settings] =
      shareOut(segments.size(), kFewestScenesPerPiece, kKeyframeSettings);
  std::vector<ScoredScene> scored(segments.size());
  SharedProgress shared(progress, kScoringQuality, 0.5, 0.3, segments.size());
  runConcurrently(ranges.size(), [&](size_t piece) {
    const IndexRange range = ranges[piece];
    std::vector<double> allTimes;
    for (size_t index = range.begin; index < range.end; ++index)
      for (const double time : keyframeTimes(segments[index])) allTimes.push_back(time);
    const auto keyframes = FrameSampler::frames(ImageGenerator(asset, settings), allTimes);
    std::optional<SampledFrame> pending = keyframes->next();
    for (size_t index = range.begin; index < range.end; ++index) {
      throwIfCancelled(stop);
      shared.reportAndCount();
      const std::vector<double> times = keyframeTimes(segments[index]);
      std::vector<cv::Mat> images;
      while (pending && pending->timeSec <= times.back()) {
        if (std::find(times.begin(), times.end(), pending->timeSec) != times.end())
          images.push_back(std::move(pending->image));
        pending = keyframes->next();
      }
      scored[index] = scoreScene(images);
    }
  });

  std::map<Uuid, QualityScores> scores;
  for (size_t index = 0; index < segments.size(); ++index) {
    scores.emplace(segments[index].id, scored[index].scores);
    analysis.keyframeJpegs.emplace(segments[index].id, std::move(scored[index].jpegs));
  }
  analysis.segments = EditPlanBuilder::applyQuality(scores, std::move(analysis.segments));
  return analysis;
}

EditPlan run(const std::filesystem::path& video, const std::optional<std::string>& anthropicKey,
             const std::string& model, const ProgressHandler& progress, std::stop_token stop) {
  OnDeviceAnalysis analysis = analyzeOnDevice(video, progress, stop);
  EditPlan plan;
  plan.planRevision = 1;
  if (!anthropicKey || anthropicKey->empty()) {
    plan.segments = std::move(analysis.segments);
    return plan;
  }

  progress({ClaudeSceneAnalyzer::kStageName, 0.8});
  std::vector<ClaudeSceneAnalyzer::SceneInput> scenes;
  for (size_t index = 0; index < analysis.segments.size(); ++index) {
    const Segment& segment = analysis.segments[index];
    scenes.push_back({.index = static_cast<int>(index),
                      .startSec = segment.startSec,
                      .endSec = segment.endSec,
                      .quality = segment.quality,
                      .keyframes = std::move(analysis.keyframeJpegs[segment.id])});
  }
  const AnthropicClient client(*anthropicKey, model);
  ClaudeSceneAnalyzer::Result understood =
      ClaudeSceneAnalyzer::analyze(scenes, client, progress, stop);
  scenes.clear();  // the pictures are not needed any more
  plan.segments =
      EditPlanBuilder::applySceneAnalysis(understood.analyses, std::move(analysis.segments));
  plan.runningSummary = std::move(understood.runningSummary);

  const bool anyDescribed = std::any_of(plan.segments.begin(), plan.segments.end(),
                                        [](const Segment& s) { return s.sceneDescription; });
  if (anyDescribed) {
    progress({kWritingNotes, 0.98});
    try {
      plan.editorSuggestions = AIDirector::editorNotes(plan, client, stop);
    } catch (const Cancelled&) {
      throw;
    } catch (const std::exception&) {
      // The notes are a bonus: the plan stands without them.
    }
  }
  return plan;
}

}  // namespace AnalysisPipeline
}  // namespace brisklet
