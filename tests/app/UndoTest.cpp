#include <gtest/gtest.h>

#include <QSignalSpy>
#include <random>

#include "app/AppState.h"
#include "platform/AtomicFile.h"
#include "support/Projects.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

class UndoTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;
  ProjectStore store{folder / "Projects"};
  Project project = testing::sampleProject("Ridge walk", "2025-03-01T10:00:00Z", 8);
  double now = 0;
  std::unique_ptr<AppState> state;

  UndoTest() {
    store.save(project);
    state = std::make_unique<AppState>(store);
    state->setEditClock([this] { return now; });
  }

  std::string record() const { return readFile(store.projectDirectory(project.id) / "project.json"); }
  const Segment& segmentAt(std::size_t index) const {
    return state->project(project.id)->editPlan->segments.at(index);
  }
};

TEST_F(UndoTest, ThirtyRandomEditsUndoneGiveTheRecordBackByteForByteAndRedoneTheLastOne) {
  std::vector<std::string> saved = {record()};
  std::mt19937 random(5);
  const auto pick = [&](int count) { return std::uniform_int_distribution<int>(0, count - 1)(random); };
  while (saved.size() <= 30) {
    const std::size_t index = static_cast<std::size_t>(pick(8));
    Segment segment = segmentAt(index);
    switch (pick(7)) {
      case 0:
        segment.keep = !segment.keep;
        segment.userOverrodeKeep = true;
        state->updateSegment(segment, project.id);
        break;
      case 1:
        segment.endSec -= 0.1 * (1 + pick(5));
        state->updateSegment(segment, project.id);
        break;
      case 2:
        if (const auto typed = committingNarrationText(segment, "Line " + std::to_string(pick(100))))
          state->updateSegment(*typed, project.id);
        break;
      case 3:
        if (!segment.narration) continue;
        segment.narration->startOffsetSec += 0.5;
        state->updateSegment(segment, project.id);
        break;
      case 4:
        state->setAspectRatio(kAllAspectRatios[static_cast<std::size_t>(pick(5))], project.id);
        break;
      case 5:
        state->setTransition(kAllTransitionStyles[static_cast<std::size_t>(pick(2))], project.id);
        break;
      default:
        state->setMusicVolume(5.0 * (1 + pick(12)), project.id);
    }
    // Edits one second apart: each is a step of its own.
    now += 1;
    if (record() != saved.back()) saved.push_back(record());
  }
  for (std::size_t step = 30; step > 0; --step) {
    ASSERT_TRUE(state->undo(project.id)) << step;
    ASSERT_EQ(record(), saved[step - 1]) << "stored at once, step " << step;
  }
  EXPECT_FALSE(state->canUndo(project.id));
  EXPECT_FALSE(state->undo(project.id));
  for (std::size_t step = 1; step <= 30; ++step) {
    ASSERT_TRUE(state->redo(project.id)) << step;
    ASSERT_EQ(record(), saved[step]) << step;
  }
  EXPECT_FALSE(state->redo(project.id));
}

TEST_F(UndoTest, ADragIsOneStepAndTypingOneStepPerPause) {
  QSignalSpy history(state.get(), &AppState::historyChanged);
  const std::string before = record();
  Segment trimmed = segmentAt(2);
  for (int move = 1; move <= 5; ++move) {
    trimmed.endSec -= 0.1;
    state->updateSegment(trimmed, project.id, {"trim-1"});
    now += 0.5;
  }
  EXPECT_GE(history.count(), 1);
  const std::string trimmedRecord = record();

  Segment typed = segmentAt(1);
  for (const double at : {10.0, 10.3, 10.9, 12.5, 12.7}) {
    now = at;
    typed = *committingNarrationText(typed, typed.narration ? typed.narration->text + "a" : "a");
    state->updateSegment(typed, project.id, {"narration-1", true});
  }
  const std::string typedRecord = record();

  ASSERT_TRUE(state->undo(project.id));  // the typing after the pause
  EXPECT_EQ(segmentAt(1).narration->text, typed.narration->text.substr(0, typed.narration->text.size() - 2));
  ASSERT_TRUE(state->undo(project.id));  // the typing before it
  EXPECT_EQ(record(), trimmedRecord);
  ASSERT_TRUE(state->undo(project.id));  // the whole drag
  EXPECT_EQ(record(), before);
  EXPECT_FALSE(state->canUndo(project.id));

  ASSERT_TRUE(state->redo(project.id));
  EXPECT_EQ(record(), trimmedRecord);
  // A new edit drops what could be redone.
  state->setTransition(TransitionStyle::dipToBlack, project.id);
  EXPECT_FALSE(state->canRedo(project.id));
  EXPECT_NE(record(), typedRecord);
}

}  // namespace
}  // namespace brisklet
