#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "analysis/ClaudeSceneAnalyzer.h"
#include "analysis/anthropic/SceneAnalysisSchema.h"
#include "platform/Cancellation.h"
#include "platform/JsonFields.h"
#include "support/FakeService.h"
#include "support/ModelAnswers.h"

namespace brisklet {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::ScriptedResponse;
using Scene = ClaudeSceneAnalyzer::SceneInput;

std::vector<Scene> scenes(int count) {
  std::vector<Scene> result;
  for (int index = 0; index < count; ++index)
    result.push_back({.index = index,
                      .startSec = index * 4.0,
                      .endSec = index * 4.0 + 4.0,
                      .quality = std::nullopt,
                      .keyframes = {"jpeg-" + std::to_string(index)}});
  return result;
}

// The model's answer for the scenes `first`…`last`, ending with `summary`.
ScriptedResponse answer(int first, int last, const std::string& summary,
                        const std::string& stopReason = "end_turn") {
  nlohmann::json answered = {{"running_summary", summary}, {"scenes", nlohmann::json::array()}};
  for (int index = first; index <= last; ++index)
    answered["scenes"].push_back({{"scene_index", index},
                                  {"description", "Scene " + std::to_string(index)},
                                  {"activity", "walking"},
                                  {"keep", index % 2 == 0},
                                  {"keep_reason", "because"},
                                  {"narration", ""},
                                  {"narration_start_offset_sec", 1.0}});
  return testing::modelAnswer(answered.dump(), stopReason);
}

class ClaudeSceneAnalyzerTest : public ::testing::Test {
 protected:
  testing::FakeService service{"BRISKLET_ANTHROPIC_BASE_URL"};
  AnthropicClient client{"key", "claude-sonnet-5", testing::noPauses()};
  std::vector<PipelineProgress> reports;

  ClaudeSceneAnalyzer::Result analyze(const std::vector<Scene>& input) {
    return ClaudeSceneAnalyzer::analyze(
        input, client, [this](const PipelineProgress& report) { reports.push_back(report); }, {});
  }

  // The user content blocks of each request.
  std::vector<nlohmann::json> contents() const {
    std::vector<nlohmann::json> result;
    for (const auto& request : service.requests())
      result.push_back(nlohmann::json::parse(request.body)["messages"][0]["content"]);
    return result;
  }
  static std::vector<int> scenesAsked(const nlohmann::json& content) {
    std::vector<int> indices;
    for (const auto& block : content)
      if (block["type"] == "text" && block["text"].get<std::string>().starts_with("Scene "))
        indices.push_back(std::stoi(block["text"].get<std::string>().substr(6)));
    return indices;
  }
};

TEST_F(ClaudeSceneAnalyzerTest, SendsBatchesOfEightCarryingTheStorySoFar) {
  service.enqueue(answer(0, 7, "Morning."));
  service.enqueue(answer(8, 15, "Morning and noon."));
  service.enqueue(answer(16, 16, "The whole day."));
  const auto result = analyze(scenes(17));

  ASSERT_EQ(result.analyses.size(), 17u);
  EXPECT_EQ(result.analyses[16].sceneIndex, 16);
  EXPECT_EQ(result.analyses[3].description, "Scene 3");
  EXPECT_EQ(result.runningSummary, "The whole day.");
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[0].stageName, "Understanding scenes with Claude\u2026");
  EXPECT_DOUBLE_EQ(reports[0].fraction, 0.8);
  EXPECT_NEAR(reports[1].fraction, 0.8667, 1e-4);
  EXPECT_NEAR(reports[2].fraction, 0.9333, 1e-4);

  const auto asked = contents();
  ASSERT_EQ(asked.size(), 3u);
  EXPECT_EQ(scenesAsked(asked[0]), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_THAT(scenesAsked(asked[2]), ElementsAre(16));
  EXPECT_EQ(asked[0][0]["text"],
            "The story so far: Nothing yet \u2014 these are the opening scenes.\n\nAnalyze the "
            "following 8 scenes. Echo each scene's index exactly.");
  EXPECT_EQ(asked[1][0]["text"],
            "The story so far: Morning.\n\nAnalyze the following 8 scenes. Echo each scene's "
            "index exactly.");
  EXPECT_THAT(asked[2][0]["text"].get<std::string>(), HasSubstr("Morning and noon."));
  // Each scene's line, then its pictures.
  EXPECT_EQ(asked[2][1],
            (nlohmann::json{{"type", "text"},
                            {"text",
                             "Scene 16 \u2014 64.0s to 68.0s (4.0s long), no automated quality "
                             "score. Keyframes:"}}));
  EXPECT_EQ(asked[2][2],
            (nlohmann::json{
                {"type", "image"},
                {"source",
                 {{"type", "base64"}, {"media_type", "image/jpeg"}, {"data", "anBlZy0xNg=="}}}}));

  const auto body = nlohmann::json::parse(service.requests()[0].body);
  EXPECT_EQ(body["max_tokens"], 16000);
  EXPECT_EQ(body["system"], nlohmann::json::array({{{"type", "text"},
                                                    {"text", ClaudeSceneAnalyzer::systemPrompt()},
                                                    {"cache_control", {{"type", "ephemeral"}}}}}));
  EXPECT_EQ(body["output_config"]["format"]["schema"], SceneAnalysisSchema::json());
}

TEST_F(ClaudeSceneAnalyzerTest, ABatchOutOfTokensIsAskedAgainInHalves) {
  service.enqueue(testing::modelStopped("max_tokens"));
  service.enqueue(answer(0, 1, "Two scenes in."));
  service.enqueue(answer(2, 4, "All five."));
  const auto result = analyze(scenes(5));
  EXPECT_EQ(result.analyses.size(), 5u);
  EXPECT_EQ(result.runningSummary, "All five.");
  const auto asked = contents();
  ASSERT_EQ(asked.size(), 3u);
  EXPECT_THAT(scenesAsked(asked[1]), ElementsAre(0, 1));
  EXPECT_THAT(scenesAsked(asked[2]), ElementsAre(2, 3, 4));
  EXPECT_THAT(asked[2][0]["text"].get<std::string>(), HasSubstr("so far: Two scenes in.\n\n"));
  EXPECT_THAT(asked[2][0]["text"].get<std::string>(), HasSubstr("following 3 scenes"));
}

TEST_F(ClaudeSceneAnalyzerTest, OneSceneThatAlwaysRunsOutOfTokensCostsOnlyItself) {
  service.enqueue(testing::modelStopped("max_tokens"));  // 0…7
  service.enqueue(answer(0, 3, "Four in."));              // 0…3
  service.enqueue(testing::modelStopped("max_tokens"));  // 4…7
  service.enqueue(testing::modelStopped("max_tokens"));  // 4, 5
  service.enqueue(answer(4, 4, "Five in."));              // 4
  service.enqueue(testing::modelStopped("max_tokens"));  // 5, on its own
  service.enqueue(answer(6, 7, "All but one."));          // 6, 7
  const auto result = analyze(scenes(8));

  std::vector<int> applied;
  for (const SceneAnalysis& analysis : result.analyses) applied.push_back(analysis.sceneIndex);
  EXPECT_THAT(applied, ElementsAre(0, 1, 2, 3, 4, 6, 7));
  EXPECT_EQ(result.runningSummary, "All but one.");
  const auto asked = contents();
  ASSERT_EQ(asked.size(), 7u);
  EXPECT_THAT(scenesAsked(asked[5]), ElementsAre(5));
  EXPECT_THAT(scenesAsked(asked[6]), ElementsAre(6, 7));
  EXPECT_THAT(asked[6][0]["text"].get<std::string>(), HasSubstr("so far: Five in.\n\n"))
      << "the refused scene leaves the story as it was";
}

TEST_F(ClaudeSceneAnalyzerTest, ARefusedBatchIsSkippedAndAllRefusedFails) {
  service.enqueue(answer(0, 7, "First part."));
  service.enqueue(testing::modelStopped("refusal"));
  service.enqueue(answer(16, 20, "Last part."));
  const auto result = analyze(scenes(21));
  EXPECT_EQ(result.analyses.size(), 13u);
  EXPECT_EQ(result.runningSummary, "Last part.");
  EXPECT_THAT(contents()[2][0]["text"].get<std::string>(), HasSubstr("so far: First part."));

  // A single scene out of tokens counts as refused.
  service.enqueue(testing::modelStopped("refusal"));
  service.enqueue(testing::modelStopped("max_tokens"));
  try {
    analyze(scenes(9));
    ADD_FAILURE() << "every batch was refused, yet the call succeeded";
  } catch (const AnthropicAPIError& error) {
    EXPECT_EQ(error.statusCode(), 200);
    EXPECT_EQ(error.message(), "Claude declined to analyze this video.");
  }
  EXPECT_EQ(ClaudeSceneAnalyzer::analyze({}, client, [](const auto&) {}, {}).runningSummary,
            ClaudeSceneAnalyzer::kInitialSummary);
}

TEST_F(ClaudeSceneAnalyzerTest, AnEmptyReadingIsAskedOnceMore) {
  service.enqueue(answer(0, -1, "Nothing seen."));  // no scenes at all
  service.enqueue(answer(0, 2, "Seen now."));
  EXPECT_EQ(analyze(scenes(3)).analyses.size(), 3u);
  EXPECT_EQ(service.requests().size(), 2u);
  EXPECT_EQ(service.requests()[0].body, service.requests()[1].body) << "the identical request";

  // A refusal the second time keeps the first answer.
  service.enqueue(answer(0, -1, "Still nothing."));
  service.enqueue(testing::modelStopped("refusal"));
  const auto kept = analyze(scenes(3));
  EXPECT_TRUE(kept.analyses.empty());
  EXPECT_EQ(kept.runningSummary, "Still nothing.");
}

TEST_F(ClaudeSceneAnalyzerTest, AnAnswerThatDoesNotDecodeEndsTheAnalysis) {
  service.enqueue(answer(0, 7, "ok"));
  service.enqueue({.body = R"({"content":[{"type":"text","text":"{\"scenes\":[]}"}]})"});
  EXPECT_THROW(analyze(scenes(12)), JsonFieldError);
  service.enqueue({.status = 400, .body = R"({"error":{"message":"too many images"}})"});
  EXPECT_THROW(analyze(scenes(1)), AnthropicAPIError);
}

TEST(ClaudeSceneAnalyzer, SceneLinesCarryTimingAndAQualityNote) {
  Scene scene{.index = 3, .startSec = 12.04, .endSec = 20.55, .quality = QualityScores{}};
  scene.quality->composite = 0.42;
  scene.quality->blur = 0.2;
  scene.quality->exposure = 0.9;
  scene.quality->shake = 0.9;
  EXPECT_EQ(ClaudeSceneAnalyzer::sceneLine(scene),
            "Scene 3 \u2014 12.0s to 20.6s (8.5s long), visual quality 42/100 (blurry). "
            "Keyframes:");
  scene.quality->exposure = 0.1;
  scene.quality->shake = 0.3;
  scene.quality->composite = 0.999;
  EXPECT_THAT(ClaudeSceneAnalyzer::sceneLine(scene),
              HasSubstr("visual quality 100/100 (blurry, badly exposed, shaky)."));
  scene.quality->blur = scene.quality->exposure = scene.quality->shake = 0.35;
  EXPECT_THAT(ClaudeSceneAnalyzer::sceneLine(scene), HasSubstr("visual quality 100/100."));
}

}  // namespace
}  // namespace brisklet
