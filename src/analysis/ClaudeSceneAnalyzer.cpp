#include "analysis/ClaudeSceneAnalyzer.h"

#include <span>

#include "analysis/anthropic/SceneAnalysisSchema.h"
#include "platform/Base64.h"
#include "platform/Log.h"
#include "platform/NumberText.h"

namespace brisklet::ClaudeSceneAnalyzer {
namespace {

using nlohmann::json;

// A score below this earns the scene a flag in its quality note.
constexpr double kQualityFlagThreshold = 0.35;

std::string qualityNote(const std::optional<QualityScores>& quality) {
  if (!quality) return "no automated quality score";
  std::string note = "visual quality " + fixedPoint(quality->composite * 100, 0) + "/100";
  std::vector<std::string> flags;
  if (quality->blur < kQualityFlagThreshold) flags.push_back("blurry");
  if (quality->exposure < kQualityFlagThreshold) flags.push_back("badly exposed");
  if (quality->shake < kQualityFlagThreshold) flags.push_back("shaky");
  for (size_t index = 0; index < flags.size(); ++index)
    note += (index == 0 ? " (" : ", ") + flags[index];
  if (!flags.empty()) note += ")";
  return note;
}

struct BatchResult {
  std::vector<SceneAnalysis> analyses;
  std::string runningSummary;
};

json userContent(std::span<const SceneInput> batch, const std::string& runningSummary) {
  json content = json::array();
  content.push_back(
      {{"type", "text"},
       {"text", "The story so far: " + runningSummary + "\n\nAnalyze the following " +
                    std::to_string(batch.size()) + " scenes. Echo each scene's index exactly."}});
  for (const SceneInput& scene : batch) {
    content.push_back({{"type", "text"}, {"text", sceneLine(scene)}});
    for (const std::string& keyframe : scene.keyframes) {
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(keyframe.data());
      content.push_back({{"type", "image"},
                         {"source",
                          {{"type", "base64"},
                           {"media_type", "image/jpeg"},
                           {"data", encodeBase64({bytes, keyframe.size()})}}}});
    }
  }
  return content;
}

bool describesAnything(const SceneAnalysisSchema::BatchResponse& response) {
  for (const auto& scene : response.scenes)
    if (!scene.description.empty() || !scene.activity.empty()) return true;
  return false;
}

BatchResult analyzeBatch(std::span<const SceneInput> batch, const std::string& runningSummary,
                         const AnthropicClient& client, const std::stop_token& stop);

// A batch too long for one answer, asked as its first ⌊n/2⌋ scenes and then the rest with the
// summary the first half returned. A half that is refused (down to one scene that still runs out
// of tokens) loses only its own scenes; the batch is refused only when both halves are.
BatchResult analyzeInHalves(std::span<const SceneInput> batch, const std::string& runningSummary,
                            const AnthropicClient& client, const std::stop_token& stop) {
  const auto attempt = [&](std::span<const SceneInput> part,
                           const std::string& summary) -> std::optional<BatchResult> {
    try {
      return analyzeBatch(part, summary, client, stop);
    } catch (const BatchRefusedError& error) {
      logLine("Claude declined scenes " + std::to_string(part.front().index) + " to " +
              std::to_string(part.back().index) + ": " + error.what());
      return std::nullopt;
    }
  };
  const size_t half = batch.size() / 2;
  std::optional<BatchResult> first = attempt(batch.first(half), runningSummary);
  std::optional<BatchResult> second =
      attempt(batch.subspan(half), first ? first->runningSummary : runningSummary);
  if (!first && !second) throw BatchRefusedError();
  if (!first) return std::move(*second);
  if (second) {
    first->analyses.insert(first->analyses.end(), second->analyses.begin(),
                           second->analyses.end());
    first->runningSummary = std::move(second->runningSummary);
  }
  return std::move(*first);
}

BatchResult analyzeBatch(std::span<const SceneInput> batch, const std::string& runningSummary,
                         const AnthropicClient& client, const std::stop_token& stop) {
  const json system = json::array(
      {{{"type", "text"}, {"text", systemPrompt()}, {"cache_control", {{"type", "ephemeral"}}}}});
  const json messages =
      json::array({{{"role", "user"}, {"content", userContent(batch, runningSummary)}}});
  const auto ask = [&] {
    return client.complete(system, messages, SceneAnalysisSchema::json(), kMaxTokens, stop);
  };

  const AnthropicClient::Completion completion = ask();
  if (completion.stopReason == "refusal") throw BatchRefusedError();
  if (completion.stopReason == "max_tokens") {
    if (batch.size() < 2) throw BatchRefusedError();
    return analyzeInHalves(batch, runningSummary, client, stop);
  }
  SceneAnalysisSchema::BatchResponse response = SceneAnalysisSchema::decode(completion.text);
  if (!describesAnything(response)) {
    // An empty reading is sometimes a fluke: the same question once more.
    const AnthropicClient::Completion again = ask();
    if (again.stopReason != "refusal") response = SceneAnalysisSchema::decode(again.text);
  }
  BatchResult result{.analyses = {}, .runningSummary = std::move(response.runningSummary)};
  for (const auto& scene : response.scenes)
    result.analyses.push_back(SceneAnalysisSchema::sceneAnalysis(scene));
  return result;
}

}  // namespace

const std::string& systemPrompt() {
  static const std::string prompt =
      "You are an expert vlog editor working on a first-person vlog. You receive scenes from a "
      "raw, unedited video: for each scene you get keyframe images, its timing, and an automated "
      "visual-quality score.\n\n"
      "Your job, per scene:\n"
      "1. Describe what is happening.\n"
      "2. Decide whether the scene belongs in the final edit. Cut scenes that are boring, "
      "redundant (e.g. the third near-identical shot of the same action), accidental (pocket "
      "footage, floor, ceiling), or add nothing to the story. Keep the scenes that move the "
      "day's story forward. A good vlog keeps roughly 40-70% of raw footage.\n"
      "3. Write narration in the vlogger's own voice: first person, present tense, casual and "
      "warm, like talking to a friend. One or two short sentences per scene at most \u2014 "
      "narration should breathe, not wall-to-wall talk. Leave narration empty for scenes that "
      "speak for themselves or that you cut. Never describe the obvious (\"here I am making "
      "coffee\"); add feeling, context, or humor instead (\"I like to start the morning with a "
      "hot cup of coffee \u2014 non-negotiable\").\n"
      "4. Suggest when the narration should start, as seconds into the scene.\n\n"
      "Maintain narrative continuity with the running summary you are given, and return an "
      "updated running summary including the new scenes.";
  return prompt;
}

std::string sceneLine(const SceneInput& scene) {
  return "Scene " + std::to_string(scene.index) + " \u2014 " + fixedPoint(scene.startSec, 1) +
         "s to " + fixedPoint(scene.endSec, 1) + "s (" +
         fixedPoint(scene.endSec - scene.startSec, 1) + "s long), " + qualityNote(scene.quality) +
         ". Keyframes:";
}

Result analyze(const std::vector<SceneInput>& scenes, const AnthropicClient& client,
               const ProgressHandler& progress, const std::stop_token& stop) {
  Result result{.analyses = {}, .runningSummary = kInitialSummary};
  if (scenes.empty()) return result;
  const size_t batches = (scenes.size() + kScenesPerBatch - 1) / kScenesPerBatch;
  size_t refusals = 0;
  for (size_t batch = 0; batch < batches; ++batch) {
    progress({kStageName, 0.8 + 0.2 * static_cast<double>(batch) / static_cast<double>(batches)});
    const std::span<const SceneInput> all(scenes);
    const size_t first = batch * kScenesPerBatch;
    try {
      BatchResult answered =
          analyzeBatch(all.subspan(first, std::min<size_t>(kScenesPerBatch, scenes.size() - first)),
                       result.runningSummary, client, stop);
      result.analyses.insert(result.analyses.end(), answered.analyses.begin(),
                             answered.analyses.end());
      result.runningSummary = std::move(answered.runningSummary);
    } catch (const BatchRefusedError& error) {
      logLine("Claude declined batch " + std::to_string(batch) + ": " + error.what());
      ++refusals;
    }
  }
  if (refusals == batches) throw AnthropicAPIError(200, "Claude declined to analyze this video.");
  return result;
}

}  // namespace brisklet::ClaudeSceneAnalyzer
