#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "analysis/anthropic/SceneAnalysisSchema.h"
#include "platform/JsonFields.h"

namespace brisklet {
namespace {

using ::testing::HasSubstr;

nlohmann::json sceneJson(int index, double offset) {
  return {{"scene_index", index},
          {"description", "Pouring coffee."},
          {"activity", "Brewing coffee"},
          {"keep", true},
          {"keep_reason", "Warm opener"},
          {"narration", "First, coffee."},
          {"narration_start_offset_sec", offset}};
}

TEST(SceneAnalysisSchema, DecodesAnAnswerAndClampsTheNarrationOffset) {
  const nlohmann::json answer = {
      {"running_summary", "Morning at home."},
      {"scenes", {sceneJson(0, -2.5), sceneJson(1, 900), sceneJson(7, 3.25)}},
      {"extra", "ignored"}};
  const auto response = SceneAnalysisSchema::decode(answer.dump());
  EXPECT_EQ(response.runningSummary, "Morning at home.");
  ASSERT_EQ(response.scenes.size(), 3u);
  EXPECT_EQ(response.scenes[0].narrationStartOffsetSec, -2.5) << "clamped later, not here";
  EXPECT_EQ(SceneAnalysisSchema::sceneAnalysis(response.scenes[0]).narrationStartOffsetSec, 0.0);
  EXPECT_EQ(SceneAnalysisSchema::sceneAnalysis(response.scenes[1]).narrationStartOffsetSec, 600.0);
  const SceneAnalysis third = SceneAnalysisSchema::sceneAnalysis(response.scenes[2]);
  EXPECT_EQ(third, (SceneAnalysis{.sceneIndex = 7,
                                  .description = "Pouring coffee.",
                                  .activity = "Brewing coffee",
                                  .keep = true,
                                  .keepReason = "Warm opener",
                                  .narration = "First, coffee.",
                                  .narrationStartOffsetSec = 3.25}));

  const auto empty = SceneAnalysisSchema::decode(R"({"scenes":[],"running_summary":"Nothing."})");
  EXPECT_TRUE(empty.scenes.empty());
  EXPECT_EQ(empty.runningSummary, "Nothing.");
}

TEST(SceneAnalysisSchema, AnyMissingOrMistypedKeyFailsTheBatch) {
  nlohmann::json answer = {{"running_summary", "x"},
                           {"scenes", {sceneJson(0, 1), sceneJson(1, 1)}}};
  answer["scenes"][1].erase("keep_reason");
  EXPECT_THROW(SceneAnalysisSchema::decode(answer.dump()), JsonFieldError);

  for (const auto& [key, value] :
       std::vector<std::pair<std::string, nlohmann::json>>{{"scene_index", 1.5},
                                                           {"scene_index", "1"},
                                                           {"keep", "yes"},
                                                           {"narration", nullptr},
                                                           {"narration_start_offset_sec", "3"},
                                                           {"scene_index", 1e12}}) {
    nlohmann::json broken = {{"running_summary", "x"}, {"scenes", {sceneJson(0, 1)}}};
    broken["scenes"][0][key] = value;
    EXPECT_THROW(SceneAnalysisSchema::decode(broken.dump()), JsonFieldError) << key;
  }
  EXPECT_THROW(SceneAnalysisSchema::decode(R"({"scenes":[]})"), JsonFieldError);
  EXPECT_THROW(SceneAnalysisSchema::decode("[]"), JsonFieldError);
  // The text is taken as it is: no search for the JSON inside prose.
  EXPECT_THROW(SceneAnalysisSchema::decode(R"(Here you go: {"scenes":[],"running_summary":""})"),
               JsonSyntaxError);
}

TEST(SceneAnalysisSchema, TheSchemaAllowsExactlyTheKeysTheDecoderRequires) {
  const nlohmann::json& schema = SceneAnalysisSchema::json();
  const nlohmann::json& scene = schema["properties"]["scenes"]["items"];
  for (const nlohmann::json* object : {&schema, &scene}) {
    EXPECT_EQ((*object)["additionalProperties"], false);
    EXPECT_EQ((*object)["required"].size(), (*object)["properties"].size());
    for (const auto& key : (*object)["required"])
      EXPECT_TRUE((*object)["properties"].contains(key.get<std::string>())) << key;
  }
  EXPECT_EQ(scene["required"].size(), 7u);
}

}  // namespace
}  // namespace brisklet
