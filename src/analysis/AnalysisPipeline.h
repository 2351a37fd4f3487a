#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <vector>

#include "analysis/ShotDetector.h"
#include "media/platform/Asset.h"
#include "model/EditPlan.h"
#include "model/PipelineProgress.h"

namespace brisklet {

// The analysis cannot start on this source.
class AnalysisPipelineError : public std::runtime_error {
 public:
  enum class Case { cannotOpenVideo };

  explicit AnalysisPipelineError(Case which);
  Case which() const { return which_; }

 private:
  Case which_;
};

namespace AnalysisPipeline {

using ProgressHandler = std::function<void(const PipelineProgress&)>;

// What the device alone finds: the scenes, scored and with the unusable ones cut, and each
// scene's keyframes as JPEG (up to three, 768 px) for the model to look at.
struct OnDeviceAnalysis {
  std::vector<Segment> segments;
  std::map<Uuid, std::vector<std::string>> keyframeJpegs;
};

// What the frames sampled at 2 per second show: the distances between them, as shot detection
// sees them, and the faces in them, in time order.
struct SampledPass {
  std::vector<ShotDetector::FrameDistance> distances;
  std::vector<FacePosition> faces;
};

// The pass over the frames sampled at 2 per second. Progress runs from 0 to 0.5. Throws
// Cancelled when `stop` is requested (checked before each frame).
SampledPass sampledPass(const Asset& asset, const ProgressHandler& progress,
                        const std::stop_token& stop);

// The cut times the rule finds in `distances`, each candidate looked at frame by frame so that a
// cut lies at the first picture of its new shot (see ShotDetector::boundaries). Throws Cancelled
// when `stop` is requested, MediaError when the video cannot be read.
std::vector<double> cutsFrameByFrame(const Asset& asset,
                                     const std::vector<ShotDetector::FrameDistance>& distances,
                                     const std::stop_token& stop);

// Samples the video, finds its shots, builds the scenes and scores them. Progress runs from 0 to
// 0.8. Throws AnalysisPipelineError for a source without length, MediaError for one that cannot
// be read, Cancelled when `stop` is requested (checked before each frame and each scene).
OnDeviceAnalysis analyzeOnDevice(const std::filesystem::path& video,
                                 const ProgressHandler& progress, std::stop_token stop);

// The edit plan of `video`, revision 1. With an Anthropic key the model reads the scenes
// (descriptions, keep decisions, narration, the running summary) and writes the director's notes
// (a failure there only leaves the notes out); without one the plan rests on the on-device
// analysis alone. Throws what analyzeOnDevice throws, and the scene analyser's errors.
EditPlan run(const std::filesystem::path& video, const std::optional<std::string>& anthropicKey,
             const std::string& model, const ProgressHandler& progress, std::stop_token stop);

}  // namespace AnalysisPipeline

}  // namespace brisklet
