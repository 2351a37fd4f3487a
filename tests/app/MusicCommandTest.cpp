#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>

#include "app/AppState.h"
#include "app/ProjectComposition.h"
#include "model/AppSettings.h"
#include "platform/AtomicFile.h"
#include "platform/Bookmark.h"
#include "support/FakeService.h"
#include "support/MediaGenerator.h"
#include "support/ModelAnswers.h"
#include "support/MovieSound.h"
#include "support/Projects.h"
#include "support/ReadOnlyFolder.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

using testing::entriesOf;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using ::testing::UnorderedElementsAre;

class MusicCommandTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;

  std::filesystem::path tone(const std::string& name, double seconds, int hertz = 440) {
    testing::runFfmpeg({"-f", "lavfi", "-i",
                        "sine=f=" + std::to_string(hertz) + ":d=" + std::to_string(seconds),
                        (folder / name).string()});
    return folder / name;
  }

  // A new project of `state`, with a plan and `bed` as its music.
  static Project withMusic(AppState& state, const std::filesystem::path& bed) {
    const Project project = testing::sampleProject("Walk", "2025-03-01T10:00:00Z", 2);
    state.insertProject(project);
    state.setMusic(bed, project.id);
    return *state.project(project.id);
  }
};

TEST_F(MusicCommandTest, ABedIsCopiedWholeUnderTheNameOfItsContentAndEarlierOnesStayForUndo) {
  ProjectStore store(folder / "Projects");
  AppState state(store);
  const auto first = tone("first.wav", 1);
  const Project project = withMusic(state, first);
  const auto projectFolder = store.projectDirectory(project.id);
  const std::string firstBed = ProjectStore::musicBedName(first);
  EXPECT_THAT(firstBed, ::testing::MatchesRegex("music-[0-9a-f]{16}\\.wav"));
  ASSERT_EQ(project.musicFileName, firstBed);
  EXPECT_EQ(project.musicVolumePercent, 25);
  const std::string bed = readFile(projectFolder / firstBed);
  const std::string record = readFile(projectFolder / "project.json");

  const auto longer = tone("longer.wav", 20);
  {
    testing::FileSizeLimit diskFull(bed.size() + 4096);
    state.setMusic(longer, project.id);
  }
  EXPECT_THAT(state.lastError().value_or(""), StartsWith("Could not add music: File too large"));
  EXPECT_EQ(readFile(projectFolder / "project.json"), record);
  EXPECT_THAT(entriesOf(projectFolder),
              UnorderedElementsAre("project.json", ".lock", "narration", "thumbs", firstBed));

  state.setLastError(std::nullopt);
  state.setMusic(projectFolder / firstBed, project.id);
  EXPECT_FALSE(state.lastError());
  EXPECT_EQ(readFile(projectFolder / "project.json"), record)
      << "its own copy again changes nothing";

  const auto second = tone("other.mp3", 2, 880);
  state.setMusic(second, project.id);
  const std::string secondBed = ProjectStore::musicBedName(second);
  EXPECT_EQ(state.project(project.id)->musicFileName, secondBed);
  EXPECT_EQ(readFile(projectFolder / firstBed), bed) << "kept: an undo brings it back";
  ASSERT_TRUE(state.undo(project.id));
  EXPECT_EQ(state.project(project.id)->musicFileName, firstBed);
  ASSERT_TRUE(state.redo(project.id));
  EXPECT_EQ(state.project(project.id)->musicFileName, secondBed);

  // The next start removes what no record names.
  store.sweepUnnamedMusic(store.loadAll());
  EXPECT_THAT(entriesOf(projectFolder),
              UnorderedElementsAre("project.json", ".lock", "narration", "thumbs", secondBed));
}

// The export after an undo of a music change plays the first bed, after the redo the second.
TEST_F(MusicCommandTest, UndoAndRedoOfTheMusicBringBackItsSound) {
  ProjectStore store(folder / "Projects");
  const auto video = testing::makeClockVideo(folder / "walk.mp4", 3.0, 96, 54);
  Project project = makeProject("Walk", makeBookmark(video), 3.0);
  project.editPlan = EditPlan{};
  project.editPlan->segments = {testing::segment(0, 3, true)};
  store.save(project);
  AppState state(store);
  state.setFileRevealer([](const std::filesystem::path&) {});
  state.setMusic(tone("low.wav", 4, 440), project.id);
  state.setMusic(tone("high.wav", 4, 880), project.id);
  const auto exported = [&](const std::string& name) {
    QCoro::waitFor(state.exportProject(project.id, folder / name));
    EXPECT_FALSE(state.lastError()) << state.lastError().value_or("");
    const std::vector<float> sound = testing::soundOf(folder / name);
    return std::pair(testing::toneLevel(sound, 440, 1.0, 0.5),
                     testing::toneLevel(sound, 880, 1.0, 0.5));
  };
  ASSERT_TRUE(state.undo(project.id));
  const auto [lowAfterUndo, highAfterUndo] = exported("undone.mp4");
  EXPECT_GT(lowAfterUndo, 0.01);
  EXPECT_GT(lowAfterUndo, 10 * highAfterUndo) << "the first bed plays";
  ASSERT_TRUE(state.redo(project.id));
  const auto [lowAfterRedo, highAfterRedo] = exported("redone.mp4");
  EXPECT_GT(highAfterRedo, 10 * lowAfterRedo) << "the second bed plays";
}

TEST_F(MusicCommandTest, AFullDiskIsToldInItsOwnWords) {
  testing::SmallDisk disk(folder / "disk", 512);
  if (!disk.works()) GTEST_SKIP() << "a small file system needs root";
  ProjectStore store(folder / "disk" / "Projects");
  AppState state(store);
  const auto first = tone("first.wav", 1);
  const Project project = withMusic(state, first);
  state.setMusic(tone("longer.wav", 20), project.id);
  EXPECT_EQ(state.lastError(), "Could not add music: No space left on device.");
  EXPECT_EQ(state.project(project.id)->musicFileName, ProjectStore::musicBedName(first));
  EXPECT_THAT(entriesOf(store.projectDirectory(project.id)),
              UnorderedElementsAre("project.json", ".lock", "narration", "thumbs",
                                   ProjectStore::musicBedName(first)));
}

TEST_F(MusicCommandTest, AFileWithoutSoundIsRefusedWhenItIsSet) {
  ProjectStore store(folder / "Projects");
  AppState state(store);
  const Project project = testing::sampleProject("Walk", "2025-03-01T10:00:00Z", 2);
  state.insertProject(project);
  testing::writeText(folder / "song.mp3", "this is not a song");
  testing::runFfmpeg(
      {"-f", "lavfi", "-i", "color=gray:s=32x32:d=1", (folder / "silent.mp4").string()});

  const EditResult unreadable = state.setMusic(folder / "song.mp3", project.id);
  EXPECT_FALSE(unreadable);
  EXPECT_THAT(unreadable.failure.value_or(""),
              StartsWith("Could not add music: The file \u201Csong.mp3\u201D could not be read: "));
  EXPECT_EQ(state.lastError(), unreadable.failure);
  EXPECT_EQ(state.setMusic(folder / "silent.mp4", project.id).failure,
            "Could not add music: The file \u201Csilent.mp4\u201D has no sound.");
  EXPECT_FALSE(state.project(project.id)->musicFileName);
  EXPECT_THAT(entriesOf(store.projectDirectory(project.id)),
              UnorderedElementsAre("project.json", ".lock", "narration", "thumbs"));
}

class AutoPickTest : public MusicCommandTest {
 protected:
  testing::FakeService model{"BRISKLET_ANTHROPIC_BASE_URL"};
  ProjectStore store{folder / "Projects"};
  AppState state{store};
  std::vector<std::string> prompts;             // the folder dialog's prompts, in order
  std::optional<std::filesystem::path> chosen;  // what the dialog answers

  AutoPickTest() {
    AppSettings::setMusicFolderBookmark(std::nullopt);
    state.setKeySource([](KeychainStore::Key) { return std::string("sk-test"); });
    state.setFolderChooser([this](const std::string& prompt) {
      prompts.push_back(prompt);
      return chosen;
    });
  }

  Project analysed() {
    Project project = testing::sampleProject("Walk", "2025-03-01T10:00:00Z", 2);
    state.insertProject(project);
    return project;
  }

  static testing::ScriptedResponse picks(const std::string& name) {
    return testing::modelAnswer(nlohmann::json{{"file_name", name}, {"why", "upbeat"}}.dump());
  }
};

TEST_F(AutoPickTest, TheModelChoosesAmongTheFoldersTracksAndTheCopyPlaysAtAQuarter) {
  const auto tracks = folder / "Tracks";
  std::filesystem::create_directories(tracks / "dir.mp3");
  testing::runFfmpeg({"-f", "lavfi", "-i", "sine=d=2", (tracks / "Theme.MP3").string()});
  testing::runFfmpeg(
      {"-f", "lavfi", "-i", "sine=d=1", "-f", "aiff", (tracks / "loop.AIFF").string()});
  testing::writeText(tracks / "notes.txt", "credits");
  const Project project = analysed();
  chosen = tracks;
  model.enqueue(picks("Theme.MP3"));

  std::vector<std::string> stages;
  QObject::connect(&state, &AppState::pipelineProgressChanged, [&] {
    if (state.pipelineProgress()) stages.push_back(state.pipelineProgress()->stageName);
  });
  EXPECT_EQ(QCoro::waitFor(state.autoPickMusic(project.id)).chosen, "Theme.MP3");
  EXPECT_FALSE(state.lastError()) << state.lastError().value_or("");
  EXPECT_EQ(prompts, std::vector<std::string>{
                         "Choose the folder that holds your royalty-free music tracks"});
  EXPECT_EQ(stages, std::vector<std::string>{"Picking music for the mood\u2026"});
  ASSERT_EQ(model.requests().size(), 1u);
  EXPECT_THAT(model.requests()[0].body,
              HasSubstr("judged by file name only):\\nTheme.MP3\\nloop.AIFF\\n\\nPick"))
      << "regular files of the sound kinds, sorted by name";
  const Project& now = *state.project(project.id);
  ASSERT_TRUE(now.musicFileName);
  EXPECT_EQ(readFile(store.projectDirectory(project.id) / *now.musicFileName),
            readFile(tracks / "Theme.MP3"));
  EXPECT_EQ(compositionInputs(now, store).musicVolume, 0.25f);

  // The folder is remembered: the next pick does not ask again.
  model.enqueue(picks("loop.AIFF"));
  EXPECT_EQ(QCoro::waitFor(state.autoPickMusic(project.id)).chosen, "loop.AIFF");
  EXPECT_EQ(prompts.size(), 1u);
  EXPECT_EQ(state.project(project.id)->musicFileName,
            ProjectStore::musicBedName(tracks / "loop.AIFF"));
}

TEST_F(AutoPickTest, EveryOtherOutcomeIsToldAndKeepsTheMusicThereWas) {
  const Project bare = testing::sampleProject("Bare", "2025-03-01T10:00:00Z", 0);
  state.insertProject(bare);
  const auto outcome = [&](const Uuid& id) {
    state.setLastError(std::nullopt);
    const CommandOutcome picked = QCoro::waitFor(state.autoPickMusic(id));
    EXPECT_FALSE(picked.succeeded());
    EXPECT_FALSE(picked.chosen);
    EXPECT_EQ(picked.said, state.lastError()) << "the outcome carries what the status line says";
    return picked.said.value_or("(nothing said)");
  };
  EXPECT_EQ(outcome(bare.id), "Analyze the video first so I know its mood.");
  const Project project = analysed();
  state.setKeySource([](KeychainStore::Key) { return std::nullopt; });
  EXPECT_EQ(outcome(project.id), "Add your Anthropic API key in Settings first.");
  state.setKeySource([](KeychainStore::Key) { return std::string("sk-test"); });
  EXPECT_EQ(outcome(project.id), "(nothing said)") << "the folder dialog was cancelled";
  EXPECT_EQ(prompts.size(), 1u);

  chosen = folder / "Empty";
  std::filesystem::create_directories(*chosen / "dir.mp3");
  EXPECT_EQ(outcome(project.id),
            "No audio files found in Empty. Drop some royalty-free tracks in there first.");
  EXPECT_TRUE(model.requests().empty());

  tone("Empty/Theme.mp3", 1);
  model.enqueue(picks("theme.mp3"));
  EXPECT_EQ(outcome(project.id), "None of the tracks felt right for this vlog. Pick one manually?");
  model.enqueue({.status = 400, .body = R"({"error":{"message":"bad model"}})"});
  EXPECT_EQ(outcome(project.id), "Music picking failed: Claude API error (400): bad model");
  EXPECT_FALSE(state.project(project.id)->musicFileName);
  EXPECT_FALSE(state.pipelineProgress());
}

}  // namespace
}  // namespace brisklet
