#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <vector>

#include "analysis/SceneAnalysis.h"
#include "analysis/anthropic/AnthropicClient.h"
#include "model/EditPlan.h"
#include "model/PipelineProgress.h"

namespace brisklet::ClaudeSceneAnalyzer {

// One scene handed to the model.
struct SceneInput {
  int index = 0;  // position in the whole video's scene list
  double startSec = 0;
  double endSec = 0;
  std::optional<QualityScores> quality = {};
  std::vector<std::string> keyframes = {};  // JPEG bytes, in time order
};

// The model refused a batch.
class BatchRefusedError : public std::runtime_error {
 public:
  BatchRefusedError() : std::runtime_error("The model refused the batch.") {}
};

struct Result {
  std::vector<SceneAnalysis> analyses;  // in answer order; refused batches have none
  std::string runningSummary;
};

inline constexpr int kScenesPerBatch = 8;
inline constexpr int kMaxTokens = 16000;
inline constexpr const char* kStageName = "Understanding scenes with Claude\u2026";
inline constexpr const char* kInitialSummary = "Nothing yet \u2014 these are the opening scenes.";

using ProgressHandler = std::function<void(const PipelineProgress&)>;

// Sends the scenes in batches of eight, each with the story so far, and collects the model's
// reading of every scene. A refused batch is skipped; a video whose every batch is refused fails
// with AnthropicAPIError (200, "Claude declined to analyze this video."). Any other error ends
// the analysis. Progress: 0.8 + 0.2 × batch / batches.
Result analyze(const std::vector<SceneInput>& scenes, const AnthropicClient& client,
               const ProgressHandler& progress, const std::stop_token& stop);

// The fixed instructions every batch carries.
const std::string& systemPrompt();
// "Scene 3 — 12.0s to 20.5s (8.5s long), visual quality 42/100 (blurry). Keyframes:"
std::string sceneLine(const SceneInput& scene);

}  // namespace brisklet::ClaudeSceneAnalyzer
