#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <qcoro/qcorotask.h>

#include "app/AppState.h"
#include "app/ProjectComposition.h"
#include "model/AppSettings.h"
#include "platform/AtomicFile.h"
#include "support/FakeService.h"
#include "support/MediaGenerator.h"
#include "support/ModelAnswers.h"
#include "support/Projects.h"
#include "support/ReadOnlyFolder.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using ::testing::UnorderedElementsAre;
using testing::entriesOf;

class MusicCommandTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;

  std::filesystem::path tone(const std::string& name, double seconds) {
    testing::runFfmpeg({"-f", "lavfi", "-i", "sine=d=" + std::to_string(seconds),
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

TEST_F(MusicCommandTest, ANewBedReplacesTheOldOneOnlyOnceItIsWhole) {
  ProjectStore store(folder / "Projects");
  AppState state(store);
  const Project project = withMusic(state, tone("first.wav", 1));
  const auto projectFolder = store.projectDirectory(project.id);
  ASSERT_EQ(project.musicFileName, "music.wav");
  const std::string bed = readFile(projectFolder / "music.wav");
  const std::string record = readFile(projectFolder / "project.json");

  const auto longer = tone("longer.wav", 20);
  {
    testing::FileSizeLimit diskFull(bed.size() + 4096);
    state.setMusic(longer, project.id);
  }
  EXPECT_THAT(state.lastError().value_or(""), StartsWith("Could not add music: File too large"));
  EXPECT_EQ(readFile(projectFolder / "music.wav"), bed) << "the old bed is kept whole";
  EXPECT_EQ(readFile(projectFolder / "project.json"), record);
  EXPECT_THAT(entriesOf(projectFolder),
              UnorderedElementsAre("project.json", ".lock", "narration", "thumbs", "music.wav"));

  state.setLastError(std::nullopt);
  state.setMusic(projectFolder / "music.wav", project.id);
  EXPECT_FALSE(state.lastError());
  EXPECT_EQ(readFile(projectFolder / "music.wav"), bed) << "its own copy set again changes nothing";
  EXPECT_EQ(readFile(projectFolder / "project.json"), record);

  state.setMusic(tone("other.mp3", 2), project.id);
  EXPECT_EQ(state.project(project.id)->musicFileName, "music.mp3");
  EXPECT_FALSE(std::filesystem::exists(projectFolder / "music.wav")) << "the old kind goes";
}

TEST_F(MusicCommandTest, AFullDiskIsToldInItsOwnWords) {
  testing::SmallDisk disk(folder / "disk", 512);
  if (!disk.works()) GTEST_SKIP() << "a small file system needs root";
  ProjectStore store(folder / "disk" / "Projects");
  AppState state(store);
  const Project project = withMusic(state, tone("first.wav", 1));
  const std::string bed = readFile(store.projectDirectory(project.id) / "music.wav");
  state.setMusic(tone("longer.wav", 20), project.id);
  EXPECT_EQ(state.lastError(), "Could not add music: No space left on device.");
  EXPECT_EQ(readFile(store.projectDirectory(project.id) / "music.wav"), bed);
  EXPECT_EQ(state.project(project.id)->musicFileName, "music.wav");
}

TEST_F(MusicCommandTest, AFileWithoutSoundIsRefusedWhenItIsSet) {
  ProjectStore store(folder / "Projects");
  AppState state(store);
  const Project project = testing::sampleProject("Walk", "2025-03-01T10:00:00Z", 2);
  state.insertProject(project);
  testing::writeText(folder / "song.mp3", "this is not a song");
  testing::runFfmpeg({"-f", "lavfi", "-i", "color=gray:s=32x32:d=1", (folder / "silent.mp4").string()});

  state.setMusic(folder / "song.mp3", project.id);
  EXPECT_THAT(state.lastError().value_or(""),
              StartsWith("Could not add music: The file \u201Csong.mp3\u201D could not be read: "));
  state.setMusic(folder / "silent.mp4", project.id);
  EXPECT_EQ(state.lastError(), "Could not add music: The file \u201Csilent.mp4\u201D has no sound.");
  EXPECT_FALSE(state.project(project.id)->musicFileName);
  EXPECT_THAT(entriesOf(store.projectDirectory(project.id)),
              UnorderedElementsAre("project.json", ".lock", "narration", "thumbs"));
}

class AutoPickTest : public MusicCommandTest {
 protected:
  testing::FakeService model{"BRISKLET_ANTHROPIC_BASE_URL"};
  ProjectStore store{folder / "Projects"};
  AppState state{store};
  std::vector<std::string> prompts;  // the folder dialog's prompts, in order
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
  testing::runFfmpeg({"-f", "lavfi", "-i", "sine=d=1", "-f", "aiff", (tracks / "loop.AIFF").string()});
  testing::writeText(tracks / "notes.txt", "credits");
  const Project project = analysed();
  chosen = tracks;
  model.enqueue(picks("Theme.MP3"));

  std::vector<std::string> stages;
  QObject::connect(&state, &AppState::pipelineProgressChanged, [&] {
    if (state.pipelineProgress()) stages.push_back(state.pipelineProgress()->stageName);
  });
  EXPECT_EQ(QCoro::waitFor(state.autoPickMusic(project.id)), "Theme.MP3");
  EXPECT_FALSE(state.lastError()) << state.lastError().value_or("");
  EXPECT_EQ(prompts, std::vector<std::string>{
                         "Choose the folder that holds your royalty-free music tracks"});
  EXPECT_EQ(stages, std::vector<std::string>{"Picking music for the mood\u2026"});
  ASSERT_EQ(model.requests().size(), 1u);
  EXPECT_THAT(model.requests()[0].body,
              HasSubstr("judged by file name only):\\nTheme.MP3\\nloop.AIFF\\n\\nPick"))
      << "regular files of the sound kinds, sorted by name";
  const Project& now = *state.project(project.id);
  EXPECT_EQ(now.musicFileName, "music.MP3");
  EXPECT_EQ(readFile(store.projectDirectory(project.id) / "music.MP3"), readFile(tracks / "Theme.MP3"));
  EXPECT_EQ(compositionInputs(now, store).musicVolume, 0.25f);

  // The folder is remembered: the next pick does not ask again.
  model.enqueue(picks("loop.AIFF"));
  EXPECT_EQ(QCoro::waitFor(state.autoPickMusic(project.id)), "loop.AIFF");
  EXPECT_EQ(prompts.size(), 1u);
  EXPECT_EQ(state.project(project.id)->musicFileName, "music.AIFF");
}

TEST_F(AutoPickTest, EveryOtherOutcomeIsToldAndKeepsTheMusicThereWas) {
  const Project bare = testing::sampleProject("Bare", "2025-03-01T10:00:00Z", 0);
  state.insertProject(bare);
  const auto outcome = [&](const Uuid& id) {
    state.setLastError(std::nullopt);
    const std::optional<std::string> picked = QCoro::waitFor(state.autoPickMusic(id));
    EXPECT_FALSE(picked);
    return state.lastError().value_or("(nothing said)");
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
