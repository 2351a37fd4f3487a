#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "model/EditPlan.h"
#include "model/ModelJson.h"
#include "model/NarrationFile.h"
#include "support/Projects.h"

namespace brisklet {
namespace {

using testing::segment;

using json = nlohmann::json;

// Decodes a document the way records are read: from its text.
template <typename T>
T decoded(const json& document) {
  return decodeJson<T>(document.dump());
}

std::vector<std::string> keysOf(const json& object) {
  std::vector<std::string> keys;
  for (const auto& item : object.items()) keys.push_back(item.key());
  return keys;
}

TEST(EditPlan, KeptDurationAddsTheKeptSegmentsOnly) {
  EditPlan plan;
  EXPECT_EQ(plan.keptDurationSec(), 0.0);
  plan.segments = {segment(0, 3, false), segment(3, 4.5, false)};
  EXPECT_EQ(plan.keptDurationSec(), 0.0);
  plan.segments = {segment(0, 3, true), segment(3, 10, false), segment(10, 12.5, true)};
  EXPECT_DOUBLE_EQ(plan.keptDurationSec(), 5.5);
}

TEST(OutputSettings, RawValuesLabelsAndLenientReading) {
  const std::vector<std::pair<AspectRatio, std::string>> aspects = {
      {AspectRatio::original, "original"},
      {AspectRatio::wide, "16:9"},
      {AspectRatio::vertical, "9:16"},
      {AspectRatio::square, "1:1"},
      {AspectRatio::portrait, "4:5"}};
  for (const auto& [aspect, raw] : aspects) {
    EXPECT_EQ(rawValue(aspect), raw);
    EXPECT_EQ(aspectRatioFromStored(raw), aspect);
  }
  EXPECT_EQ(label(AspectRatio::vertical), "9:16 · Reels / Shorts");
  EXPECT_EQ(symbolName(AspectRatio::wide), "rectangle.ratio.16.to.9");
  for (const char* unknown : {"", "16:10", "Original", "wide"})
    EXPECT_EQ(aspectRatioFromStored(std::string_view(unknown)), AspectRatio::original) << unknown;
  EXPECT_EQ(aspectRatioFromStored(std::nullopt), AspectRatio::original);

  EXPECT_EQ(transitionStyleFromStored(std::string_view("dipToBlack")), TransitionStyle::dipToBlack);
  for (const char* other : {"none", "DipToBlack", "fade", ""})
    EXPECT_EQ(transitionStyleFromStored(std::string_view(other)), TransitionStyle::none) << other;
  EXPECT_EQ(transitionStyleFromStored(std::nullopt), TransitionStyle::none);
  EXPECT_EQ(label(TransitionStyle::none), "Hard cuts");
  EXPECT_EQ(label(TransitionStyle::dipToBlack), "Dip to black");
}

TEST(EditPlanJson, ABareSegmentHasExactlyTheFiveRequiredKeys) {
  EXPECT_THAT(keysOf(json(segment(1, 2, true))),
              ::testing::ElementsAre("endSec", "id", "keep", "startSec", "userOverrodeKeep"));
}

TEST(EditPlanJson, EveryTypeRoundTrips) {
  const EditPlan plan = testing::samplePlan(12, 7);
  EXPECT_EQ(decoded<EditPlan>(json(plan)), plan);
  for (const Segment& each : plan.segments) EXPECT_EQ(decoded<Segment>(json(each)), each);

  NarrationClip clip{.text = "Ça va? 東京 🚆",
                     .userEditedText = true,
                     .audioFileName = "narration_A_B.mp3",
                     .startOffsetSec = 0.125,
                     .durationSec = 3.5,
                     .status = NarrationStatus::stale};
  EXPECT_EQ(decoded<NarrationClip>(json(clip)), clip);
  const QualityScores scores{0.1, 0.2, 0.3, 0.4, 0.5, true};
  EXPECT_EQ(decoded<QualityScores>(json(scores)), scores);

  EditPlan withNotes = plan;
  withNotes.editorSuggestions = std::vector<std::string>{"Open on the harbour.", "Trim the bus."};
  EXPECT_EQ(decoded<EditPlan>(json(withNotes)), withNotes);
}

TEST(EditPlanJson, SuggestionsAreWrittenOnlyWhenPresent) {
  json document = json(testing::samplePlan(2));
  EXPECT_FALSE(document.contains("editorSuggestions"));
  const EditPlan plan = decoded<EditPlan>(document);
  EXPECT_FALSE(plan.editorSuggestions.has_value());
  EXPECT_FALSE(json(plan).contains("editorSuggestions"));

  document["editorSuggestions"] = nullptr;  // a null optional reads as absent
  EXPECT_FALSE(decoded<EditPlan>(document).editorSuggestions.has_value());
}

TEST(EditPlanJson, DecodingIsStrictAboutRequiredKeysTypesAndStatuses) {
  const json good = json(testing::samplePlan(3));
  const std::vector<std::pair<std::string, std::function<void(json&)>>> breakages = {
      {"no planRevision", [](json& plan) { plan.erase("planRevision"); }},
      {"no runningSummary", [](json& plan) { plan.erase("runningSummary"); }},
      {"null segments", [](json& plan) { plan["segments"] = nullptr; }},
      {"segments not a list", [](json& plan) { plan["segments"] = json::object(); }},
      {"fractional revision", [](json& plan) { plan["planRevision"] = 3.5; }},
      {"text revision", [](json& plan) { plan["planRevision"] = "3"; }},
      {"unknown narration status",
       [](json& plan) { plan["segments"][0]["narration"]["status"] = "recording"; }},
      {"segment without keep", [](json& plan) { plan["segments"][1].erase("keep"); }},
      {"keep as number", [](json& plan) { plan["segments"][1]["keep"] = 1; }},
      {"bad segment id", [](json& plan) { plan["segments"][1]["id"] = "not-a-uuid"; }},
      {"quality missing a score",
       [](json& plan) { plan["segments"][0]["quality"].erase("shake"); }},
      {"startSec as text", [](json& plan) { plan["segments"][2]["startSec"] = "0"; }},
      {"suggestion not text", [](json& plan) { plan["editorSuggestions"] = json::array({1}); }},
      {"segment not an object", [](json& plan) { plan["segments"][0] = 5; }},
  };
  for (const auto& [what, breakIt] : breakages) {
    json broken = good;
    breakIt(broken);
    EXPECT_THROW(decoded<EditPlan>(broken), RecordError) << what;
  }

  json wholeRevision = good;
  wholeRevision["planRevision"] = 4.0;
  EXPECT_EQ(decoded<EditPlan>(wholeRevision).planRevision, 4) << "4.0 is still a whole number";
}

TEST(EditPlanJson, NumbersJsonCannotHoldAreRefusedOnEncoding) {
  EditPlan plan = testing::samplePlan(2);
  plan.segments[1].endSec = std::numeric_limits<double>::quiet_NaN();
  EXPECT_THROW(static_cast<void>(json(plan)), RecordError);
  plan = testing::samplePlan(1);
  plan.segments[0].narration->durationSec = std::numeric_limits<double>::infinity();
  EXPECT_THROW(static_cast<void>(json(plan)), RecordError);
}

TEST(NarrationFile, NamesCarryTheSegmentAndAHashOfTheExactText) {
  EXPECT_EQ(textHash("abc"), "ba7816bf8f01");
  EXPECT_NE(textHash("Hello."), textHash("hello."));
  EXPECT_NE(textHash("Hello."), textHash("Hello. "));
  const Uuid id = *Uuid::parse("0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9");
  EXPECT_EQ(narrationFileName(id, "abc"),
            "narration_0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9_ba7816bf8f01.mp3");
}

}  // namespace
}  // namespace brisklet
