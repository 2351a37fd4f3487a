#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "analysis/AIDirector.h"
#include "platform/JsonFields.h"
#include "support/FakeService.h"
#include "support/ModelAnswers.h"

namespace brisklet {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::ScriptedResponse;

EditPlan plan() {
  EditPlan result;
  result.runningSummary = "A morning in Lisbon.";
  for (int index = 0; index < 4; ++index) {
    Segment segment;
    segment.id = Uuid::random();
    segment.startSec = index * 4.0;
    segment.endSec = index * 4.0 + (index == 3 ? 3.5 : 4.0);
    result.segments.push_back(segment);
  }
  result.segments[0].keep = false;
  result.segments[0].quality = QualityScores{.composite = 0.734};
  result.segments[0].activity = "Brewing coffee";
  result.segments[0].sceneDescription = "Pouring the first cup.";
  return result;
}

ScriptedResponse answer(const nlohmann::json& answered,
                        const std::string& stopReason = "end_turn") {
  return testing::modelAnswer(answered.dump(), stopReason);
}

class AIDirectorTest : public ::testing::Test {
 protected:
  testing::FakeService service{"BRISKLET_ANTHROPIC_BASE_URL"};
  AnthropicClient client{"key", "claude-sonnet-5", testing::noPauses()};

  nlohmann::json lastBody() const { return nlohmann::json::parse(service.requests().back().body); }
};

TEST(AIDirector, TheSceneTableListsEverySegment) {
  EditPlan table = plan();
  EXPECT_EQ(AIDirector::sceneTable(table),
            "Scene 0 [0.0\u20134.0s] keep=no quality=73 activity=Brewing coffee: Pouring the first "
            "cup.\n"
            "Scene 1 [4.0\u20138.0s] keep=yes quality=\u2013 activity=?: unanalyzed\n"
            "Scene 2 [8.0\u201312.0s] keep=yes quality=\u2013 activity=?: unanalyzed\n"
            "Scene 3 [12.0\u201315.5s] keep=yes quality=\u2013 activity=?: unanalyzed");
  EXPECT_EQ(AIDirector::sceneTable(EditPlan{}), "");
}

TEST_F(AIDirectorTest, NotesAskWithAPlainPromptAndComeBackAsWritten) {
  service.enqueue(answer({{"notes", {" Open on the coffee. ", "Film a closing shot."}}}));
  EXPECT_THAT(AIDirector::editorNotes(plan(), client, {}),
              ElementsAre(" Open on the coffee. ", "Film a closing shot."));
  const nlohmann::json body = lastBody();
  EXPECT_EQ(body["max_tokens"], 4000);
  EXPECT_EQ(body["system"],
            nlohmann::json::array(
                {{{"type", "text"}, {"text", "You are a sharp, encouraging vlog editor."}}}));
  const std::string prompt = body["messages"][0]["content"];
  EXPECT_TRUE(
      prompt.starts_with("You are reviewing the scene list of a first-person vlog edit. "
                         "Story so far: A morning in Lisbon.\n\nScene 0 [0.0"));
  EXPECT_THAT(prompt, HasSubstr("unanalyzed\n\nGive 3-6 short, concrete editorial suggestions"));
  EXPECT_TRUE(prompt.ends_with("Refer to scenes by their number and time."));
  EXPECT_EQ(body["output_config"]["format"]["schema"]["required"], nlohmann::json{"notes"});

  service.enqueue(answer({}, "refusal"));
  EXPECT_TRUE(AIDirector::editorNotes(plan(), client, {}).empty());
  service.enqueue(answer({{"notes", "just one"}}));
  EXPECT_THROW(AIDirector::editorNotes(plan(), client, {}), JsonFieldError);
}

TEST_F(AIDirectorTest, MusicMustBeExactlyOneOfTheCandidates) {
  const std::vector<std::string> tracks{"Sunny Walk.mp3", "night-drive.m4a"};
  service.enqueue(answer({{"file_name", "night-drive.m4a"}, {"why", "calm"}}));
  service.enqueue(answer({{"file_name", "sunny walk.mp3"}, {"why", "bright"}}));
  service.enqueue(answer({{"file_name", ""}, {"why", "nothing fits"}}));
  service.enqueue(answer({}, "refusal"));
  EXPECT_EQ(AIDirector::pickMusic(tracks, plan(), client, {}), "night-drive.m4a");
  const nlohmann::json body = lastBody();
  EXPECT_EQ(body["max_tokens"], 1000);
  const std::string prompt = body["messages"][0]["content"];
  EXPECT_THAT(prompt, HasSubstr("Vlog summary: A morning in Lisbon.\n\nScenes:\nScene 0"));
  EXPECT_THAT(prompt, HasSubstr("(royalty-free, judged by file name only):\nSunny "
                                "Walk.mp3\nnight-drive.m4a\n\nPick the single best-matching"));
  EXPECT_EQ(body["output_config"]["format"]["schema"]["required"],
            (nlohmann::json{"file_name", "why"}));
  EXPECT_EQ(AIDirector::pickMusic(tracks, plan(), client, {}), std::nullopt);
  EXPECT_EQ(AIDirector::pickMusic(tracks, plan(), client, {}), std::nullopt);
  EXPECT_EQ(AIDirector::pickMusic(tracks, plan(), client, {}), std::nullopt);
}

TEST_F(AIDirectorTest, HighlightsAreValidatedButNotReordered) {
  service.enqueue(
      answer({{"clips",
               {{{"scene_index", 2}, {"start_offset_sec", -1.2}, {"duration_sec", 3.0}},
                {{"scene_index", 1}, {"start_offset_sec", 0.5}, {"duration_sec", 0.5}},
                {{"scene_index", -1}, {"start_offset_sec", 0}, {"duration_sec", 3}},
                {{"scene_index", 4}, {"start_offset_sec", 0}, {"duration_sec", 3}},
                {{"scene_index", 0}, {"start_offset_sec", 1}, {"duration_sec", 9.5}}}}}));
  const auto clips = AIDirector::pickHighlights(plan(), 30.9, client, {});
  EXPECT_THAT(clips, ElementsAre(AIDirector::HighlightClip{2, 0.0, 3.0},
                                 AIDirector::HighlightClip{0, 1.0, 9.5}));
  const nlohmann::json body = lastBody();
  EXPECT_EQ(body["system"][0]["text"], "You edit viral vertical Shorts from vlog footage.");
  const std::string prompt = body["messages"][0]["content"];
  EXPECT_TRUE(
      prompt.starts_with("Build a 30-second vertical Short from this vlog \u2014 the "
                         "absolute best moments only"));
  EXPECT_THAT(prompt, HasSubstr("totaling as close to 30 seconds as possible.\n\nVlog summary: "
                                "A morning in Lisbon.\n\nScenes:\nScene 0"));
  service.enqueue(answer({}, "refusal"));
  EXPECT_TRUE(AIDirector::pickHighlights(plan(), 30, client, {}).empty());
}

}  // namespace
}  // namespace brisklet
