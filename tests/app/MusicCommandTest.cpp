#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/AppState.h"
#include "platform/AtomicFile.h"
#include "support/MediaGenerator.h"
#include "support/Projects.h"
#include "support/ReadOnlyFolder.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

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

}  // namespace
}  // namespace brisklet
