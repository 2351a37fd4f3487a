#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSlider>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/AppState.h"
#include "app/PlayerController.h"
#include "model/ModelJson.h"
#include "platform/AtomicFile.h"
#include "platform/Bookmark.h"
#include "support/MediaGenerator.h"
#include "support/Projects.h"
#include "support/ReadOnlyFolder.h"
#include "support/TemporaryFolder.h"
#include "ui/Card.h"
#include "ui/EditActions.h"
#include "ui/Screenshots.h"
#include "ui/SegmentInspector.h"
#include "ui/Theme.h"
#include "ui/TimelineView.h"
#include "ui/TransportBar.h"

namespace brisklet {
namespace {

// The inspector beside a text-free area, over the transport bar, as the detail view holds them.
class EditingPanelsTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;
  ProjectStore store{folder / "Projects"};
  Project project;
  std::unique_ptr<AppState> state;
  std::unique_ptr<PlayerController> player;
  std::unique_ptr<QWidget> window;
  SegmentInspector* inspector = nullptr;
  TransportBar* transport = nullptr;
  TimelineView* timeline = nullptr;
  EditActions* edits = nullptr;
  QWidget* elsewhere = nullptr;

  EditingPanelsTest() {
    applyTheme(*qApp, ColorScheme::dark);
    project = testing::sampleProject("Coast", "2025-03-01T10:00:00Z");
    project.videoDurationSec = 90;
    EditPlan plan;
    Segment first = testing::segment(65.0, 72.5);
    QualityScores quality{0.82, 0.61, 0.4, 0.7, 0.35, false};
    first.quality = quality;
    first.sceneDescription = "Waves break on the rocks below the lighthouse.";
    first.keepReason = "Strong establishing shot";
    first.facePath = {{66, 0.2, 0.3, 0.1, 0.2}, {70, 0.25, 0.3, 0.1, 0.2}};
    Segment second = testing::segment(72.5, 80);
    second.activity = "Climbing the stairs";
    NarrationClip line;
    line.text = "Up we go.";
    line.audioFileName = "line.mp3";
    line.durationSec = 1.2;
    line.status = NarrationStatus::ready;
    second.narration = line;
    plan.segments = {first, second};
    plan.editorSuggestions =
        std::vector<std::string>{"Open on the lighthouse.", "Cut the long walk in the middle."};
    plan.planRevision = 1;
    project.editPlan = plan;
    project.videoBookmark =
        makeBookmark(testing::makeClockVideo(folder / "clock.mp4", 90, 64, 48, 5));
    store.save(project);
    state = std::make_unique<AppState>(store);
    player = std::make_unique<PlayerController>(store);
    player->load(project);
    EXPECT_TRUE(QTest::qWaitFor([&] { return player->isReady(); }, 10000));

    build();
  }

  // The panels are made in the colours of the scheme in force, as the application makes them.
  void build() {
    window = std::make_unique<QWidget>();
    auto* column = new QVBoxLayout(window.get());
    auto* row = new QHBoxLayout;
    elsewhere = new QWidget(window.get());
    elsewhere->setFocusPolicy(Qt::StrongFocus);
    row->addWidget(elsewhere, 1);
    inspector = new SegmentInspector(*state, project.id, window.get());
    inspector->setFixedWidth(300);
    row->addWidget(inspector);
    column->addLayout(row, 1);
    transport = new TransportBar(*state, *player, project.id, window.get());
    column->addWidget(transport);
    timeline = new TimelineView(*state, player.get(), project.id, window.get());
    column->addWidget(timeline);
    edits = new EditActions(
        *state, [this] { return std::optional(project.id); }, window.get());
    window->resize(1100, 700);
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }

  const Segment& stored(std::size_t index) const {
    return state->project(project.id)->editPlan->segments.at(index);
  }
  std::string record() const {
    return readFile(store.projectDirectory(project.id) / "project.json");
  }
  template <typename Widget>
  Widget* find(QWidget* in, const char* name) const {
    auto* found = in->findChild<Widget*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  QString text(const char* name) const { return find<QLabel>(inspector, name)->text(); }
};

TEST_F(EditingPanelsTest, TheInspectorShowsTheSegmentAndItsEditsGoToItAlone) {
  testing::saveScreenshot(*window, "inspector-notes-dark.png");
  EXPECT_NE(inspector->findChild<Card*>(), nullptr) << "the director's notes without a selection";

  state->setSelectedSegmentID(stored(0).id);
  EXPECT_EQ(text("segmentTime"), "1:05 \u2013 1:13  \u00b7  7.5s");
  bool titled = false;
  for (const QLabel* label : inspector->findChildren<QLabel*>())
    titled |= label->text() == "Segment";
  EXPECT_TRUE(titled) << "a segment without an activity";
  testing::saveScreenshot(*window, "inspector-segment-dark.png");
  // The time follows a trim, its undo and its redo.
  const Segment& first = stored(0);
  ASSERT_TRUE(state->makeEdit(project.id, SetSpan{first.id, first.startSec, first.endSec - 2.5}));
  EXPECT_EQ(text("segmentTime"), "1:05 \u2013 1:10  \u00b7  5.0s");
  ASSERT_TRUE(state->undo(project.id));
  EXPECT_EQ(text("segmentTime"), "1:05 \u2013 1:13  \u00b7  7.5s");
  ASSERT_TRUE(state->redo(project.id));
  EXPECT_EQ(text("segmentTime"), "1:05 \u2013 1:10  \u00b7  5.0s");
  ASSERT_TRUE(state->undo(project.id));

  // The first character typed creates the line, half a second in, without audio.
  QPlainTextEdit* editor = inspector->narrationEditor();
  ASSERT_NE(editor, nullptr);
  editor->setFocus();
  QTest::keyClicks(editor, "Here");
  QTest::keyClick(editor, Qt::Key_Space);
  QTest::keyClicks(editor, "we are");
  ASSERT_TRUE(stored(0).narration);
  EXPECT_EQ(stored(0).narration->text, "Here we are") << "Space typed into the editor is a space";
  QTest::keyClick(editor, Qt::Key_Tab);
  EXPECT_FALSE(editor->hasFocus()) << "Tab moves on";
  EXPECT_EQ(stored(0).narration->text, "Here we are") << "and types nothing";
  editor->setFocus();
  EXPECT_FALSE(player->isPlaying());
  EXPECT_EQ(stored(0).narration->status, NarrationStatus::pendingAudio);
  EXPECT_EQ(text("narrationStatus"), "Audio not generated yet");
  EXPECT_EQ(text("narrationOffset"), "Starts 0.5s into segment");
  QTest::mouseClick(find<QToolButton>(inspector, "offsetDown"), Qt::LeftButton);
  QTest::mouseClick(find<QToolButton>(inspector, "offsetDown"), Qt::LeftButton);
  EXPECT_EQ(stored(0).narration->startOffsetSec, 0.0);
  EXPECT_EQ(text("narrationOffset"), "Starts 0.0s into segment");

  // Switching segments loads the other line without writing it anywhere.
  const std::string before = record();
  state->setSelectedSegmentID(stored(1).id);
  EXPECT_EQ(inspector->narrationEditor()->toPlainText(), "Up we go.");
  EXPECT_EQ(record(), before);
  EXPECT_EQ(stored(0).narration->text, "Here we are");
  EXPECT_EQ(text("narrationStatus"), "Audio ready");
  inspector->narrationEditor()->setFocus();
  QTest::keyClick(inspector->narrationEditor(), Qt::Key_End, Qt::ControlModifier);
  QTest::keyClicks(inspector->narrationEditor(), "!");
  EXPECT_EQ(stored(1).narration->status, NarrationStatus::stale);
  EXPECT_EQ(text("narrationStatus"), "Text changed \u2014 regenerate audio");
  // Ctrl+Z in the editor takes the typing back everywhere; the next keystroke builds on that.
  QTest::qWait(1100);
  QTest::keyClick(inspector->narrationEditor(), Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(stored(1).narration->text, "Up we go.");
  EXPECT_EQ(inspector->narrationEditor()->toPlainText(), "Up we go.");
  EXPECT_TRUE(state->canRedo(project.id)) << "the window's undo, not the editor's own";
  QTest::keyClick(inspector->narrationEditor(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(inspector->narrationEditor()->toPlainText(), "Up we go.!");
  QTest::keyClick(inspector->narrationEditor(), Qt::Key_Z, Qt::ControlModifier);
  QTest::keyClicks(inspector->narrationEditor(), "!");
  EXPECT_EQ(stored(1).narration->text, "Up we go.!") << "no undone text comes back";

  // Keep off: overridden by the user.
  auto* keep = find<ToggleSwitch>(inspector, "keepSwitch");
  QTest::mouseClick(keep, Qt::LeftButton, {}, QPoint(keep->width() - 8, keep->height() / 2));
  EXPECT_FALSE(stored(1).keep);
  EXPECT_TRUE(stored(1).userOverrodeKeep);
  testing::saveScreenshot(*window, "inspector-narration-dark.png");

  // Ctrl+Z takes back the switch, Ctrl+Shift+Z puts it again; each is stored.
  elsewhere->setFocus();
  EXPECT_TRUE(edits->undo()->isEnabled());
  QTest::keyClick(elsewhere, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_TRUE(stored(1).keep);
  EXPECT_TRUE(edits->redo()->isEnabled());
  QTest::keyClick(elsewhere, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_FALSE(stored(1).keep);
  EXPECT_EQ(decodeProjectRecord(record()).editPlan->segments.at(1).keep, false);

  // Elsewhere, Space plays and pauses.
  elsewhere->setFocus();
  QTest::keyClick(elsewhere, Qt::Key_Space);
  EXPECT_TRUE(player->isPlaying());
  QTest::keyClick(elsewhere, Qt::Key_Space);
  EXPECT_FALSE(player->isPlaying());
  EXPECT_EQ(stored(1).narration->text, "Up we go.!");
}

TEST_F(EditingPanelsTest, ASceneWithAFaceCanBeCroppedAtTheCentreInOneUndoStep) {
  state->makeEdit(project.id, SetRemovedPauses{{{stored(0).id, {{67, 68.2}}}}});
  state->setSelectedSegmentID(stored(1).id);
  EXPECT_EQ(inspector->findChild<ToggleSwitch*>("centreCropSwitch"), nullptr)
      << "no face, nothing to choose";
  state->setSelectedSegmentID(stored(0).id);
  auto* centre = find<ToggleSwitch>(inspector, "centreCropSwitch");
  EXPECT_FALSE(centre->isChecked());
  const auto captionShows = [&](const char* words) {
    const auto labels = inspector->findChildren<QLabel*>();
    return std::any_of(labels.begin(), labels.end(),
                       [&](QLabel* label) { return label->text() == words; });
  };
  EXPECT_TRUE(captionShows("Vertical and square crops follow the face in this scene."));
  EXPECT_EQ(find<QLabel>(inspector, "segmentTime")->text(),
            "1:05 \u2013 1:13  \u00b7  7.5s  \u00b7  1.2s in 1 pause removed")
      << "the time Tighten took out";
  QTest::mouseClick(centre, Qt::LeftButton, {}, QPoint(centre->width() - 8, centre->height() / 2));
  EXPECT_TRUE(stored(0).centredCrop);
  EXPECT_TRUE(decodeProjectRecord(record()).editPlan->segments.at(0).centredCrop);
  EXPECT_TRUE(captionShows("Vertical and square crops take the middle of the picture."));
  testing::saveScreenshot(*window, "inspector-crop-dark.png");
  edits->undo()->trigger();
  EXPECT_FALSE(stored(0).centredCrop);
  EXPECT_FALSE(find<ToggleSwitch>(inspector, "centreCropSwitch")->isChecked());
}

TEST_F(EditingPanelsTest, AnEditThatCannotBeSavedLeavesEveryViewShowingTheRecord) {
  state->setSelectedSegmentID(stored(0).id);
  auto* keep = find<ToggleSwitch>(inspector, "keepSwitch");
  ASSERT_TRUE(keep->isChecked());
  testing::ReadOnlyFolder readOnly(store.root());
  if (!readOnly.works()) GTEST_SKIP() << "no way to make a folder read-only here";
  QTest::mouseClick(keep, Qt::LeftButton, {}, QPoint(keep->width() - 8, keep->height() / 2));
  EXPECT_TRUE(state->lastError()) << "the refusal is told";
  EXPECT_TRUE(stored(0).keep);
  EXPECT_TRUE(keep->isChecked()) << "the switch shows what is stored, not what was asked";
}

TEST_F(EditingPanelsTest, TheTransportShowsTheSettingsAndTheAudioPopoverAppliesOnlyAChange) {
  auto* aspect = find<QToolButton>(transport, "aspectMenu");
  EXPECT_EQ(aspect->text(), "Aspect");
  state->modifyProject(project.id, [](Project& stored) {
    stored.aspectRatioRaw = "21:9";
    stored.audioGainPercent = 100.4;
  });
  EXPECT_EQ(aspect->text(), "Aspect") << "an unknown ratio shows as original";
  EXPECT_EQ(find<QToolButton>(transport, "audioButton")->text(), "");
  state->modifyProject(project.id, [](Project& stored) { stored.audioGainPercent = 101; });
  EXPECT_EQ(find<QToolButton>(transport, "audioButton")->text(), "101%");
  state->modifyProject(project.id, [](Project& stored) { stored.audioGainPercent.reset(); });

  QTest::mouseClick(find<QToolButton>(transport, "audioButton"), Qt::LeftButton);
  QWidget* popover = transport->audioPopover();
  ASSERT_NE(popover, nullptr);
  auto* apply = find<NeuButton>(popover, "applyAudio");
  auto* boost = find<QSlider>(popover, "volumeBoost");
  EXPECT_FALSE(apply->isEnabled()) << "nothing differs from the stored settings";
  auto* loudness = find<QComboBox>(popover, "loudness");
  EXPECT_EQ(loudness->currentText(), "Streaming (\u221214 LUFS)") << "the default";
  QTest::keyClick(loudness, Qt::Key_Down);
  EXPECT_EQ(state->project(project.id)->loudnessRaw, "-16") << "stored at once";
  EXPECT_FALSE(apply->isEnabled()) << "the loudness is not part of Apply";
  boost->setValue(21);  // 105 %
  EXPECT_TRUE(apply->isEnabled());
  testing::saveScreenshot(*popover, "transport-audio-popover-dark.png");
  boost->setValue(20);
  EXPECT_FALSE(apply->isEnabled());
  popover->close();
  // A gain off the slider's 5 % grid, as brisklet-cli stores it, is no change until moved.
  state->modifyProject(project.id, [](Project& stored) { stored.audioGainPercent = 137; });
  QTest::mouseClick(find<QToolButton>(transport, "audioButton"), Qt::LeftButton);
  ASSERT_NE(transport->audioPopover(), nullptr);
  EXPECT_FALSE(find<NeuButton>(transport->audioPopover(), "applyAudio")->isEnabled());
  transport->audioPopover()->close();

  // Transition and framing from their menus; each an undo step.
  auto* transition = find<QToolButton>(transport, "transitionMenu");
  transition->menu()->actions().back()->trigger();
  EXPECT_EQ(state->project(project.id)->transitionStyleRaw, "dipToBlack");
  aspect->menu()->actions().at(3)->trigger();  // after the section: 9:16
  EXPECT_EQ(aspect->text(), "9:16");
  EXPECT_TRUE(state->undo(project.id));
  EXPECT_EQ(aspect->text(), "Aspect");

  // Music: chosen by hand, then its volume, 25 % until set.
  transport->setMusicFileChooser([] { return std::nullopt; });
  QTest::mouseClick(find<QToolButton>(transport, "musicButton"), Qt::LeftButton);
  ASSERT_NE(transport->musicPopover(), nullptr);
  testing::saveScreenshot(*transport->musicPopover(), "transport-music-popover-dark.png");
  transport->musicPopover()->close();
  state->modifyProject(project.id, [](Project& stored) { stored.musicFileName = "music.mp3"; });
  QTest::mouseClick(find<QToolButton>(transport, "musicButton"), Qt::LeftButton);
  ASSERT_NE(transport->musicPopover(), nullptr);
  EXPECT_EQ(find<QLabel>(transport->musicPopover(), "musicVolumeValue")->text(), "25%");
  find<QSlider>(transport->musicPopover(), "musicVolume")->setValue(8);
  EXPECT_EQ(state->project(project.id)->musicVolumePercent, 40);
  transport->musicPopover()->close();

  for (const auto scheme : {ColorScheme::dark, ColorScheme::light}) {
    applyTheme(*qApp, scheme);
    build();
    const std::string name = scheme == ColorScheme::dark ? "dark" : "light";
    for (const QSize size : {QSize(1100, 700), QSize(1920, 1080)}) {
      window->resize(size);
      state->setSelectedSegmentID(stored(size.width() > 1100 ? 1 : 0).id);
      QTest::qWait(10);
      testing::saveScreenshot(
          *window, "editing-panels-" + name + "-" + std::to_string(size.width()) + ".png");
    }
    QTest::mouseClick(find<QToolButton>(transport, "audioButton"), Qt::LeftButton);
    testing::saveScreenshot(*transport->audioPopover(), "transport-audio-popover-" + name + ".png");
    transport->audioPopover()->close();
    QTest::mouseClick(find<QToolButton>(transport, "musicButton"), Qt::LeftButton);
    testing::saveScreenshot(*transport->musicPopover(), "transport-music-popover-" + name + ".png");
    transport->musicPopover()->close();
  }
}

}  // namespace
}  // namespace brisklet
