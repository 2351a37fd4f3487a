#include "analysis/AnalysisPipeline.h"

#include <algorithm>
#include <opencv2/imgcodecs.hpp>

#include "analysis/AIDirector.h"
#include "analysis/ClaudeSceneAnalyzer.h"
#include "analysis/EditPlanBuilder.h"
#include "analysis/FrameSampler.h"
#include "analysis/QualityScorer.h"
#include "analysis/ShotDetector.h"
#include "media/platform/MediaTime.h"
#include "platform/Cancellation.h"

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

ScoredScene scoreScene(const std::vector<cv::Mat>& keyframes) {
  std::vector<double> blurScores, exposureScores, magnitudes;
  std::vector<QualityScorer::AestheticsEntry> aesthetics;
  for (const cv::Mat& keyframe : keyframes) {
    if (const auto bitmap = QualityScorer::lumaBitmap(keyframe, QualityScorer::kMeasuringSide)) {
      blurScores.push_back(QualityScorer::blurScore(QualityScorer::laplacianVariance(*bitmap)));
      exposureScores.push_back(QualityScorer::exposureScore(*bitmap));
    }
  }
  for (size_t index = 1; index < keyframes.size(); ++index)
    if (const auto magnitude =
            QualityScorer::translationMagnitude(keyframes[index - 1], keyframes[index]))
      magnitudes.push_back(*magnitude);
  for (const cv::Mat& keyframe : keyframes)
    if (const auto estimate = QualityScorer::aesthetics(keyframe))
      aesthetics.push_back(QualityScorer::aestheticsEntry(*estimate));

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

}  // namespace

std::vector<ShotDetector::FrameDistance> frameDistances(const Asset& asset,
                                                        const ProgressHandler& progress,
                                                        const std::stop_token& stop) {
  const double duration = asset.durationSec();
  progress({kDetectingScenes, 0.0});
  ShotDetector::DistanceSeries series;
  const auto stream = FrameSampler::frames(ImageGenerator(asset, FrameSampler::kSamplingSettings),
                                           FrameSampler::sampleTimes(duration, kSamplesPerSecond));
  while (true) {
    throwIfCancelled(stop);
    std::optional<SampledFrame> frame = stream->next();
    if (!frame) break;
    ShotDetector::addFrame(series, frame->image, frame->timeSec);
    progress({kDetectingScenes, 0.5 * frame->timeSec / duration});
  }
  return std::move(series.distances);
}

OnDeviceAnalysis analyzeOnDevice(const std::filesystem::path& video,
                                 const ProgressHandler& progress, std::stop_token stop) {
  const Asset asset = Asset::open(video);
  if (!(asset.durationSec() > 0))
    throw AnalysisPipelineError(AnalysisPipelineError::Case::cannotOpenVideo);

  OnDeviceAnalysis analysis;
  analysis.segments = EditPlanBuilder::buildSegments(
      ShotDetector::boundaries(frameDistances(asset, progress, stop)), asset.durationSec());

  // Every keyframe of the video is decoded by one generator on its own thread, in time order,
  // while the scenes before are being measured here.
  std::vector<double> allTimes;
  for (const Segment& segment : analysis.segments)
    for (const double time : keyframeTimes(segment)) allTimes.push_back(time);
  const auto keyframes = FrameSampler::frames(ImageGenerator(asset, kKeyframeSettings), allTimes);
  std::optional<SampledFrame> pending = keyframes->next();

  std::map<Uuid, QualityScores> scores;
  const size_t count = analysis.segments.size();
  for (size_t index = 0; index < count; ++index) {
    throwIfCancelled(stop);
    progress({kScoringQuality, 0.5 + 0.3 * static_cast<double>(index) /
                                         static_cast<double>(std::max<size_t>(count, 1))});
    const Segment& segment = analysis.segments[index];
    const std::vector<double> times = keyframeTimes(segment);
    std::vector<cv::Mat> images;
    while (pending && pending->timeSec <= times.back()) {
      if (std::find(times.begin(), times.end(), pending->timeSec) != times.end())
        images.push_back(std::move(pending->image));
      pending = keyframes->next();
    }
    ScoredScene scene = scoreScene(images);
    scores.emplace(segment.id, scene.scores);
    analysis.keyframeJpegs.emplace(segment.id, std::move(scene.jpegs));
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
