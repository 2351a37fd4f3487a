#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>

#include "app/AppState.h"
#include "platform/AtomicFile.h"
#include "platform/Bookmark.h"
#include "support/MediaGenerator.h"
#include "support/Projects.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

// Two spoken sentences `pauseSec` apart, under a faint room, as a movie or a sound file.
void talkWithAPause(const std::filesystem::path& file, double pauseSec, bool picture) {
  std::vector<std::string> arguments{
      "-f", "lavfi", "-i", "flite=text='We made it to the top of the hill.':voice=slt",
      "-f", "lavfi", "-i", "anullsrc=r=8000:cl=mono:d=" + std::to_string(pauseSec),
      "-f", "lavfi", "-i", "flite=text='Look at that view over the valley.':voice=slt",
      "-f", "lavfi", "-i", "anoisesrc=c=pink:a=0.002:r=8000:d=12"};
  if (picture) arguments.insert(arguments.end(), {"-f", "lavfi", "-i", "color=gray:s=64x36:r=30"});
  arguments.insert(arguments.end(),
                   {"-filter_complex",
                    "[0][1][2]concat=n=3:v=0:a=1[talk];[talk][3]amix=inputs=2:duration=first:"
                    "normalize=0[a]",
                    "-map", "[a]"});
  if (picture) arguments.insert(arguments.end(), {"-map", "4:v", "-shortest", "-c:v", "libx264"});
  arguments.insert(arguments.end(), {"-ar", "48000", file.string()});
  testing::runFfmpeg(arguments);
}

class TightenCommandTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;
  ProjectStore store{folder / "Projects"};
  Project project = [this] {
    talkWithAPause(folder / "talk.mp4", 2.0, true);
    Project made = makeProject("Hill", makeBookmark(folder / "talk.mp4"), 6);
    made.editPlan = EditPlan{.segments = {testing::segment(0, 6)}};
    store.save(made);
    return made;
  }();
  AppState state{store};

  std::vector<SourceSpan> pauses() {
    return state.project(project.id)->editPlan->segments.at(0).removedPauses;
  }
};

TEST_F(TightenCommandTest, RemovesThePauseInOneStepOfUndo) {
  const CommandOutcome tightened = QCoro::waitFor(state.tighten(project.id, {}));
  ASSERT_TRUE(tightened.succeeded()) << tightened.said.value_or("");
  ASSERT_EQ(pauses().size(), 1u);
  // 2 s of pause and the synthesiser's own quiet ends, less the margins.
  EXPECT_GT(pauses()[0].durationSec(), 2.0 - 0.35);
  EXPECT_LT(pauses()[0].durationSec(), 2.0);
  EXPECT_EQ(tightened.said, "Tighten removed 1 pause (0:02)");
  EXPECT_EQ(store.loadAll().at(0).editPlan->segments.at(0).removedPauses, pauses()) << "stored";

  ASSERT_TRUE(state.undo(project.id));
  EXPECT_TRUE(pauses().empty());
  ASSERT_TRUE(state.redo(project.id));
  EXPECT_EQ(pauses().size(), 1u);
}

TEST_F(TightenCommandTest, HearsTheEnhancedSoundWhenThereIsOne) {
  // The enhanced sound (here with a longer pause) is what the edit plays, so it is what counts.
  talkWithAPause(store.projectDirectory(project.id) / "enhanced_cc_g100.m4a", 3.0, false);
  ASSERT_TRUE(state.modifyProject(project.id, [](Project& changed) {
    changed.denoisedAudioFileName = "enhanced_cc_g100.m4a";
  }));
  ASSERT_TRUE(QCoro::waitFor(state.tighten(project.id, {})).succeeded());
  ASSERT_EQ(pauses().size(), 1u);
  EXPECT_GT(pauses()[0].durationSec(), 3.0 - 0.35);
}

TEST_F(TightenCommandTest, WithoutAPlanOrASourceItFailsSayingWhyAndChangesNothing) {
  std::filesystem::remove(folder / "talk.mp4");
  const std::string record = readFile(store.projectDirectory(project.id) / "project.json");
  const CommandOutcome gone = QCoro::waitFor(state.tighten(project.id, {}));
  EXPECT_FALSE(gone.succeeded());
  EXPECT_EQ(gone.said.value_or("").rfind("Tighten failed: ", 0), 0u) << gone.said.value_or("");
  EXPECT_EQ(state.lastError(), gone.said);
  EXPECT_EQ(readFile(store.projectDirectory(project.id) / "project.json"), record);

  Project unanalysed = testing::sampleProject("Fresh", "2025-03-01T10:00:00Z");
  store.save(unanalysed);
  AppState fresh(store);
  EXPECT_EQ(QCoro::waitFor(fresh.tighten(unanalysed.id, {})).said,
            "Tighten failed: Analyze the video first.");
}

}  // namespace
}  // namespace brisklet
