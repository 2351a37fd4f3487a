#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>

#include "app/AppState.h"
#include "app/ProjectComposition.h"
#include "platform/AtomicFile.h"
#include "platform/Bookmark.h"
#include "support/MediaGenerator.h"
#include "support/Projects.h"
#include "support/ReadOnlyFolder.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

using ::testing::ElementsAre;
using testing::entriesOf;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

class AudioSettingsCommandTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;
  ProjectStore store{folder / "Projects"};
  AppState state{store};
  std::vector<std::string> stages;  // each stage shown, once

  AudioSettingsCommandTest() {
    QObject::connect(&state, &AppState::pipelineProgressChanged, [this] {
      const auto& shown = state.pipelineProgress();
      if (shown && (stages.empty() || stages.back() != shown->stageName))
        stages.push_back(shown->stageName);
    });
  }

  // A project of `app` for a video of `seconds`, with a plan; `withSound` gives the video a tone.
  Project project(bool withSound = true, AppState* app = nullptr, int seconds = 3) {
    const auto video = folder / (withSound ? "talk.mp4" : "mute.mp4");
    const std::string length = std::to_string(seconds);
    std::vector<std::string> arguments = {"-f", "lavfi", "-i", "color=gray:s=32x32:d=" + length};
    if (withSound)
      arguments.insert(arguments.end(), {"-f", "lavfi", "-i", "sine=f=300:d=" + length});
    arguments.push_back(video.string());
    testing::runFfmpeg(arguments);
    Project made = makeProject("Talk", makeBookmark(video), seconds);
    made.editPlan = EditPlan{.segments = {testing::segment(0, seconds)}, .planRevision = 1};
    (app ? *app : state).insertProject(made);
    return made;
  }

  const Project& now(const Project& project) { return *state.project(project.id); }
  std::vector<std::string> renders(const Project& project) {
    std::vector<std::string> names;
    for (const std::string& name : entriesOf(store.projectDirectory(project.id)))
      if (name.ends_with(".m4a")) names.push_back(name);
    return names;
  }
};

TEST_F(AudioSettingsCommandTest, EachSettingIsRenderedOnceAndUsedFromThenOn) {
  const Project talk = project();
  QCoro::waitFor(state.applyAudioSettings(talk.id, false, 130));
  EXPECT_FALSE(state.lastError()) << state.lastError().value_or("");
  EXPECT_FALSE(state.pipelineProgress());
  EXPECT_THAT(stages, ElementsAre("Enhancing audio\u2026", "Boosting volume\u2026"));
  EXPECT_EQ(now(talk).denoisedAudioFileName, "enhanced_raw_g130.m4a");
  EXPECT_EQ(now(talk).audioCrystalClear, false);
  EXPECT_EQ(now(talk).audioGainPercent, 130);
  EXPECT_EQ(now(talk).editPlan->planRevision, 2);
  EXPECT_EQ(compositionInputs(now(talk), store).cleanAudio,
            store.projectDirectory(talk.id) / "enhanced_raw_g130.m4a");

  // Out-of-range boosts are clamped; the name drops the fraction, the record keeps it.
  QCoro::waitFor(state.applyAudioSettings(talk.id, true, 80));
  EXPECT_EQ(now(talk).denoisedAudioFileName, "enhanced_cc_g100.m4a");
  EXPECT_EQ(now(talk).audioGainPercent, 100);
  QCoro::waitFor(state.applyAudioSettings(talk.id, false, 150.7));
  EXPECT_EQ(now(talk).denoisedAudioFileName, "enhanced_raw_g150.m4a");
  EXPECT_EQ(now(talk).audioGainPercent, 150.7);
  QCoro::waitFor(state.applyAudioSettings(talk.id, false, 250));
  EXPECT_EQ(now(talk).denoisedAudioFileName, "enhanced_raw_g200.m4a");
  EXPECT_THAT(renders(talk),
              UnorderedElementsAre("enhanced_raw_g130.m4a", "enhanced_cc_g100.m4a",
                                   "enhanced_raw_g150.m4a", "enhanced_raw_g200.m4a"));

  stages.clear();
  const std::string before = readFile(store.projectDirectory(talk.id) / "enhanced_raw_g130.m4a");
  QCoro::waitFor(state.applyAudioSettings(talk.id, false, 130));
  EXPECT_THAT(stages, IsEmpty()) << "settings used before switch at once";
  EXPECT_EQ(now(talk).denoisedAudioFileName, "enhanced_raw_g130.m4a");
  EXPECT_EQ(readFile(store.projectDirectory(talk.id) / "enhanced_raw_g130.m4a"), before);

  const std::int64_t revision = now(talk).editPlan->planRevision;
  QCoro::waitFor(state.applyAudioSettings(talk.id, false, 100.4));
  EXPECT_THAT(stages, IsEmpty());
  EXPECT_FALSE(now(talk).denoisedAudioFileName);
  EXPECT_FALSE(now(talk).audioCrystalClear);
  EXPECT_FALSE(now(talk).audioGainPercent);
  EXPECT_EQ(now(talk).editPlan->planRevision, revision + 1);
  EXPECT_FALSE(compositionInputs(now(talk), store).cleanAudio) << "the source's own sound";

  // Each setting is a step of undo, back to the render there was, without rendering again.
  ASSERT_TRUE(state.undo(talk.id));
  EXPECT_EQ(now(talk).denoisedAudioFileName, "enhanced_raw_g130.m4a");
  EXPECT_EQ(now(talk).audioGainPercent, 130);
  ASSERT_TRUE(state.undo(talk.id));
  EXPECT_EQ(now(talk).denoisedAudioFileName, "enhanced_raw_g200.m4a");
  EXPECT_THAT(stages, IsEmpty());
}

TEST_F(AudioSettingsCommandTest, ARenderThatEndsAfterANewerChoiceDoesNotUndoIt) {
  const Project talk = project();
  auto slow = state.applyAudioSettings(talk.id, true, 150);
  QCoro::waitFor(state.applyAudioSettings(talk.id, false, 100));
  QCoro::waitFor(std::move(slow));
  EXPECT_FALSE(now(talk).denoisedAudioFileName) << "the newer, untouched choice stands";
  EXPECT_THAT(renders(talk), ElementsAre("enhanced_cc_g150.m4a")) << "kept for later";
}

TEST_F(AudioSettingsCommandTest, FailuresKeepTheSettingsThereWereAndLeaveNoPartialRender) {
  const Project talk = project();
  QCoro::waitFor(state.applyAudioSettings(talk.id, false, 130));
  const std::string record = readFile(store.projectDirectory(talk.id) / "project.json");

  QCoro::waitFor(state.applyAudioSettings(talk.id, true, NAN));
  EXPECT_EQ(state.lastError(),
            "Audio enhancement failed: The volume boost must be a number from 100 to 200.");

  state.setLastError(std::nullopt);
  auto cancelled = state.applyAudioSettings(talk.id, true, 150);
  state.cancelRunningCommands();
  QCoro::waitFor(std::move(cancelled));
  EXPECT_FALSE(state.lastError()) << "a cancellation is not a failure";
  EXPECT_FALSE(state.pipelineProgress());

  std::filesystem::remove(folder / "talk.mp4");
  QCoro::waitFor(state.applyAudioSettings(talk.id, true, 150));
  EXPECT_THAT(state.lastError().value_or(""), ::testing::StartsWith("Audio enhancement failed: "));
  EXPECT_EQ(readFile(store.projectDirectory(talk.id) / "project.json"), record);
  EXPECT_THAT(renders(talk), ElementsAre("enhanced_raw_g130.m4a"));
  EXPECT_THAT(entriesOf(store.projectDirectory(talk.id)),
              UnorderedElementsAre(".lock", "project.json", "narration", "thumbs",
                                   "enhanced_raw_g130.m4a"));

  const Project mute = project(false);
  QCoro::waitFor(state.applyAudioSettings(mute.id, true, 150));
  EXPECT_EQ(state.lastError(), "Audio enhancement failed: This video has no audio track.");
  EXPECT_FALSE(now(mute).denoisedAudioFileName);
}

TEST_F(AudioSettingsCommandTest, AFullDiskLeavesNoRenderThatCouldPassForFinished) {
  testing::SmallDisk disk(folder / "disk", 256);
  if (!disk.works()) GTEST_SKIP() << "a small file system needs root";
  ProjectStore small(folder / "disk" / "Projects");
  AppState app(small);
  const Project talk = project(true, &app, 30);
  QCoro::waitFor(app.applyAudioSettings(talk.id, true, 150));
  EXPECT_THAT(app.lastError().value_or(""), ::testing::StartsWith("Audio enhancement failed: "));
  EXPECT_THAT(app.lastError().value_or(""), ::testing::HasSubstr("No space left on device"));
  EXPECT_FALSE(app.project(talk.id)->denoisedAudioFileName);
  EXPECT_THAT(entriesOf(small.projectDirectory(talk.id)),
              UnorderedElementsAre(".lock", "project.json", "narration", "thumbs"));
}

}  // namespace
}  // namespace brisklet
