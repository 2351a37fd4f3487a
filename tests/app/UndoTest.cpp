#include <gtest/gtest.h>

#include <QSignalSpy>
#include <random>
#include <sstream>

#include "app/AppState.h"
#include "model/NarrationFile.h"
#include "platform/AtomicFile.h"
#include "support/Projects.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

// Eight touching segments of 2.5 s over 80 s, each with a narration line.
Project ridgeWalk() {
  Project project = testing::sampleProject("Ridge walk", "2025-03-01T10:00:00Z", 8);
  for (Segment& segment : project.editPlan->segments)
    if (!segment.narration) segment = testing::narrated(segment, "Line of " + segment.id.text());
  return project;
}

class UndoTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;
  ProjectStore store{folder / "Projects"};
  Project project = ridgeWalk();
  double now = 0;
  std::unique_ptr<AppState> state;

  UndoTest() {
    store.save(project);
    state = std::make_unique<AppState>(store);
    state->setEditClock([this] { return now; });
  }

  Project stored() const { return store.loadAll().front(); }
  const Segment& segmentAt(std::size_t index) const {
    return state->project(project.id)->editPlan->segments.at(index);
  }
  // What another process (brisklet-cli) or a command stores meanwhile.
  void storeElsewhere(const std::function<void(Project&)>& change) {
    store.modify(project.id, [&](Project& record) {
      change(record);
      return true;
    });
  }
};

// Everything but the revision, which an undo moves on too.
std::string withoutRevision(Project project) {
  if (project.editPlan) project.editPlan->planRevision = 0;
  std::ostringstream text;
  for (const Segment& segment : project.editPlan->segments)
    text << segment.keep << segment.userOverrodeKeep << ' ' << segment.startSec << ' '
         << segment.endSec << ' ' << (segment.narration ? segment.narration->text : "-") << '|';
  text << project.aspectRatioRaw.value_or("-") << '|' << project.transitionStyleRaw.value_or("-")
       << '|' << project.musicVolumePercent.value_or(-1);
  return text.str();
}

TEST_F(UndoTest, AnEditAfterACommandOrAnotherProcessUndoesOnlyItselfAndTheRevisionGrows) {
  // Trim, then the narration command stores the segment's audio: undoing the trim keeps it.
  const Segment first = segmentAt(0);
  ASSERT_TRUE(state->makeEdit(project.id, SetSpan{first.id, first.startSec, first.endSec - 1}));
  storeElsewhere([&](Project& record) {
    NarrationClip& clip = *record.editPlan->segments[0].narration;
    clip.audioFileName = narrationFileName(first.id, clip.text);
    clip.durationSec = 1.25;
    clip.status = NarrationStatus::ready;
  });
  const std::int64_t revision = stored().editPlan->planRevision;
  ASSERT_TRUE(state->undo(project.id));
  EXPECT_EQ(stored().editPlan->segments[0].endSec, first.endSec);
  EXPECT_EQ(stored().editPlan->segments[0].narration->status, NarrationStatus::ready)
      << "the command's result stays";
  EXPECT_EQ(stored().editPlan->segments[0].narration->durationSec, 1.25);
  EXPECT_EQ(stored().editPlan->planRevision, revision + 1) << "an undo counts on, never back";

  // brisklet-cli sets the line; the window's keep switch leaves it alone.
  storeElsewhere([&](Project& record) {
    applyEdit(SetNarrationText{first.id, "Changed by the CLI."}, record);
  });
  ASSERT_TRUE(state->makeEdit(project.id, SetKeep{first.id, false}));
  EXPECT_EQ(stored().editPlan->segments[0].narration->text, "Changed by the CLI.");
  // brisklet-cli trims segment 1; undoing the window's keep leaves the trim alone.
  const Segment second = segmentAt(1);
  storeElsewhere([&](Project& record) {
    applyEdit(SetSpan{second.id, second.startSec + 0.5, second.endSec}, record);
  });
  ASSERT_TRUE(state->undo(project.id));
  EXPECT_TRUE(stored().editPlan->segments[0].keep);
  EXPECT_EQ(stored().editPlan->segments[1].startSec, second.startSec + 0.5);
  EXPECT_EQ(state->project(project.id)->editPlan->segments[1].startSec, second.startSec + 0.5)
      << "the window shows the record as stored";
}

TEST_F(UndoTest, AStepWhoseSegmentIsGoneIsDroppedAndSaysSo) {
  const Segment third = segmentAt(2);
  ASSERT_TRUE(state->makeEdit(project.id, SetKeep{third.id, false}));
  ASSERT_TRUE(state->makeEdit(project.id, SetAspectRatio{"1:1"}));
  // A new analysis elsewhere leaves a plan without that segment.
  storeElsewhere([&](Project& record) {
    std::erase_if(record.editPlan->segments,
                  [&](const Segment& each) { return each.id == third.id; });
  });
  ASSERT_TRUE(state->undo(project.id));
  EXPECT_FALSE(stored().aspectRatioRaw);
  const std::string before = readFile(store.projectDirectory(project.id) / "project.json");
  EXPECT_FALSE(state->undo(project.id));
  EXPECT_EQ(state->lastError(), "Could not undo: That segment is no longer in the plan.");
  EXPECT_EQ(readFile(store.projectDirectory(project.id) / "project.json"), before);
  EXPECT_FALSE(state->canUndo(project.id)) << "dropped, not tried again";
}

// Two hundred random edits, undos and redos in the window, among edits of another process (the
// keeps of segments 4–7 and the transition) and command results (narration audio, enhanced
// sound). After every step the window's own edits are exactly what its history says, and
// whatever the others stored is still there.
TEST_F(UndoTest, TwoHundredEditsUndosAndRedosAmongOtherWritersLoseNothing) {
  ProjectStore otherStore{folder / "Projects"};
  AppState other(otherStore);
  std::mt19937 random(11);
  const auto pick = [&](int count) {
    return std::uniform_int_distribution<int>(0, count - 1)(random);
  };
  // The window's own part (segments 0–3, aspect, music volume) as its history says it is.
  const auto ownPart = [](const Project& record) {
    std::ostringstream text;
    for (std::size_t index = 0; index < 4; ++index) {
      const Segment& segment = record.editPlan->segments[index];
      text << segment.keep << segment.userOverrodeKeep << ' ' << segment.startSec << ' '
           << segment.endSec << ' ' << segment.narration->text << '|';
    }
    text << record.aspectRatioRaw.value_or("-") << '|' << record.musicVolumePercent.value_or(-1);
    return text.str();
  };
  std::vector<std::string> done = {ownPart(stored())};
  std::vector<std::string> undone;
  std::map<std::size_t, bool> otherKeeps;
  std::optional<std::string> otherTransition;
  std::map<std::size_t, std::string> spoken;
  std::optional<std::string> enhanced;
  std::int64_t revision = stored().editPlan->planRevision;

  for (int step = 0; step < 200; ++step) {
    const std::size_t mine = static_cast<std::size_t>(pick(4));
    const Segment segment = segmentAt(mine);
    std::optional<Edit> edit;
    switch (pick(10)) {
      case 0:
        edit = SetKeep{segment.id, pick(2) == 0};
        break;
      case 1: {
        const TrimEdge edge = pick(2) == 0 ? TrimEdge::leading : TrimEdge::trailing;
        const double at = edge == TrimEdge::leading ? segment.startSec : segment.endSec;
        edit = *draggedSpan(*state->project(project.id), segment, edge, at + 0.2 * (pick(11) - 5));
        break;
      }
      case 2:
        edit = SetNarrationText{segment.id, "Line " + std::to_string(pick(50))};
        break;
      case 3:
        edit = SetAspectRatio{
            std::string(rawValue(kAllAspectRatios[static_cast<std::size_t>(pick(5))]))};
        break;
      case 4:
        edit = SetMusicVolume{5.0 * (1 + pick(12))};
        break;
      case 5:
        if (state->undo(project.id)) {
          undone.push_back(done.back());
          done.pop_back();
        }
        break;
      case 6:
        if (state->redo(project.id)) {
          done.push_back(undone.back());
          undone.pop_back();
        }
        break;
      case 7:
        if (pick(2) == 0) {
          const std::size_t theirs = 4 + static_cast<std::size_t>(pick(4));
          otherKeeps[theirs] = pick(2) == 0;
          other.makeEdit(project.id,
                         SetKeep{stored().editPlan->segments[theirs].id, otherKeeps[theirs]});
        } else {
          otherTransition = pick(2) == 0 ? "dipToBlack" : "none";
          other.makeEdit(project.id, SetTransition{otherTransition});
        }
        break;
      case 8: {
        const std::size_t voiced = static_cast<std::size_t>(pick(8));
        state->modifyProject(project.id, [&](Project& record) {
          Segment& line = record.editPlan->segments[voiced];
          line.narration->audioFileName = spoken[voiced] =
              narrationFileName(line.id, line.narration->text);
          line.narration->durationSec = 1.5;
          line.narration->status = NarrationStatus::ready;
          record.editPlan->planRevision += 1;
        });
        break;
      }
      default:
        enhanced = "enhanced-" + std::to_string(step) + ".m4a";
        state->modifyProject(project.id,
                             [&](Project& record) { record.denoisedAudioFileName = enhanced; });
    }
    if (edit && state->makeEdit(project.id, *edit)) {
      done.push_back(ownPart(stored()));
      undone.clear();
    }
    const Project record = stored();
    ASSERT_EQ(ownPart(record), done.back()) << "step " << step;
    for (const auto& [index, keep] : otherKeeps)
      ASSERT_EQ(record.editPlan->segments[index].keep, keep) << "step " << step;
    ASSERT_EQ(record.transitionStyleRaw, otherTransition) << "step " << step;
    for (const auto& [index, file] : spoken)
      ASSERT_EQ(record.editPlan->segments[index].narration->audioFileName, file) << "step " << step;
    ASSERT_EQ(record.denoisedAudioFileName, enhanced) << "step " << step;
    ASSERT_GE(record.editPlan->planRevision, revision) << "step " << step;
    revision = record.editPlan->planRevision;
  }
}

TEST_F(UndoTest, TypingIsOneStepPerPauseAndANewEditDropsTheRedos) {
  QSignalSpy history(state.get(), &AppState::historyChanged);
  const Project before = stored();
  const Uuid id = segmentAt(1).id;
  std::string typed = segmentAt(1).narration->text;
  for (const double at : {10.0, 10.3, 10.9, 12.5, 12.7}) {
    now = at;
    typed += "a";
    state->makeEdit(project.id, SetNarrationText{id, typed}, {"narration-1", true});
  }
  EXPECT_GE(history.count(), 2);
  ASSERT_TRUE(state->undo(project.id));  // the typing after the pause
  EXPECT_EQ(stored().editPlan->segments[1].narration->text, typed.substr(0, typed.size() - 2));
  ASSERT_TRUE(state->undo(project.id));  // the typing before it
  EXPECT_EQ(withoutRevision(stored()), withoutRevision(before));
  EXPECT_FALSE(state->canUndo(project.id));

  ASSERT_TRUE(state->redo(project.id));
  EXPECT_EQ(stored().editPlan->segments[1].narration->text, typed.substr(0, typed.size() - 2));
  state->setTransition(TransitionStyle::dipToBlack, project.id);
  EXPECT_FALSE(state->canRedo(project.id)) << "a new edit drops what could be redone";

  // Typing in two showings of the line, without a pause between: two gestures, two steps.
  for (const std::string& line : {"First showing.", "Second showing."})
    state->makeEdit(project.id, SetNarrationText{id, line}, EditGesture::fresh("narration", true));
  ASSERT_TRUE(state->undo(project.id));
  EXPECT_EQ(stored().editPlan->segments[1].narration->text, "First showing.");
}

}  // namespace
}  // namespace brisklet
