#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>

#include <QTimer>
#include <nlohmann/json.hpp>

#include "app/AppState.h"
#include "app/ProjectComposition.h"
#include "media/CompositionBuilder.h"
#include "platform/Bookmark.h"
#include "model/AppSettings.h"
#include "model/NarrationFile.h"
#include "platform/AtomicFile.h"
#include "support/FakeService.h"
#include "support/MediaGenerator.h"
#include "support/Projects.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

using ::testing::ElementsAre;
using testing::entriesOf;
using ::testing::IsEmpty;

constexpr const char* kKey = "el-key-SENTINEL-77c2";
constexpr const char* kVoice = "Voice_01-x";

class NarrationCommandTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;
  ProjectStore store{folder / "Projects"};
  testing::FakeService speech{"BRISKLET_ELEVENLABS_BASE_URL"};
  std::unique_ptr<AppState> state = std::make_unique<AppState>(store);
  std::string mp3;  // 1.234 s of tone

  void SetUp() override {
    state->setKeySource([](KeychainStore::Key key) -> std::optional<std::string> {
      if (key == KeychainStore::Key::elevenLabs) return kKey;
      return std::nullopt;
    });
    AppSettings::setVoiceID(kVoice);
    testing::runFfmpeg({"-f", "lavfi", "-i", "sine=f=330:d=1.234", "-c:a", "libmp3lame",
                        (folder / "line.mp3").string()});
    mp3 = readFile(folder / "line.mp3");
  }

  // A project whose kept segments carry `lines` waiting for audio, and then a dropped segment
  // with a line and a kept one with an empty line, which never get audio. The first starts 3 s
  // in, leaving room for a segment in front.
  Project projectWith(const std::vector<std::string>& lines) {
    EditPlan plan;
    double start = 3;
    const auto add = [&](const std::string& text, bool keep) {
      Segment made = testing::segment(start, start + 3, keep);
      made.narration = NarrationClip{};
      made.narration->text = text;
      plan.segments.push_back(made);
      start += 3;
    };
    for (const std::string& line : lines) add(line, true);
    add("Dropped, never spoken.", false);
    add("", true);
    Project project = testing::sampleProject("Narrated", "2025-03-01T10:00:00Z");
    project.videoDurationSec = 200;
    project.editPlan = plan;
    state->insertProject(project);
    return project;
  }

  void answerWithSpeech(int count) {
    for (int index = 0; index < count; ++index)
      speech.enqueue({.status = 200, .body = mp3, .contentType = "audio/mpeg"});
  }

  const EditPlan& planOf(const Project& project) { return *state->project(project.id)->editPlan; }
  std::filesystem::path narrationFolder(const Project& project) {
    return store.projectDirectory(project.id) / "narration";
  }
  void narrate(const Project& project) {
    state->setLastError(std::nullopt);
    QCoro::waitFor(state->generateNarrationAudio(project.id));
  }
};

TEST_F(NarrationCommandTest, EachLineIsSpokenOnceAndItsFileUsedFromThenOn) {
  const Project project = projectWith({"One.", "Two.", "Three.", "Four.", "Five."});
  answerWithSpeech(5);
  std::vector<PipelineProgress> shown;
  QObject::connect(state.get(), &AppState::pipelineProgressChanged, [&] {
    if (state->pipelineProgress()) shown.push_back(*state->pipelineProgress());
  });
  narrate(project);

  EXPECT_FALSE(state->lastError()) << state->lastError().value_or("");
  EXPECT_FALSE(state->pipelineProgress());
  ASSERT_EQ(speech.requests().size(), 5u);
  const testing::RecordedRequest first = speech.requests()[0];
  EXPECT_EQ(first.method, "POST");
  EXPECT_EQ(first.path, std::string("/v1/text-to-speech/") + kVoice);
  EXPECT_EQ(first.headers.at("xi-api-key"), kKey);
  EXPECT_EQ(nlohmann::json::parse(first.body).at("text"), "One.");
  ASSERT_GE(shown.size(), 6u);
  EXPECT_EQ(shown[0], (PipelineProgress{"Generating narration\u2026", 0.0}));
  EXPECT_EQ(shown[3], (PipelineProgress{"Generating narration\u2026 (3/5)", 0.4}));

  const EditPlan& plan = planOf(project);
  EXPECT_EQ(plan.planRevision, project.editPlan->planRevision + 1);
  for (int index = 0; index < 5; ++index) {
    const Segment& segment = plan.segments[index];
    ASSERT_EQ(segment.narration->status, NarrationStatus::ready);
    EXPECT_EQ(segment.narration->audioFileName,
              narrationFileName(segment.id, segment.narration->text));
    EXPECT_NEAR(segment.narration->durationSec.value_or(0), 1.234, 0.03);
    EXPECT_EQ(readFile(narrationFolder(project) / *segment.narration->audioFileName), mp3);
  }
  EXPECT_FALSE(plan.segments[5].narration->audioFileName) << "a dropped line is not spoken";
  EXPECT_FALSE(plan.segments[6].narration->audioFileName) << "nor an empty one";
  EXPECT_EQ(entriesOf(narrationFolder(project)).size(), 5u);

  narrate(project);
  EXPECT_EQ(state->lastError(), "All narration audio is already up to date.");
  EXPECT_EQ(speech.requests().size(), 5u);

  // A line that lost its audio record is made from the file already there, without a request.
  state->modifyProject(project.id, [](Project& stored) {
    stored.editPlan->segments[1].narration->audioFileName.reset();
    stored.editPlan->segments[1].narration->status = NarrationStatus::pendingAudio;
  });
  narrate(project);
  EXPECT_FALSE(state->lastError());
  EXPECT_EQ(speech.requests().size(), 5u);
  EXPECT_EQ(planOf(project).segments[1].narration->status, NarrationStatus::ready);
}

TEST_F(NarrationCommandTest, AFailureKeepsTheLinesBeforeItAndSaysWhere) {
  const Project project = projectWith({"One.", "Two.", "Three.", "Four.", "Five."});
  answerWithSpeech(2);
  speech.enqueue({.status = 400, .body = R"({"detail":{"message":"Quota exceeded"}})"});
  narrate(project);

  EXPECT_EQ(state->lastError(),
            "Generated 2 of 5 clips, then hit: ElevenLabs error (400): Quota exceeded");
  EXPECT_EQ(speech.requests().size(), 3u) << "a refusal is not asked again, and nothing after it";
  const Project stored = store.loadAll().at(0);
  const std::vector<Segment>& segments = stored.editPlan->segments;
  EXPECT_EQ(segments[0].narration->status, NarrationStatus::ready);
  EXPECT_EQ(segments[1].narration->status, NarrationStatus::ready);
  EXPECT_EQ(segments[2].narration->status, NarrationStatus::pendingAudio);
  EXPECT_FALSE(segments[2].narration->audioFileName);
  EXPECT_EQ(stored.editPlan->planRevision, project.editPlan->planRevision + 1);
  EXPECT_EQ(entriesOf(narrationFolder(project)).size(), 2u);
}

TEST_F(NarrationCommandTest, AudioThatDoesNotPlayIsNeverKept) {
  const Project project = projectWith({"One."});
  speech.enqueue({.status = 200, .body = "", .contentType = "audio/mpeg"});
  narrate(project);
  EXPECT_EQ(
      state->lastError(),
      "Generated 0 of 1 clips, then hit: The speech service sent audio that cannot be played.");
  EXPECT_THAT(entriesOf(narrationFolder(project)), IsEmpty()) << "not even a temporary";
  EXPECT_EQ(planOf(project).segments[0].narration->status, NarrationStatus::pendingAudio);

  // A damaged file from before, under the line's own name, is made again.
  const Segment& line = planOf(project).segments[0];
  const auto named = narrationFolder(project) / narrationFileName(line.id, "One.");
  testing::writeText(named, "ID3 and then nothing");
  answerWithSpeech(1);
  narrate(project);
  EXPECT_FALSE(state->lastError()) << state->lastError().value_or("");
  EXPECT_EQ(speech.requests().size(), 2u);
  EXPECT_EQ(readFile(named), mp3);
  EXPECT_EQ(planOf(project).segments[0].narration->status, NarrationStatus::ready);
}

TEST_F(NarrationCommandTest, ResultsGoToTheirSegmentsAsThePlanIsAtTheEnd) {
  const Project project = projectWith({"One.", "Two.", "Three."});
  for (int index = 0; index < 3; ++index)
    speech.enqueue(
        {.status = 200, .body = mp3, .contentType = "audio/mpeg", .delayMilliseconds = 150});
  const Segment inserted = testing::segment(0, 3);
  // While the first line is being spoken: its text is edited, and a segment goes in front, so
  // every line moves one place on.
  QTimer::singleShot(50, state.get(), [&] {
    state->modifyProject(project.id, [&](Project& stored) {
      EditPlan& plan = *stored.editPlan;
      plan.segments[0] = testing::narrated(plan.segments[0], "One, again.");
      plan.segments.insert(plan.segments.begin(), inserted);
    });
  });
  narrate(project);

  EXPECT_FALSE(state->lastError()) << state->lastError().value_or("");
  const std::vector<Segment>& segments = planOf(project).segments;
  EXPECT_EQ(segments[0], inserted) << "untouched";
  EXPECT_EQ(segments[1].narration->text, "One, again.");
  EXPECT_NE(segments[1].narration->status, NarrationStatus::ready)
      << "audio of the old text does not stand for the new one";
  EXPECT_FALSE(segments[1].narration->audioFileName);
  for (int index : {2, 3}) {
    EXPECT_EQ(segments[index].narration->status, NarrationStatus::ready);
    EXPECT_EQ(segments[index].narration->audioFileName,
              narrationFileName(segments[index].id, segments[index].narration->text));
  }
}

TEST_F(NarrationCommandTest, NothingStartsWithoutAKeyOrAVoiceThatCouldBeOne) {
  const Project project = projectWith({"One."});
  const std::string record = readFile(store.projectDirectory(project.id) / "project.json");
  state->setKeySource([](KeychainStore::Key) { return std::nullopt; });
  narrate(project);
  EXPECT_EQ(state->lastError(), "Add your ElevenLabs API key in Settings first.");

  state->setKeySource([](KeychainStore::Key) { return std::string(kKey); });
  for (const std::string voice : {"", "../../v1/user", "voice?x=1", "a b"}) {
    AppSettings::setVoiceID(voice);
    narrate(project);
    EXPECT_EQ(state->lastError(), "Create your voice clone first (Settings \u2192 Voice).")
        << voice;
  }
  EXPECT_THAT(speech.requests(), IsEmpty());
  EXPECT_FALSE(state->pipelineProgress());
  EXPECT_EQ(readFile(store.projectDirectory(project.id) / "project.json"), record);
}

TEST_F(NarrationCommandTest, CancellingStopsAtOnceWithoutRetryOrStatus) {
  const Project project = projectWith({"One.", "Two."});
  speech.enqueue({.status = 503, .body = "{}", .delayMilliseconds = 2000});
  QTimer::singleShot(100, state.get(), [&] { state->cancelRunningCommands(); });
  narrate(project);
  EXPECT_FALSE(state->lastError()) << state->lastError().value_or("");
  EXPECT_FALSE(state->pipelineProgress());
  EXPECT_EQ(speech.requests().size(), 1u);
  EXPECT_THAT(entriesOf(narrationFolder(project)), IsEmpty());
  EXPECT_EQ(planOf(project).segments[0].narration->status, NarrationStatus::pendingAudio);
}

// The captions an export of `project` carries, as the builder places them.
std::vector<std::string> captionTexts(const Project& project, const ProjectStore& store,
                                      const Asset& video) {
  std::vector<std::string> texts;
  for (const Caption& caption :
       CompositionBuilder::build(*project.editPlan, video, compositionInputs(project, store)).captions)
    texts.push_back(caption.text);
  return texts;
}

TEST_F(NarrationCommandTest, AReadyLineWhoseClipIsGoneOrDamagedIsMadeAgain) {
  testing::runFfmpeg({"-f", "lavfi", "-i", "color=gray:s=96x54:r=30:d=20", "-f", "lavfi", "-i",
                      "sine=f=300:d=20", "-pix_fmt", "yuv420p", (folder / "walk.mp4").string()});
  const Asset video = Asset::open(folder / "walk.mp4");
  const Project project = projectWith({"One.", "Two."});
  answerWithSpeech(2);
  narrate(project);
  ASSERT_EQ(captionTexts(*state->project(project.id), store, video),
            (std::vector<std::string>{"One.", "Two."}));
  const EditPlan& plan = planOf(project);
  std::filesystem::remove(narrationFolder(project) / *plan.segments[0].narration->audioFileName);
  testing::writeText(narrationFolder(project) / *plan.segments[1].narration->audioFileName,
                     std::string(4000, '\x5a'));

  EXPECT_EQ(state->narrationClipsToMake(project.id), 2u);
  EXPECT_EQ(state->lastError(),
            "2 narration clips need making (2 were missing or damaged): Generate Voice makes them.");
  EXPECT_EQ(planOf(project).segments[0].narration->status, NarrationStatus::pendingAudio);
  answerWithSpeech(2);
  narrate(project);
  EXPECT_FALSE(state->lastError()) << state->lastError().value_or("");
  EXPECT_EQ(speech.requests().size(), 4u) << "one request for each clip made again";
  EXPECT_EQ(captionTexts(*state->project(project.id), store, video),
            (std::vector<std::string>{"One.", "Two."}))
      << "both lines are in the export again";
  EXPECT_EQ(state->narrationClipsToMake(project.id), 0u);
}

TEST_F(NarrationCommandTest, CaptionsShowTheWordsTheClipSpeaksUntilItIsSpokenAgain) {
  testing::runFfmpeg({"-f", "lavfi", "-i", "color=gray:s=96x54:r=30:d=20", "-f", "lavfi", "-i",
                      "sine=f=300:d=20", "-pix_fmt", "yuv420p", (folder / "walk.mp4").string()});
  const Project project = projectWith({"One."});
  state->modifyProject(project.id, [&](Project& stored) {
    stored.videoBookmark = makeBookmark(folder / "walk.mp4");
  });
  answerWithSpeech(1);
  narrate(project);
  const Uuid line = planOf(project).segments[0].id;
  ASSERT_TRUE(state->makeEdit(project.id, SetNarrationText{line, "Uno."}));
  ASSERT_EQ(planOf(project).segments[0].narration->status, NarrationStatus::stale);
  const auto captions = [&] {
    const auto file = folder / "lines.srt";
    std::filesystem::remove(file);
    QCoro::waitFor(state->exportCaptions(project.id, file));
    return readFile(file);
  };
  const Asset video = Asset::open(folder / "walk.mp4");
  EXPECT_EQ(captionTexts(*state->project(project.id), store, video),
            (std::vector<std::string>{"One."}));
  EXPECT_THAT(captions(), ::testing::AllOf(::testing::HasSubstr("One."),
                                           ::testing::Not(::testing::HasSubstr("Uno."))));
  answerWithSpeech(1);
  narrate(project);
  EXPECT_EQ(captionTexts(*state->project(project.id), store, video),
            (std::vector<std::string>{"Uno."}));
  EXPECT_THAT(captions(), ::testing::HasSubstr("Uno."));
}

}  // namespace
}  // namespace brisklet
